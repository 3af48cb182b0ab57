#include <optional>

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "codec/Surface.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"
#include "ui/display/mScaleImage.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

struct FitCase {
    const char* name;
    int sourceWidth, sourceHeight;
    int boxWidth, boxHeight;
    int margin;
    bool centre;
    QRect expected;
};

class FitTargetRectTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitTargetRectTest, PlacesThePicture)
{
    const FitCase& c = GetParam();
    const std::optional<QRect> r =
        FitTargetRect(c.sourceWidth, c.sourceHeight, c.boxWidth, c.boxHeight, c.margin, c.centre);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fits, FitTargetRectTest,
    ::testing::Values(
        FitCase{"WiderLimitedByWidth", 800, 600, 200, 200, 0, true, {0, 25, 200, 150}},
        // 200 x 667 after the width step, 60 x 200 after the height step.
        FitCase{"TallerLimitedByHeight", 300, 1000, 200, 200, 0, true, {70, 0, 60, 200}},
        FitCase{"SmallerNotEnlarged", 100, 50, 200, 200, 0, true, {50, 75, 100, 50}},
        // 318 / 1024 * 768 = 238.5, to even; one pixel free on every side.
        FitCase{"MarginTakenOnce", 1024, 768, 320, 240, 2, true, {1, 1, 318, 238}},
        // 223.5 rounds to 224; the picture reaches the bottom edge.
        FitCase{"NotCentredStartsAtMargin", 640, 480, 300, 240, 2, false, {2, 2, 298, 224}},
        // 200 x 239 after the width step, then round(200 / 239 * 200) = 167.
        FitCase{"RoundsAfterEachStep", 201, 240, 200, 200, 0, true, {16, 0, 167, 200}},
        FitCase{"ExactlyTheBoxIsOneToOne", 200, 200, 200, 200, 0, true, {0, 0, 200, 200}},
        // Strict tests: a side exactly as long as the room is not scaled.
        FitCase{"SideEqualToRoomKept", 198, 50, 200, 200, 2, true, {1, 75, 198, 50}},
        FitCase{"OddLeftoverHalfUpToEven", 150, 100, 201, 200, 0, true, {26, 50, 150, 100}},
        FitCase{"OddLeftoverHalfDownToEven", 150, 100, 199, 200, 0, true, {24, 50, 150, 100}},
        // Limited by height: exactly one pixel free above and below, at least
        // one on the sides (202 / 505 * 202 = 80.8).
        FitCase{"CentredMarginLimitedByHeight", 400, 1000, 204, 204, 2, true, {62, 1, 81, 202}},
        FitCase{"NotCentredSmallStaysAtMargin", 100, 50, 300, 240, 2, false, {2, 2, 100, 50}},
        // round(200 / 1000 * 1) = 0 would lose the picture entirely.
        FitCase{"ThinPictureKeepsOnePixel", 1000, 1, 200, 200, 0, true, {0, 100, 200, 1}},
        FitCase{"OnePixelBoxRoom", 50, 40, 3, 3, 2, true, {1, 1, 1, 1}}),
    [](const ::testing::TestParamInfo<FitCase>& testInfo) { return std::string(testInfo.param.name); });

struct NoFitCase {
    const char* name;
    int sourceWidth, sourceHeight, boxWidth, boxHeight, margin;
};

class FitTargetRectNothingTest : public ::testing::TestWithParam<NoFitCase> {};

TEST_P(FitTargetRectNothingTest, DrawsNothing)
{
    const NoFitCase& c = GetParam();
    EXPECT_FALSE(FitTargetRect(c.sourceWidth, c.sourceHeight, c.boxWidth, c.boxHeight, c.margin, true));
    EXPECT_FALSE(FitTargetRect(c.sourceWidth, c.sourceHeight, c.boxWidth, c.boxHeight, c.margin, false));
}

INSTANTIATE_TEST_SUITE_P(
    Empty, FitTargetRectNothingTest,
    ::testing::Values(NoFitCase{"NoWidth", 0, 100, 200, 200, 0}, NoFitCase{"NoHeight", 100, 0, 200, 200, 0},
                      NoFitCase{"NegativeSource", -5, 100, 200, 200, 0},
                      NoFitCase{"BoxEqualToMargin", 100, 100, 2, 200, 2},
                      NoFitCase{"BoxSmallerThanMargin", 100, 100, 200, 1, 2},
                      NoFitCase{"EmptyBox", 100, 100, 0, 0, 0}),
    [](const ::testing::TestParamInfo<NoFitCase>& testInfo) { return std::string(testInfo.param.name); });

// ---------------------------------------------------------------------------
// Drawing

const QColor kBack(10, 20, 30);

void LoadSource(Surface& source, const QImage& picture)
{
    source.Resize(picture.width(), picture.height());
    QPainter painter(&source.Image());
    painter.drawImage(0, 0, picture);
}

