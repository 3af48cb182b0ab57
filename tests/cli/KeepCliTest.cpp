// pixquill-batch --keep end to end: the metadata of photos made in the test,
// read back from the thumbnails with Exiv2.

#include <map>
#include <ostream>
#include <string>

#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "tests/support/Folders.h"
#include "tests/support/TestImages.h"
#include "tests/support/TestMetadata.h"

namespace {

using Keys = std::map<std::string, std::string>;
using pixquill::test::Folders;
using pixquill::test::ReadFileBytes;

struct BatchRun {
    int Exit = -1;
    QString Out;
    QString Err;
};

BatchRun Batch(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(PIXQUILL_BATCH_BINARY), arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// Stored 120 x 80, red left and blue right, with orientation 6: upright it
// is 80 x 120, red above blue.
QByteArray TurnedPhoto()
{
    QImage stored(120, 80, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    QPainter(&stored).fillRect(0, 0, 60, 80, Qt::red);
    return pixquill::test::JpegWithMetadata(stored);
}

void Put(const Folders& f, const QString& name, const QByteArray& bytes)
{
    QFile file(f.Source + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Of the source's keys, those the thumbnail holds (a format's own fields,
// such as a TIFF's strips, are not the source's and are left aside).
Keys SourceKeysIn(const Keys& thumbnail, const Keys& source)
{
    Keys found;
    for (const auto& [key, value] : thumbnail) {
        if (source.count(key))
            found[key] = value;
    }
    return found;
}

// Nothing of the location, whatever the key.
void ExpectNoLocation(const Keys& keys)
{
    for (const auto& [key, value] : keys) {
        EXPECT_EQ(key.find("GPS"), std::string::npos) << key;
        EXPECT_NE(key, "Xmp.photoshop.City");
        EXPECT_EQ(key.find("Canon."), std::string::npos) << key;
        if (key.find("Orientation") != std::string::npos) {
            EXPECT_EQ(value, "1") << key;
        }
    }
}

struct KeepCase {
    const char* Format;
    const char* Keep;
    bool InProcess = false;
};

std::ostream& operator<<(std::ostream& os, const KeepCase& c)
{
    return os << c.Format << " " << c.Keep << (c.InProcess ? " in process" : "");
}

class KeepTable : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeepTable, ThumbnailCarriesWhatWasKeptAndNeverTheLocation)
{
    const KeepCase& c = GetParam();
    Folders f;
    const QByteArray photo = TurnedPhoto();
    Put(f, "photo.jpg", photo);
    QStringList arguments{"--keep", c.Keep, "--format", c.Format, "--width", "40", "--height", "60",
                          "--report", "-", f.Source, f.Destination};
    if (c.InProcess)
        arguments.prepend("--in-process");
    const BatchRun run = Batch(arguments);
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const QJsonObject report = QJsonDocument::fromJson(run.Out.toUtf8()).object();
    EXPECT_TRUE(report["warning"].isNull()) << run.Out.toStdString();
    // Upright pixels: the tag can only say 1.
    EXPECT_EQ(report["thumbnail_width"].toInt(), 40);
    EXPECT_EQ(report["thumbnail_height"].toInt(), 60);

    const Keys source = pixquill::test::MetadataOf(photo);
    const Keys thumbnail = pixquill::test::MetadataOf(ReadFileBytes(report["output"].toString()));
    const std::string keep = c.Keep;
    const Keys expected = keep == "exif"        ? pixquill::test::CameraAllButWhereAndMaker()
                        : keep == "copyright" ? pixquill::test::CameraCopyright()
                                              : Keys{};
    // Orientation 1 where the source said 6.
    Keys kept = SourceKeysIn(thumbnail, source);
    for (const char* orientation : {"Exif.Image.Orientation", "Xmp.tiff.Orientation"}) {
        if (thumbnail.count(orientation))
            kept[orientation] = thumbnail.at(orientation);
    }
    EXPECT_EQ(kept, expected);
    ExpectNoLocation(thumbnail);
}

INSTANTIATE_TEST_SUITE_P(Table, KeepTable,
                         ::testing::Values(KeepCase{"jpg", "none"}, KeepCase{"jpg", "copyright"},
                                           KeepCase{"jpg", "exif"}, KeepCase{"webp", "none"},
                                           KeepCase{"webp", "copyright"}, KeepCase{"webp", "exif"},
                                           KeepCase{"png", "exif"}, KeepCase{"tif", "exif"},
                                           KeepCase{"avif", "copyright"}, KeepCase{"avif", "exif"},
                                           KeepCase{"jxl", "copyright"}, KeepCase{"jxl", "exif"},
                                           KeepCase{"jpg", "exif", true}, KeepCase{"webp", "copyright", true}));

// A photo whose metadata cannot be read is thumbnailed without any, with a
// one-line warning; the next photo keeps its own.
TEST(KeepCli, DamagedMetadataGivesAWarningAndAThumbnailWithout)
{
    Folders f;
    const QByteArray photo = TurnedPhoto();
    Put(f, "a-damaged.jpg", pixquill::test::WithExif(photo, pixquill::test::BrokenExif()));
    Put(f, "b-sound.jpg", photo);
    for (const bool inProcess : {false, true}) {
        QStringList arguments{"--keep", "exif", f.Source, f.Destination};
        if (inProcess)
            arguments.prepend("--in-process");
        const BatchRun run = Batch(arguments);
        EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains("a-damaged.jpg: written, but its metadata could not be read and was left out ("))
            << run.Err.toStdString();
        EXPECT_FALSE(run.Err.contains("b-sound.jpg")) << run.Err.toStdString();
        EXPECT_TRUE(pixquill::test::MetadataOf(ReadFileBytes(f.Destination + "/_THa-damaged.jpg")).empty());
        EXPECT_EQ(pixquill::test::MetadataOf(ReadFileBytes(f.Destination + "/_THb-sound.jpg")).count("Exif.Image.Make"),
                  1u);
    }
}

// A JPEG holds one segment of XMP: a larger packet is left out with a
// warning, the rest kept and the thumbnail written; a PNG holds it all.
TEST(KeepCli, XmpTooLargeForAJpegIsLeftOutWithAWarning)
{
    Folders f;
    const QByteArray png = pixquill::test::QtEncoded(pixquill::test::GradientImage(64, 48), "PNG");
    Put(f, "long.png", pixquill::test::WithLongDescription(png, 70000));
    for (const char* format : {"jpg", "png"}) {
        const QString destination = f.Root.filePath(QString::fromLatin1(format));
        const BatchRun run = Batch({"--keep", "exif", "--format", format, f.Source, destination});
        EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
        const bool jpeg = std::string(format) == "jpg";
        EXPECT_EQ(run.Err.contains(QRegularExpression(
                      "long.png: written, but its XMP \\(\\d+ bytes\\) does not fit in a JPEG and was left out\n")),
                  jpeg)
            << run.Err.toStdString();
        const Keys kept = pixquill::test::MetadataOf(ReadFileBytes(destination + "/_THlong." + format));
        EXPECT_EQ(kept.count("Exif.Image.Artist"), 1u) << format;
        EXPECT_EQ(kept.count("Xmp.dc.description"), jpeg ? 0u : 1u) << format;
    }
}

} // namespace
