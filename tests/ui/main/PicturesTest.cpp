#include <gtest/gtest.h>

#include <QSet>

#include "resources/Pictures.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

struct PictureSize {
    const char* Name;
    QSize Size;
};

void PrintTo(const PictureSize& p, std::ostream* os) { *os << p.Name; }

class EmbeddedPictures : public ::testing::TestWithParam<PictureSize> {};

TEST_P(EmbeddedPictures, AreEmbeddedAtTheirSize)
{
    const QImage image = LoadPicture(QString::fromUtf8(GetParam().Name));
    ASSERT_FALSE(image.isNull()) << GetParam().Name;
    EXPECT_EQ(image.size(), GetParam().Size);
}

INSTANTIATE_TEST_SUITE_P(
    All, EmbeddedPictures,
    ::testing::Values(PictureSize{"skin.png", {716, 391}}, PictureSize{"banner.jpg", {468, 60}},
                      PictureSize{"button-about.png", {21, 21}}, PictureSize{"button-about-hover.png", {21, 21}},
                      PictureSize{"button-minimise.png", {21, 21}},
                      PictureSize{"button-minimise-hover.png", {21, 21}},
                      PictureSize{"button-close.png", {21, 21}}, PictureSize{"button-close-hover.png", {21, 21}},
                      PictureSize{"button-start.png", {123, 31}}, PictureSize{"button-start-hover.png", {123, 31}},
                      PictureSize{"button-stop.png", {123, 31}}, PictureSize{"button-stop-hover.png", {123, 31}},
                      PictureSize{"step-1.png", {20, 20}}, PictureSize{"step-2.png", {20, 20}},
                      PictureSize{"step-3.png", {20, 20}}, PictureSize{"step-4.png", {20, 20}},
                      PictureSize{"logo.png", {219, 52}}, PictureSize{"hand-cursor.png", {32, 32}},
                      PictureSize{"visit-arrow.png", {16, 16}}, PictureSize{"pixquill.png", {32, 32}},
                      PictureSize{"pixquill.ico", {32, 32}}));

TEST(EmbeddedPictures, UnknownNameGivesANullImage)
{
    EXPECT_TRUE(LoadPicture(QStringLiteral("no-such-picture.png")).isNull());
}

struct SkinPixel {
    QPoint At;
    QColor Colour;
};

void PrintTo(const SkinPixel& p, std::ostream* os) { *os << '(' << p.At.x() << ", " << p.At.y() << ')'; }

class SkinPixels : public ::testing::TestWithParam<SkinPixel> {};

TEST_P(SkinPixels, FrameBandAndBody)
{
    const QImage skin = LoadPicture(QStringLiteral("skin.png"));
    ASSERT_FALSE(skin.isNull());
    EXPECT_EQ(skin.pixelColor(GetParam().At), GetParam().Colour);
}

const QColor kOuter(0x00, 0x88, 0xCC);
const QColor kLight(0x13, 0xA2, 0xEA);
const QColor kInner(0x00, 0x3B, 0x59);

INSTANTIATE_TEST_SUITE_P(
    Edges, SkinPixels,
    ::testing::Values(
        // Each side shades from the outer edge to the seventh pixel to the inner edge.
        SkinPixel{{300, 0}, kOuter}, SkinPixel{{300, 6}, kLight}, SkinPixel{{300, 19}, kInner},
        SkinPixel{{0, 200}, kOuter}, SkinPixel{{6, 200}, kLight}, SkinPixel{{19, 200}, kInner},
        SkinPixel{{715, 200}, kOuter}, SkinPixel{{709, 200}, kLight}, SkinPixel{{696, 200}, kInner},
        SkinPixel{{300, 390}, kOuter}, SkinPixel{{300, 384}, kLight}, SkinPixel{{300, 371}, kInner},
        // Header band y 20..94, body 95..370, inside the frame.
        SkinPixel{{20, 20}, QColor(0xE1, 0xE1, 0xE1)}, SkinPixel{{695, 94}, QColor(0xE1, 0xE1, 0xE1)},
        SkinPixel{{20, 95}, QColor(0x80, 0xA0, 0xC0)}, SkinPixel{{695, 370}, QColor(0x80, 0xA0, 0xC0)}));

TEST(WindowIcon, Has256ColoursAtMost)
{
    for (const char* name : {"pixquill.png", "pixquill.ico"}) {
        const QImage icon = LoadPicture(QString::fromUtf8(name)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(icon.isNull()) << name;
        QSet<QRgb> colours;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                colours.insert(icon.pixel(x, y));
        EXPECT_LE(colours.size(), 256) << name;
        EXPECT_GT(colours.size(), 4) << name;
    }
    // Both files hold the same picture.
    EXPECT_EQ(LoadPicture(QStringLiteral("pixquill.png")).convertToFormat(QImage::Format_ARGB32),
              LoadPicture(QStringLiteral("pixquill.ico")).convertToFormat(QImage::Format_ARGB32));
}

TEST(HandCursor, IsMonochromeWithTheHotSpotOnTheFinger)
{
    const QImage hand = LoadPicture(QStringLiteral("hand-cursor.png")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(hand.isNull());
    for (int y = 0; y < hand.height(); ++y) {
        for (int x = 0; x < hand.width(); ++x) {
            const QRgb px = hand.pixel(x, y);
            const bool ok = qAlpha(px) == 0 || px == qRgb(0, 0, 0) || px == qRgb(255, 255, 255);
            EXPECT_TRUE(ok) << x << ", " << y;
        }
    }
    // The hot spot lies on the outline of the raised fingertip.
    EXPECT_NE(qAlpha(hand.pixel(kHandHotSpotX, kHandHotSpotY)), 0);
    EXPECT_EQ(qAlpha(hand.pixel(kHandHotSpotX, kHandHotSpotY - 1)), 0);
    const QCursor cursor = HandCursor();
    EXPECT_EQ(cursor.hotSpot(), QPoint(kHandHotSpotX, kHandHotSpotY));
}

} // namespace
} // namespace pixquill
