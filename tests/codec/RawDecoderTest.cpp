#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <ostream>

#include <QColorSpace>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <FreeImage.h>

#include "codec/ByteOrder.h"
#include "codec/InputSource.h"
#include "codec/RawDecoder.h"
#include "tests/codec/CodecTestFiles.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestDng.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

// The decoded bitmap (24-bit, or 8-bit grey) as an RGB32 image, top row first.
QImage ToImage(FIBITMAP* bitmap)
{
    const int width = int(FreeImage_GetWidth(bitmap));
    const int height = int(FreeImage_GetHeight(bitmap));
    QImage image(width, height, QImage::Format_RGB32);
    const bool grey = FreeImage_GetBPP(bitmap) == 8;
    for (int y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(bitmap, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const BYTE* p = grey ? line + x : line + 3 * x;
            image.setPixel(x, y, grey ? qRgb(p[0], p[0], p[0]) : qRgb(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]));
        }
    }
    return image;
}

struct Decoded {
    UprightSize Header;
    DecodedImage Image;
    QByteArray Stderr;
};

Decoded Decode(const QByteArray& file, int thumbWidth, int thumbHeight)
{
    Decoded out;
    const InputSource source(file);
    DecodeHints hints;
    hints.Width = thumbWidth;
    hints.Height = thumbHeight;
    test::StderrCapture capture;
    out.Header = RawUprightSize(source.Reader(), source.Size());
    out.Image = DecodeRaw(source.Reader(), source.Size(), hints);
    out.Stderr = capture.Take();
    return out;
}