QImage Solid(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool IsBack(QRgb pixel)
{
    return pixel == kBack.rgb();
}

TEST(FitImageToBox, DrawsTheWholePictureReducedAndCentred)
{
    Surface source;
    LoadSource(source, test::QuadrantImage(800, 600));
    SurfaceWidget box;
    box.surface().SetBackColor(kBack);
    box.resize(200, 200);
    box.show(); // a hidden widget's surface follows its size only once shown
    ASSERT_EQ(box.surface().Image().size(), QSize(200, 200));

    FitImageToBox(source, box, 0, -1);

    const QImage& out = box.surface().Image();
    EXPECT_TRUE(IsBack(out.pixel(100, 24)));
    EXPECT_TRUE(IsBack(out.pixel(100, 175)));
    EXPECT_LE(test::ColourDistance(out.pixel(50, 60), qRgb(255, 0, 0)), 2);
    EXPECT_LE(test::ColourDistance(out.pixel(150, 60), qRgb(0, 255, 0)), 2);
    EXPECT_LE(test::ColourDistance(out.pixel(50, 140), qRgb(0, 0, 255)), 2);
    EXPECT_LE(test::ColourDistance(out.pixel(150, 140), qRgb(255, 255, 255)), 2);
    // The corners of the picture reach the edges of the target rectangle.
    EXPECT_LE(test::ColourDistance(out.pixel(0, 25), qRgb(255, 0, 0)), 2);
    EXPECT_LE(test::ColourDistance(out.pixel(199, 174), qRgb(255, 255, 255)), 2);
}

TEST(FitImageToBox, AveragesInsteadOfDroppingPixels)
{
    // One-pixel checks: dropping every other row and column would leave a
    // solid black or white picture; averaging gives grey.
    QImage checks(400, 400, QImage::Format_RGB32);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 400; ++x)
            checks.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    Surface source;
    LoadSource(source, checks);
    Surface box(200, 200, kBack);

    FitImageToBox(source, box, 0, -1);

    for (const QPoint p : {QPoint(10, 10), QPoint(100, 100), QPoint(57, 140), QPoint(190, 3)})
        EXPECT_LE(test::ColourDistance(box.Image().pixel(p), qRgb(128, 128, 128)), 16) << p.x() << "," << p.y();
}

TEST(FitImageToBox, SecondCallDoesNotMixWithTheFirst)
{
    Surface box(200, 200, kBack);
    Surface first;
    LoadSource(first, Solid(800, 600, Qt::red));
    FitImageToBox(first, box, 0, -1);
    Surface second;
    LoadSource(second, Solid(300, 1000, Qt::blue));
    FitImageToBox(second, box, 0, -1);

    const QRect target(70, 0, 60, 200);
    int wrong = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            const QRgb p = box.Image().pixel(x, y);
            const bool ok = target.contains(x, y) ? test::ColourDistance(p, qRgb(0, 0, 255)) <= 2 : IsBack(p);
            wrong += ok ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(FitImageToBox, SourceWithoutPixelsLeavesTheBoxCleared)
{
    Surface box(120, 80, kBack);
    box.Image().fill(Qt::yellow);
    int refreshes = 0;
    box.SetRefreshHandler([&] { ++refreshes; });
    Surface empty;

    FitImageToBox(empty, box, 0, -1);

    EXPECT_EQ(box.Image(), Solid(120, 80, kBack));
    EXPECT_EQ(refreshes, 1);
}

TEST(FitImageToBox, BoxNoLargerThanMarginIsOnlyCleared)
{
    Surface source;
    LoadSource(source, Solid(50, 50, Qt::red));
    Surface box(2, 2, kBack);
    box.Image().fill(Qt::yellow);

    FitImageToBox(source, box, 2, -1);

    EXPECT_EQ(box.Image(), Solid(2, 2, kBack));
}

TEST(FitImageToBox, LeavesTheSourceAloneAndRefreshesOnce)
{
    Surface source;
    const QImage picture = test::GradientImage(300, 120);
    LoadSource(source, picture);
    Surface box(100, 100, kBack);
    int refreshes = 0;
    box.SetRefreshHandler([&] { ++refreshes; });

    FitImageToBox(source, box, 2, 0);

    EXPECT_EQ(source.Image(), picture);
    EXPECT_EQ(refreshes, 1);
    // Not centred: the picture starts at the margin.
    EXPECT_TRUE(IsBack(box.Image().pixel(1, 1)));
    EXPECT_LE(test::ColourDistance(box.Image().pixel(2, 2), picture.pixel(0, 0)), 6);
}

TEST(FitImageToBox, SameSourceAndDestinationReadsBeforeClearing)
{
    Surface surface;
    LoadSource(surface, Solid(100, 50, Qt::green));
    surface.SetBackColor(kBack); // wipes; draw again
    LoadSource(surface, Solid(100, 50, Qt::green));

    FitImageToBox(surface, surface, 10, -1);

    // 90 x 45 after the width step, 80 x 40 after the height step, at (10, 5).
    EXPECT_LE(test::ColourDistance(surface.Image().pixel(50, 25), qRgb(0, 255, 0)), 2);
    EXPECT_TRUE(IsBack(surface.Image().pixel(50, 1)));
    EXPECT_TRUE(IsBack(surface.Image().pixel(2, 25)));
}

} // namespace
} // namespace pixquill
