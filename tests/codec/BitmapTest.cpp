#include <gtest/gtest.h>

#include <QImage>

#include <FreeImage.h>

#include "codec/MFreeImage_2.h"
#include "tests/codec/CodecTestFiles.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

QSize SizeOf(FIBITMAP* b)
{
    return b ? QSize(static_cast<int>(FreeImage_GetWidth(b)), static_cast<int>(FreeImage_GetHeight(b))) : QSize();
}

Bitmap Allocate24(int w, int h)
{
    return Bitmap(FreeImage_Allocate(w, h, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
}

// A bitmap that has a size but no pixels, read from a PNG header.
FIBITMAP* HeaderOnly(int w, int h)
{
    QByteArray png = test::PngHeaderOnly(w, h);
    FIMEMORY* memory = FreeImage_OpenMemory(reinterpret_cast<BYTE*>(png.data()), static_cast<DWORD>(png.size()));
    FIBITMAP* b = FreeImage_LoadFromMemory(FIF_PNG, memory, FIF_LOAD_NOPIXELS);
    FreeImage_CloseMemory(memory);
    return b;
}

void SetPixel(FIBITMAP* b, int x, int yFromTop, QRgb c)
{
    const int bytes = static_cast<int>(FreeImage_GetBPP(b)) / 8;
    BYTE* p = FreeImage_GetScanLine(b, static_cast<int>(FreeImage_GetHeight(b)) - 1 - yFromTop) + x * bytes;
    p[FI_RGBA_RED] = static_cast<BYTE>(qRed(c));
    p[FI_RGBA_GREEN] = static_cast<BYTE>(qGreen(c));
    p[FI_RGBA_BLUE] = static_cast<BYTE>(qBlue(c));
}

// --- RescaleBitmap -------------------------------------------------------

struct RescaleCase {
    int sourceWidth;
    int sourceHeight;
    std::int32_t width;
    std::int32_t height;
    QSize expected;
};

void PrintTo(const RescaleCase& c, std::ostream* os)
{
    *os << c.width << " x " << c.height << " on " << c.sourceWidth << " x " << c.sourceHeight;
}

class RescaleSizeTest : public ::testing::TestWithParam<RescaleCase> {};

TEST_P(RescaleSizeTest, MissingSideFollowsTheAspectRatioRoundedHalfToEven)
{
    const RescaleCase& c = GetParam();
    Bitmap source = Allocate24(c.sourceWidth, c.sourceHeight);
    ASSERT_TRUE(source);
    Bitmap result = RescaleBitmap(source, c.width, c.height, true, FILTER_BILINEAR);
    ASSERT_TRUE(result);
    EXPECT_EQ(c.expected, SizeOf(result.get()));
    EXPECT_FALSE(source); // released: a new bitmap was made
}

INSTANTIATE_TEST_SUITE_P(
    Table, RescaleSizeTest,
    ::testing::Values(RescaleCase {800, 600, 200, 0, QSize(200, 150)},
                      RescaleCase {2, 1, 5, 0, QSize(5, 2)}, // 2.5 -> 2
                      RescaleCase {2, 1, 3, 0, QSize(3, 2)}, // 1.5 -> 2
                      RescaleCase {2, 1, 7, -4, QSize(7, 4)}, // 3.5 -> 4; negative counts as not given
                      RescaleCase {800, 600, 0, 150, QSize(200, 150)},
                      RescaleCase {1, 2, 0, 5, QSize(2, 5)}, // 2.5 -> 2
                      RescaleCase {800, 600, 120, 80, QSize(120, 80)}, // both given: aspect not kept
                      RescaleCase {10, 10, 10, 10, QSize(10, 10)}));

TEST(RescaleBitmapTest, KeepsTheSourceWhenNotAskedToReleaseIt)
{
    Bitmap source = Allocate24(8, 4);
    FIBITMAP* const original = source.get();
    Bitmap result = RescaleBitmap(source, 4, 0, false, FILTER_BOX);
    ASSERT_TRUE(result);
    EXPECT_EQ(original, source.get());
    EXPECT_NE(original, result.get());
    EXPECT_EQ(QSize(4, 2), SizeOf(result.get()));
}

struct NoRescaleCase {
    const char* name;
    std::int32_t width;
    std::int32_t height;
    int filter;
    bool headerOnly; // a bitmap without pixels, which FreeImage cannot rescale
};

void PrintTo(const NoRescaleCase& c, std::ostream* os) { *os << c.name; }

class NoRescaleTest : public ::testing::TestWithParam<NoRescaleCase> {};

TEST_P(NoRescaleTest, HandsBackTheSourceUnreleased)
{
    const NoRescaleCase& c = GetParam();
    Bitmap source(c.headerOnly ? HeaderOnly(800, 600) : Allocate24(800, 600).release());
    ASSERT_TRUE(source);
    FIBITMAP* const original = source.get();
    Bitmap result = RescaleBitmap(source, c.width, c.height, true, c.filter);
    // The caller owns exactly one bitmap: the very source, still usable.
    EXPECT_EQ(original, result.get());
    EXPECT_FALSE(source);
    EXPECT_EQ(QSize(800, 600), SizeOf(result.get()));
}

INSTANTIATE_TEST_SUITE_P(Cases, NoRescaleTest,
                         ::testing::Values(NoRescaleCase {"NoSizeGiven", 0, 0, FILTER_BOX, false},
                                           NoRescaleCase {"BothNegative", -5, -1, FILTER_BOX, false},
                                           NoRescaleCase {"SideRoundsToZero", 0, 1, FILTER_BOX, true},
                                           NoRescaleCase {"FreeImageFails", 200, 0, FILTER_BOX, true},
                                           NoRescaleCase {"UnknownFilter", 200, 150, 6, false},
                                           NoRescaleCase {"NegativeFilter", 200, 150, -1, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(RescaleBitmapTest, NullSourceGivesNull)
{
    Bitmap source;
    EXPECT_FALSE(RescaleBitmap(source, 10, 10, true, FILTER_BOX));
}

// --- DrawBitmapToDC / PaintBitmapToDC ------------------------------------

TEST(DrawBitmapToDCTest, DrawsTopRowFirstAndReturnsRows)
{
    Bitmap b = Allocate24(3, 2);
    SetPixel(b.get(), 0, 0, qRgb(255, 0, 0));
    SetPixel(b.get(), 2, 1, qRgb(0, 0, 255));
    QImage dc(5, 5, QImage::Format_RGB32);
    dc.fill(qRgb(1, 2, 3));
    EXPECT_EQ(2, DrawBitmapToDC(b.get(), dc, 3, 2));
    EXPECT_EQ(qRgb(255, 0, 0), dc.pixel(0, 0));
    EXPECT_EQ(qRgb(0, 0, 255), dc.pixel(2, 1));
    EXPECT_EQ(qRgb(1, 2, 3), dc.pixel(3, 0)); // outside the bitmap: untouched
    EXPECT_EQ(qRgb(1, 2, 3), dc.pixel(0, 2));
}

TEST(DrawBitmapToDCTest, ClipsToTheImage)
{
    Bitmap b = Allocate24(10, 10);
    QImage dc(4, 3, QImage::Format_RGB32);
    EXPECT_EQ(3, DrawBitmapToDC(b.get(), dc, 10, 10));
    EXPECT_EQ(0, DrawBitmapToDC(nullptr, dc, 10, 10));
}

TEST(DrawBitmapToDCTest, AlphaIsIgnoredNotBlended)
{
    Bitmap b(FreeImage_Allocate(1, 1, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    BYTE* p = FreeImage_GetBits(b.get());
    p[FI_RGBA_RED] = 200;
    p[FI_RGBA_GREEN] = 100;
    p[FI_RGBA_BLUE] = 50;
    p[FI_RGBA_ALPHA] = 0; // fully transparent
    QImage dc(1, 1, QImage::Format_RGB32);
    dc.fill(Qt::white);
    DrawBitmapToDC(b.get(), dc, 1, 1);
    EXPECT_EQ(qRgb(200, 100, 50), dc.pixel(0, 0));
}

class PaletteDepthTest : public ::testing::TestWithParam<int> {};

TEST_P(PaletteDepthTest, PaletteIndicesDrawAsTheirColours)
{
    const int bpp = GetParam();
    Bitmap b(FreeImage_Allocate(9, 2, bpp));
    ASSERT_TRUE(b);
    RGBQUAD* pal = FreeImage_GetPalette(b.get());
    pal[0] = RGBQUAD {10, 20, 30, 0}; // blue, green, red
    pal[1] = RGBQUAD {200, 150, 100, 0};
    // Index 1 at x = 8 of the top row (bottom-up: scan line 1).
    BYTE* top = FreeImage_GetScanLine(b.get(), 1);
    if (bpp == 1)
        top[1] = 0x80;
    else if (bpp == 4)
        top[4] = 0x10;
    else
        top[8] = 1;
    QImage dc(9, 2, QImage::Format_RGB32);
    ASSERT_EQ(2, DrawBitmapToDC(b.get(), dc, 9, 2));
    EXPECT_EQ(qRgb(100, 150, 200), dc.pixel(8, 0));
    EXPECT_EQ(qRgb(30, 20, 10), dc.pixel(7, 0));
    EXPECT_EQ(qRgb(30, 20, 10), dc.pixel(8, 1));
}

INSTANTIATE_TEST_SUITE_P(Depths, PaletteDepthTest, ::testing::Values(1, 4, 8));

struct WideTypeCase {
    const char* name;
    FREE_IMAGE_TYPE type;
};

void PrintTo(const WideTypeCase& c, std::ostream* os) { *os << c.name; }

class WideTypeTest : public ::testing::TestWithParam<WideTypeCase> {};

TEST_P(WideTypeTest, DrawsWithEightBitsPerChannel)
{
    const FREE_IMAGE_TYPE type = GetParam().type;
    Bitmap b(FreeImage_AllocateT(type, 2, 1));
    ASSERT_TRUE(b);
    BYTE* bits = FreeImage_GetBits(b.get());
    QRgb expected0 = 0;
    QRgb expected1 = 0;
    switch (type) {
    case FIT_UINT16: {
        auto* p = reinterpret_cast<WORD*>(bits);
        p[0] = 0x8040;
        p[1] = 0xFFFF;
        expected0 = qRgb(0x80, 0x80, 0x80);
        expected1 = qRgb(255, 255, 255);
        break;
    }
    case FIT_RGB16: {
        auto* p = reinterpret_cast<FIRGB16*>(bits);
        p[0] = FIRGB16 {0x1234, 0xABCD, 0x00FF};
        p[1] = FIRGB16 {0xFFFF, 0, 0x8000};
        expected0 = qRgb(0x12, 0xAB, 0x00);
        expected1 = qRgb(0xFF, 0, 0x80);
        break;
    }
    case FIT_RGBA16: {
        auto* p = reinterpret_cast<FIRGBA16*>(bits);
        p[0] = FIRGBA16 {0x1234, 0xABCD, 0x00FF, 0};
        p[1] = FIRGBA16 {0xFFFF, 0, 0x8000, 0xFFFF};
        expected0 = qRgb(0x12, 0xAB, 0x00);
        expected1 = qRgb(0xFF, 0, 0x80);
        break;
    }
    case FIT_FLOAT: {
        auto* p = reinterpret_cast<float*>(bits);
        p[0] = 0.5f;
        p[1] = 7.0f; // brighter than white: clamped
        expected0 = qRgb(128, 128, 128);
        expected1 = qRgb(255, 255, 255);
        break;
    }
    case FIT_RGBF: {
        auto* p = reinterpret_cast<FIRGBF*>(bits);
        p[0] = FIRGBF {1.0f, 0.0f, -3.0f};
        p[1] = FIRGBF {0.2f, 0.4f, 0.6f};
        expected0 = qRgb(255, 0, 0);
        expected1 = qRgb(51, 102, 153);
        break;
    }
    default:
        FAIL() << "no case";
    }
    QImage dc(2, 1, QImage::Format_RGB32);
    dc.fill(Qt::black);
    ASSERT_EQ(1, DrawBitmapToDC(b.get(), dc, 2, 1));
    EXPECT_EQ(expected0, dc.pixel(0, 0));
    EXPECT_EQ(expected1, dc.pixel(1, 0));
}

INSTANTIATE_TEST_SUITE_P(Types, WideTypeTest,
                         ::testing::Values(WideTypeCase {"Grey16", FIT_UINT16}, WideTypeCase {"Rgb16", FIT_RGB16},
                                           WideTypeCase {"Rgba16", FIT_RGBA16}, WideTypeCase {"Float", FIT_FLOAT},
                                           WideTypeCase {"RgbFloat", FIT_RGBF}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(PaintBitmapToDCTest, ZeroSizesCopyTheWholeBitmapOneToOne)
{
    const QImage picture = test::GradientImage(7, 5);
    Bitmap b = BitmapFromPicture(picture);
    QImage dc(7, 5, QImage::Format_RGB32);
    dc.fill(Qt::black);
    EXPECT_EQ(0, PaintBitmapToDC(&dc, b.get(), 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(picture, dc);
}

TEST(PaintBitmapToDCTest, StretchesWhenTheRectanglesDiffer)
{
    Bitmap b = BitmapFromPicture(test::QuadrantImage(4, 4));
    QImage dc(10, 10, QImage::Format_RGB32);
    dc.fill(Qt::black);
    PaintBitmapToDC(&dc, b.get(), 1, 1, 8, 8, 0, 0, 0, 0);
    EXPECT_EQ(qRgb(0, 0, 0), dc.pixel(0, 0));
    EXPECT_EQ(qRgb(255, 0, 0), dc.pixel(2, 2));
    EXPECT_EQ(qRgb(0, 255, 0), dc.pixel(7, 2));
    EXPECT_EQ(qRgb(0, 0, 255), dc.pixel(2, 7));
    EXPECT_EQ(qRgb(255, 255, 255), dc.pixel(8, 8));
    EXPECT_EQ(qRgb(0, 0, 0), dc.pixel(9, 9));
}

TEST(PaintBitmapToDCTest, CopiesAPartAtAnOffset)
{
    Bitmap b = BitmapFromPicture(test::QuadrantImage(4, 4));
    QImage dc(3, 3, QImage::Format_RGB32);
    dc.fill(Qt::black);
    // The 2 x 2 bottom-right quadrant to (1, 1).
    PaintBitmapToDC(&dc, b.get(), 1, 1, 2, 2, 2, 2, 2, 2);
    EXPECT_EQ(qRgb(0, 0, 0), dc.pixel(0, 0));
    EXPECT_EQ(qRgb(255, 255, 255), dc.pixel(1, 1));
    EXPECT_EQ(qRgb(255, 255, 255), dc.pixel(2, 2));
}

TEST(PaintBitmapToDCTest, MissingImageOrBitmapDrawsNothing)
{
    Bitmap b = Allocate24(2, 2);
    QImage dc(2, 2, QImage::Format_RGB32);
    dc.fill(Qt::red);
    EXPECT_EQ(0, PaintBitmapToDC(nullptr, b.get(), 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(0, PaintBitmapToDC(&dc, nullptr, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(qRgb(255, 0, 0), dc.pixel(1, 1));
}

// --- BitmapFromPicture ---------------------------------------------------

struct PictureCase {
    const char* name;
    QImage::Format format;
    unsigned bitsPerPixel;
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

class BitmapFromPictureTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(BitmapFromPictureTest, KeepsDepthAndPixels)
{
    const PictureCase& c = GetParam();
    QImage picture = test::QuadrantImage(6, 4).convertToFormat(c.format);
    if (c.format == QImage::Format_Grayscale8)
        picture = test::GradientImage(6, 4).convertToFormat(c.format);
    Bitmap b = BitmapFromPicture(picture);
    ASSERT_TRUE(b);
    EXPECT_EQ(c.bitsPerPixel, FreeImage_GetBPP(b.get()));
    EXPECT_EQ(QSize(6, 4), SizeOf(b.get()));
    if (c.bitsPerPixel == 32) {
        const BYTE* p = FreeImage_GetBits(b.get());
        EXPECT_EQ(0, p[FI_RGBA_ALPHA]);
    }
    QImage dc(6, 4, QImage::Format_RGB32);
    DrawBitmapToDC(b.get(), dc, 6, 4);
    EXPECT_EQ(picture.convertToFormat(QImage::Format_RGB32), dc);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, BitmapFromPictureTest,
    ::testing::Values(PictureCase {"Rgb32", QImage::Format_RGB32, 32}, PictureCase {"Argb32", QImage::Format_ARGB32, 32},
                      PictureCase {"Rgb888", QImage::Format_RGB888, 24}, PictureCase {"Bgr888", QImage::Format_BGR888, 24},
                      PictureCase {"Indexed8", QImage::Format_Indexed8, 8},
                      PictureCase {"Grey8", QImage::Format_Grayscale8, 8}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(BitmapFromPictureTest, NullPictureGivesNull)
{
    EXPECT_FALSE(BitmapFromPicture(QImage()));
}

} // namespace
} // namespace pixquill