// LibRaw's own rendering with the camera's white balance (Debian's
// libraw-bin), read back from the PPM it writes; null when it failed.
QImage DcrawEmuRendering(const QByteArray& file)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shot.dng"));
    if (!test::WriteFileBytes(path, file))
        return {};
    QProcess process;
    process.start(QStringLiteral("dcraw_emu"), {QStringLiteral("-w"), QStringLiteral("-Z"), QStringLiteral("-"), path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QImage::fromData(process.readAllStandardOutput(), "PPM");
}

// A tag's value in the first directory of a little-endian TIFF, or in the
// one its SubIFDs entry leads to; set in place.
bool PatchTag(QByteArray& tiff, std::uint32_t tag, std::uint32_t value, bool subDirectory)
{
    auto* data = reinterpret_cast<std::uint8_t*>(tiff.data());
    std::uint32_t directory = Le32(data + 4);
    for (int pass = 0; pass < 2; ++pass) {
        const std::uint32_t entries = Le16(data + directory);
        std::uint32_t next = 0;
        for (std::uint32_t i = 0; i < entries; ++i) {
            std::uint8_t* entry = data + directory + 2 + 12 * i;
            if (Le16(entry) == 0x014A)
                next = Le32(entry + 8);
            if (Le16(entry) == tag && (pass == 1 || !subDirectory)) {
                for (int b = 0; b < 4; ++b)
                    entry[8 + b] = std::uint8_t(Le16(entry + 2) == 3 && b >= 2 ? 0 : value >> (8 * b));
                return true;
            }
        }
        if (!subDirectory || next == 0)
            return false;
        directory = next;
    }
    return false;
}

// ---------------------------------------------------------------------------

struct OrientationCase {
    int Orientation;
    int PreviewOwn = 0; // the JPEG preview's own EXIF orientation
    bool Bitmap = false;
};

std::ostream& operator<<(std::ostream& out, const OrientationCase& c)
{
    return out << "orientation " << c.Orientation << ", preview's own " << c.PreviewOwn
               << (c.Bitmap ? ", bitmap preview" : ", JPEG preview");
}

class RawPreviewOrientation : public ::testing::TestWithParam<OrientationCase> {};

// A 600 x 400 shot with a half-size preview, thumbnailed at 100 px: the
// preview is enough, and comes out upright however it was stored.
TEST_P(RawPreviewOrientation, ThumbnailComesUprightFromThePreview)
{
    const OrientationCase& c = GetParam();
    test::DngRecipe recipe;
    recipe.Picture = test::QuadrantImage(600, 400);
    recipe.Orientation = c.Orientation;
    recipe.PreviewSize = QSize(300, 200);
    recipe.PreviewOwnOrientation = c.PreviewOwn;
    recipe.PreviewAsBitmap = c.Bitmap;
    const QByteArray file = test::MakeDng(recipe);
    ASSERT_FALSE(file.isEmpty());

    const Decoded decoded = Decode(file, 100, 67);
    EXPECT_EQ(decoded.Header, (UprightSize{600, 400}));
    ASSERT_TRUE(decoded.Image.Image) << decoded.Image.Error.toStdString();
    const QImage picture = ToImage(decoded.Image.Image.get());
    ASSERT_EQ(picture.size(), QSize(300, 200));
    EXPECT_LE(test::ColourDistance(picture.pixel(75, 50), qRgb(255, 0, 0)), 40);
    EXPECT_LE(test::ColourDistance(picture.pixel(225, 50), qRgb(0, 255, 0)), 40);
    EXPECT_LE(test::ColourDistance(picture.pixel(75, 150), qRgb(0, 0, 255)), 40);
    EXPECT_LE(test::ColourDistance(picture.pixel(225, 150), qRgb(255, 255, 255)), 40);
    EXPECT_TRUE(decoded.Stderr.isEmpty()) << decoded.Stderr.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Stored, RawPreviewOrientation,
    ::testing::Values(OrientationCase{1}, OrientationCase{2}, OrientationCase{3}, OrientationCase{4},
                      OrientationCase{5}, OrientationCase{6}, OrientationCase{7}, OrientationCase{8},
                      OrientationCase{6, 0, true}, OrientationCase{7, 0, true},
                      // The preview's own orientation wins over the RAW's.
                      OrientationCase{3, 6}, OrientationCase{8, 1}));

// ---------------------------------------------------------------------------

struct PictureCase {
    const char* Name;
    QSize Preview;   // none when empty
    QSize Thumbnail; // 0 x 0: the largest picture, for a preview box
    QSize Expected;
    bool Rendered;   // the raw data rather than the preview
};

std::ostream& operator<<(std::ostream& out, const PictureCase& c)
{
    return out << c.Name;
}

class RawPicture : public ::testing::TestWithParam<PictureCase> {};

// Of a 600 x 400 shot: the preview when it is twice the thumbnail and shows
// the whole picture, else LibRaw's half-size rendering when that is twice
// the thumbnail, else the full one; rendered in the colours of LibRaw's own
// dcraw_emu -w, and turned as the camera recorded (orientation 6 here).
TEST_P(RawPicture, PreviewOrRenderingAsTheThumbnailNeeds)
{
    const PictureCase& c = GetParam();
    test::DngRecipe recipe;
    recipe.Picture = test::GradientImage(400, 600);
    recipe.Orientation = 6;
    recipe.PreviewSize = c.Preview;
    const QByteArray file = test::MakeDng(recipe);
    ASSERT_FALSE(file.isEmpty());

    const Decoded decoded = Decode(file, c.Thumbnail.width(), c.Thumbnail.height());
    EXPECT_EQ(decoded.Header, (UprightSize{400, 600}));
    ASSERT_TRUE(decoded.Image.Image) << decoded.Image.Error.toStdString();
    const QImage picture = ToImage(decoded.Image.Image.get());
    EXPECT_EQ(picture.size(), c.Expected);
    EXPECT_TRUE(decoded.Image.IccProfile.isEmpty());
    EXPECT_TRUE(decoded.Stderr.isEmpty()) << decoded.Stderr.toStdString();
    if (!c.Rendered)
        return;
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("dcraw_emu")).isEmpty())
        << "dcraw_emu (libraw-bin) is missing: scripts/install-deps.sh installs it";
    const QImage reference = DcrawEmuRendering(file);
    ASSERT_EQ(reference.size(), QSize(400, 600));
    const auto ours = test::ChannelMeans(picture);
    const auto theirs = test::ChannelMeans(reference);
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_NEAR(ours[std::size_t(channel)], theirs[std::size_t(channel)], 0.06) << "channel " << channel;
    // Upright: the gradient's red grows to the right, its green downwards.
    EXPECT_LT(qRed(picture.pixel(10, picture.height() / 2)), qRed(picture.pixel(picture.width() - 10, picture.height() / 2)));
    EXPECT_LT(qGreen(picture.pixel(picture.width() / 2, 10)), qGreen(picture.pixel(picture.width() / 2, picture.height() - 10)));
}

