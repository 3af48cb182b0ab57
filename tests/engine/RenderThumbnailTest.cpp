#include <QPainter>

#include <gtest/gtest.h>

#include "codec/Surface.h"
#include "engine/OptionTables.h"
#include "engine/RenderThumbnail.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

// Counts the drawing calls and passes them on to the real ones, unless told
// to fail one.
class CountingOps : public RenderOps {
public:
    Bitmap BitmapFromPicture(const QImage& picture) override
    {
        ++Copies;
        return FailCopy ? Bitmap() : RenderOps::BitmapFromPicture(picture);
    }
    Bitmap RescaleBitmap(Bitmap& source, std::int32_t width, std::int32_t height, bool releaseSource,
                         int filter) override
    {
        ++Rescales;
        LastFilter = filter;
        if (FailRescale)
            return std::move(source); // what the adapter hands back when FreeImage fails
        return RenderOps::RescaleBitmap(source, width, height, releaseSource, filter);
    }
    int PaintBitmapToDC(QImage* dc, FIBITMAP* bitmap) override
    {
        ++Paints;
        return RenderOps::PaintBitmapToDC(dc, bitmap);
    }
    QImage StretchImage(const QImage& source, std::int32_t width, std::int32_t height) override
    {
        ++Stretches;
        return RenderOps::StretchImage(source, width, height);
    }

    int Copies = 0;
    int Rescales = 0;
    int Paints = 0;
    int Stretches = 0;
    int LastFilter = -1;
    bool FailCopy = false;
    bool FailRescale = false;
};

void LoadInto(Surface& surface, const QImage& image)
{
    surface.Resize(image.width(), image.height());
    QPainter painter(&surface.Image());
    painter.drawImage(0, 0, image);
}

class FilterPaths : public ::testing::TestWithParam<int> {};

TEST_P(FilterPaths, NoneStretchesAndTheOthersGoThroughFreeImage)
{
    const int index = GetParam();
    const int code = *ResampleFilterCodeAt(index);
    Surface picLoad;
    Surface picThumb(7, 7);
    LoadInto(picLoad, test::QuadrantImage(200, 100));
    CountingOps ops;

    const RenderResult result =
        RenderThumbnail(picLoad, picThumb, kResizeMaintainAspect, code, 100, 100, ops);

    EXPECT_TRUE(result.Drawn);
    EXPECT_EQ(result.Size, (ThumbnailSize{100, 50}));
    EXPECT_EQ(QSize(picThumb.Width(), picThumb.Height()), QSize(100, 50));
    if (code == kFilterHalftone) {
        EXPECT_EQ(ops.Stretches, 1);
        EXPECT_EQ(ops.Copies + ops.Rescales + ops.Paints, 0);
    } else {
        EXPECT_EQ(ops.Stretches, 0);
        EXPECT_EQ(ops.Copies, 1);
        EXPECT_EQ(ops.Rescales, 1);
        EXPECT_EQ(ops.Paints, 1);
        EXPECT_EQ(ops.LastFilter, code);
    }
    // The quadrants land where they belong, whichever path drew them.
    const QImage& thumb = picThumb.Image();
    EXPECT_LE(test::ColourDistance(thumb.pixel(20, 10), qRgb(255, 0, 0)), 8);
    EXPECT_LE(test::ColourDistance(thumb.pixel(80, 10), qRgb(0, 255, 0)), 8);
    EXPECT_LE(test::ColourDistance(thumb.pixel(20, 40), qRgb(0, 0, 255)), 8);
    EXPECT_LE(test::ColourDistance(thumb.pixel(80, 40), qRgb(255, 255, 255)), 8);
}

INSTANTIATE_TEST_SUITE_P(EveryListEntry, FilterPaths, ::testing::Range(0, kResampleFilterCount));

TEST(RenderThumbnail, FailedRescaleDrawsTheCopyUnscaledAndClipped)
{
    Surface picLoad;
    Surface picThumb;
    const QImage source = test::GradientImage(200, 100);
    LoadInto(picLoad, source);
    CountingOps ops;
    ops.FailRescale = true;
    const RenderResult result =
        RenderThumbnail(picLoad, picThumb, kResizeExact, kFilterBox, 50, 40, ops);
    EXPECT_TRUE(result.Drawn);
    EXPECT_EQ(QSize(picThumb.Width(), picThumb.Height()), QSize(50, 40));
    EXPECT_EQ(picThumb.Image().pixel(0, 0), source.pixel(0, 0));
    EXPECT_EQ(picThumb.Image().pixel(49, 39), source.pixel(49, 39));
}

TEST(RenderThumbnail, FailedCopyDrawsNothingButSizesTheSurface)
{
    Surface picLoad;
    Surface picThumb;
    LoadInto(picLoad, test::QuadrantImage(80, 60));
    CountingOps ops;
    ops.FailCopy = true;
    const RenderResult result =
        RenderThumbnail(picLoad, picThumb, kResizeMaintainAspect, kFilterLanczos3, 40, 40, ops);
    EXPECT_FALSE(result.Drawn);
    EXPECT_EQ(ops.Rescales + ops.Paints, 0);
    EXPECT_EQ(QSize(picThumb.Width(), picThumb.Height()), QSize(40, 30));
}

TEST(RenderThumbnail, SidesBelowOneAndUnknownFiltersDrawNothing)
{
    Surface picLoad;
    Surface picThumb(10, 10);
    LoadInto(picLoad, test::QuadrantImage(80, 60));
    CountingOps ops;
    EXPECT_FALSE(RenderThumbnail(picLoad, picThumb, kResizePercent, kFilterHalftone, 0, 0, ops).Drawn);
    EXPECT_FALSE(RenderThumbnail(picLoad, picThumb, kResizeExact, kFilterBox, -3, 20, ops).Drawn);
    EXPECT_EQ(QSize(picThumb.Width(), picThumb.Height()), QSize(0, 20));
    EXPECT_FALSE(RenderThumbnail(picLoad, picThumb, kResizeExact, 7, 20, 20, ops).Drawn);
    EXPECT_FALSE(RenderThumbnail(picLoad, picThumb, kResizeExact, -1, 20, 20, ops).Drawn);
    EXPECT_EQ(ops.Copies + ops.Rescales + ops.Paints + ops.Stretches, 0);
}

TEST(RenderThumbnail, NoResizeWithAFilterStillRedrawsAtTheSameSize)
{
    Surface picLoad;
    Surface picThumb;
    const QImage source = test::GradientImage(33, 17);
    LoadInto(picLoad, source);
    CountingOps ops;
    RenderThumbnail(picLoad, picThumb, kResizeNone, kFilterBilinear, 1, 1, ops);
    EXPECT_EQ(ops.Rescales, 1);
    EXPECT_EQ(picThumb.Image().size(), QSize(33, 17));
    EXPECT_LE(test::ColourDistance(picThumb.Image().pixel(16, 8), source.pixel(16, 8)), 2);
}

} // namespace
} // namespace pixquill
