// Real files written by other programs that FreeImage 3.18 alone refuses or
// misreads (tests/data/real/README.md): the loader must show each exactly
// as the reference picture.

#include <cctype>

#include <gtest/gtest.h>

#include <QImage>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/codec/CodecTestFiles.h"

namespace pixquill {
namespace {

QString RealFilePath(const char* name)
{
    return QStringLiteral(PIXQUILL_TEST_DATA_DIR "/real/") + QLatin1String(name);
}

class RealFile : public ::testing::TestWithParam<const char*> {};

TEST_P(RealFile, LoadsWithTheRightColoursAndOrientation)
{
    const QImage reference = QImage(RealFilePath("reference.png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(QSize(16, 12), reference.size());
    Surface surface;
    const LoadResult result = LoadImageToSurface(RealFilePath(GetParam()), surface);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(0, test::MaxImageDistance(reference, surface.Image()));
}

INSTANTIATE_TEST_SUITE_P(WrittenByOthers, RealFile,
                         ::testing::Values("im-v5-24bit.bmp", "im-v5-32bit-bitfields.bmp", "im-v5-rle8.bmp",
                                           "v4-24bit.bmp", "v5-24bit-top-down.bmp", "v5-32bit-bitfields-top-down.bmp",
                                           "im-rle8-final-eol.bmp", "im-headerless.dib", "gm-uncompressed.pcx",
                                           "im-indexed.psd", "cursor.cur"),
                         [](const auto& testInfo) {
                             std::string name;
                             for (const char* c = testInfo.param; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

} // namespace
} // namespace pixquill