INSTANTIATE_TEST_SUITE_P(
    Hints, RawPicture,
    ::testing::Values(
        PictureCase{"PreviewTooSmallHalfSizeEnough", QSize(107, 160), QSize(67, 100), QSize(200, 300), true},
        PictureCase{"NoPreviewFullSizeNeeded", QSize(), QSize(134, 200), QSize(400, 600), true},
        PictureCase{"LetterboxedPreviewRefused", QSize(300, 300), QSize(67, 100), QSize(200, 300), true},
        PictureCase{"NoHintsNoPreviewInFull", QSize(), QSize(), QSize(400, 600), true},
        PictureCase{"NoHintsTheLargestPreview", QSize(107, 160), QSize(), QSize(107, 160), false},
        PictureCase{"PreviewTwiceTheThumbnail", QSize(134, 200), QSize(67, 100), QSize(134, 200), false}));

TEST(RawPreview, KeepsTheJpegPreviewsProfile)
{
    test::DngRecipe recipe;
    recipe.Picture = test::GradientImage(600, 400);
    recipe.PreviewSize = QSize(300, 200);
    recipe.PreviewAdobeRgb = true;
    const Decoded decoded = Decode(test::MakeDng(recipe), 100, 67);
    ASSERT_TRUE(decoded.Image.Image) << decoded.Image.Error.toStdString();
    EXPECT_EQ(decoded.Image.IccProfile, QColorSpace(QColorSpace::AdobeRgb).iccProfile());
}

// A preview stored in planes whose declared length is more than its planes
// hold would overrun LibRaw 0.20's buffers: it is passed over, and the raw
// data rendered instead.
TEST(RawPreview, AnOverlongPreviewInPlanesIsPassedOver)
{
    test::DngRecipe recipe;
    recipe.Picture = test::GradientImage(600, 400);
    recipe.PreviewSize = QSize(200, 133);
    recipe.PreviewAsBitmap = true;
    QByteArray file = test::MakeDng(recipe);
    // No compression named: planes, each declared as long as the whole strip.
    ASSERT_TRUE(PatchTag(file, 259, 0, false));
    const Decoded decoded = Decode(file, 67, 45);
    ASSERT_TRUE(decoded.Image.Image) << decoded.Image.Error.toStdString();
    EXPECT_EQ(ToImage(decoded.Image.Image.get()).size(), QSize(300, 200)); // half-size, not the preview
    EXPECT_EQ(FreeImage_GetBPP(decoded.Image.Image.get()), 24u);
}

// ---------------------------------------------------------------------------

struct BrokenCase {
    const char* Name;
    std::function<QByteArray()> Make;
    const char* Reason; // what the reason begins with
};

std::ostream& operator<<(std::ostream& out, const BrokenCase& c)
{
    return out << c.Name;
}

QByteArray PlainDng()
{
    test::DngRecipe recipe;
    recipe.Picture = test::GradientImage(600, 400);
    return test::MakeDng(recipe);
}

class BrokenRaw : public ::testing::TestWithParam<BrokenCase> {};

// A broken file fails with one line in LibRaw's words, refused sizes before
// anything is unpacked, and nothing reaches stderr.
TEST_P(BrokenRaw, FailsWithAOneLineReason)
{
    const BrokenCase& c = GetParam();
    const QByteArray file = c.Make();
    ASSERT_FALSE(file.isEmpty());
    const Decoded decoded = Decode(file, 100, 67);
    EXPECT_FALSE(decoded.Image.Image);
    EXPECT_TRUE(decoded.Image.Error.startsWith(QLatin1String(c.Reason))) << decoded.Image.Error.toStdString();
    EXPECT_FALSE(decoded.Image.Error.contains(QLatin1Char('\n')));
    EXPECT_TRUE(decoded.Stderr.isEmpty()) << decoded.Stderr.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenRaw,
    ::testing::Values(
        BrokenCase{"RawDataEndsEarly",
                   [] {
                       QByteArray file = PlainDng();
                       // The mosaic's strip said to start 1000 bytes before the end.
                       return PatchTag(file, 273, std::uint32_t(file.size() - 1000), false) ? file : QByteArray();
                   },
                   "cannot decode the image ("},
        BrokenCase{"CutInItsDirectories", [] { return PlainDng().left(300000); }, "cannot decode the image ("},
        BrokenCase{"CutAtItsStart", [] { return PlainDng().left(6); },
                   "cannot decode the image (the file ends before its data do)"},
        BrokenCase{"NotARawFile", [] { return QByteArray(4096, 'x'); },
                   "cannot decode the image (Unsupported file format or not RAW file)"},
        BrokenCase{"DeclaresTooManyPixels",
                   [] {
                       QByteArray file = PlainDng();
                       return PatchTag(file, 256, 20000, false) && PatchTag(file, 257, 20000, false) ? file
                                                                                                    : QByteArray();
                   },
                   "image too large"}));

} // namespace
} // namespace pixquill
