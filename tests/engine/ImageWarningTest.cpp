// What the libraries say about a damaged file reaches the image's result as
// one line: a warning beside a thumbnail written all the same, or the reason
// one was not.

#include <ostream>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "codec/Surface.h"
#include "engine/ProcessImage.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

QByteArray JpegOf(const QImage& image)
{
    return test::JpegWithOrientation(image, 1);
}

struct DamageCase {
    const char* Name;
    const char* File;
    QByteArray (*Bytes)();
    bool Fast;              // --fast: the reduced JPEG decode
    bool Written;
    const char* Words;      // in the warning when written, else in the reason; "" for no warning
};

std::ostream& operator<<(std::ostream& os, const DamageCase& c) { return os << c.Name; }

class DamagedFiles : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFiles, TellWhatTheLibrarySaidInOneLine)
{
    const DamageCase& c = GetParam();
    QTemporaryDir root;
    const QString source = root.filePath("in");
    const QString destination = root.filePath("out");
    ASSERT_TRUE(QDir().mkdir(source) && QDir().mkdir(destination));
    const QByteArray bytes = c.Bytes();
    ASSERT_FALSE(bytes.isEmpty());
    QFile file(source + "/" + c.File);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    JobSettings settings;
    settings.SourceFolder = source;
    settings.DestinationFolder = destination;
    settings.WidthText = "80";
    settings.HeightText = "60";
    settings.FastDecode = c.Fast;
    Surface picLoad, picThumb;
    const ImageResult result = ProcessImage(c.File, settings, picLoad, picThumb);

    ASSERT_EQ(result.Written, c.Written) << result.Reason.toStdString();
    const QString said = c.Written ? result.Warning : result.Reason;
    if (*c.Words == '\0') {
        EXPECT_TRUE(said.isEmpty()) << said.toStdString();
        return;
    }
    EXPECT_TRUE(said.contains(QLatin1String(c.Words))) << said.toStdString();
    for (const QChar ch : said) {
        EXPECT_GE(ch.unicode(), 0x20) << said.toStdString();
    }
    EXPECT_FALSE(said.endsWith(' ')) << said.toStdString();
    if (c.Written) {
        EXPECT_TRUE(result.Reason.isEmpty());
    }
}

// A file type box naming only an image sequence's brand: taken for HEIF by
// its brand, refused by libheif with words that end in a line break.
QByteArray SequenceBrandOnly()
{
    const QByteArray ftyp = QByteArray::fromHex("00000014") + "ftypmsf1" + QByteArray(4, '\0') + "msf1";
    return ftyp + QByteArray::fromHex("00000008") + "free";
}

QByteArray HalfOf(const QByteArray& bytes)
{
    return bytes.left(bytes.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedFiles,
    ::testing::Values(
        DamageCase{"WholeJpeg", "a.jpg", [] { return JpegOf(test::GradientImage(640, 480)); },
                   false, true, ""},
        DamageCase{"JpegCutInHalf", "a.jpg",
                   [] { return HalfOf(JpegOf(test::GradientImage(640, 480))); }, false, true,
                   "the decoder warned (Premature end of JPEG file)"},
        // 640 x 480 for 80 x 60: decoded at a quarter, through the same library.
        DamageCase{"JpegCutInHalfReduced", "a.jpg",
                   [] { return HalfOf(JpegOf(test::GradientImage(640, 480))); }, true, true,
                   "Premature end of JPEG file"},
        DamageCase{"HeifOfUnsupportedBrand", "a.heic", SequenceBrandOnly, false,
                   false, "File does not include any supported brands.)"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
