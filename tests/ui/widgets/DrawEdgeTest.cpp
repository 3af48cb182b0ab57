#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "tests/support/QtPrinters.h"
#include "ui/widgets/DrawEdge.h"

namespace pixquill {
namespace {

// A palette whose four edge colours are unmistakable.
QPalette EdgePalette()
{
    QPalette palette;
    palette.setColor(QPalette::Light, QColor(250, 250, 250));
    palette.setColor(QPalette::Midlight, QColor(200, 200, 200));
    palette.setColor(QPalette::Dark, QColor(100, 100, 100));
    palette.setColor(QPalette::Shadow, QColor(10, 10, 10));
    return palette;
}

struct EdgeCase {
    int style;
    QPalette::ColorRole outerTopLeft;     // pixel (0, 5)
    QPalette::ColorRole outerBottomRight; // pixel (19, 5)
    QPalette::ColorRole innerTopLeft;     // pixel (1, 5); Base when no inner ring
    QPalette::ColorRole innerBottomRight; // pixel (18, 5)
};

class DrawEdgeTest : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(DrawEdgeTest, RingsUseThePaletteColours)
{
    const EdgeCase c = GetParam();
    const QPalette palette = EdgePalette();
    const QColor background(1, 2, 3);
    QImage image(20, 12, QImage::Format_RGB32);
    image.fill(background);
    {
        QPainter painter(&image);
        DrawEdge(painter, image.rect(), c.style, palette);
    }
    auto expect = [&](QPalette::ColorRole role) {
        return role == QPalette::Base ? background : palette.color(role);
    };
    EXPECT_EQ(expect(c.outerTopLeft), QColor(image.pixel(0, 5))) << "style " << c.style;
    EXPECT_EQ(expect(c.outerTopLeft), QColor(image.pixel(7, 0))) << "style " << c.style;
    EXPECT_EQ(expect(c.outerBottomRight), QColor(image.pixel(19, 5))) << "style " << c.style;
    EXPECT_EQ(expect(c.outerBottomRight), QColor(image.pixel(7, 11))) << "style " << c.style;
    EXPECT_EQ(expect(c.innerTopLeft), QColor(image.pixel(1, 5))) << "style " << c.style;
    EXPECT_EQ(expect(c.innerBottomRight), QColor(image.pixel(18, 5))) << "style " << c.style;
    // The inside is never painted.
    EXPECT_EQ(background, QColor(image.pixel(10, 6)));
}

constexpr auto L = QPalette::Light;
constexpr auto M = QPalette::Midlight;
constexpr auto D = QPalette::Dark;
constexpr auto S = QPalette::Shadow;
constexpr auto None = QPalette::Base;

INSTANTIATE_TEST_SUITE_P(Styles, DrawEdgeTest,
    ::testing::Values(
        EdgeCase{0, None, None, None, None},
        EdgeCase{1, M, S, None, None},   // raised outer line
        EdgeCase{2, L, D, None, None},   // raised inner line, drawn on the outer ring
        EdgeCase{3, D, L, None, None},   // sunken outer line
        EdgeCase{4, S, M, None, None},   // sunken inner line, drawn on the outer ring
        EdgeCase{5, M, S, L, D},         // raised
        EdgeCase{6, D, L, S, M},         // sunken
        EdgeCase{7, D, L, L, D},         // etched
        EdgeCase{8, M, S, S, M},         // bump
        EdgeCase{9, None, None, None, None},
        EdgeCase{-1, None, None, None, None}),
    [](const auto& testInfo) { return "Style" + std::to_string(testInfo.param.style < 0 ? 99 : testInfo.param.style); });

TEST(DrawEdgeCornersTest, BottomAndRightOverwriteSharedCorners)
{
    const QPalette palette = EdgePalette();
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        DrawEdge(painter, image.rect(), 1, palette);
    }
    EXPECT_EQ(palette.color(QPalette::Midlight), QColor(image.pixel(0, 0)));
    EXPECT_EQ(palette.color(QPalette::Shadow), QColor(image.pixel(9, 0)));
    EXPECT_EQ(palette.color(QPalette::Shadow), QColor(image.pixel(0, 9)));
}

TEST(DrawEdgeWidthTest, WidthPerStyle)
{
    EXPECT_EQ(0, EdgeWidthForStyle(0));
    EXPECT_EQ(1, EdgeWidthForStyle(3));
    EXPECT_EQ(2, EdgeWidthForStyle(6));
    EXPECT_EQ(0, EdgeWidthForStyle(12));
}

} // namespace
} // namespace pixquill
