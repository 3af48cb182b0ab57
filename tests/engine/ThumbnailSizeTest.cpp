#include <cstdint>
#include <limits>
#include <ostream>

#include <gtest/gtest.h>

#include "engine/OptionTables.h"
#include "engine/ThumbnailSize.h"

namespace pixquill {

void PrintTo(const ThumbnailSize& size, std::ostream* os)
{
    *os << size.Width << " x " << size.Height;
}

namespace {

struct SizeCase {
    const char* What;
    int Mode;
    float SourceWidth;
    float SourceHeight;
    std::int32_t W;
    std::int32_t H;
    ThumbnailSize Expected;
};

std::ostream& operator<<(std::ostream& os, const SizeCase& c)
{
    return os << c.What;
}

class SizeRules : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeRules, GiveTheThumbnailSize)
{
    const SizeCase& c = GetParam();
    const SourceSize source{c.SourceWidth, c.SourceHeight, c.SourceWidth, c.SourceHeight};
    EXPECT_EQ(ComputeThumbnailSize(c.Mode, source, c.W, c.H), c.Expected) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SizeRules,
    ::testing::Values(
        // Fit inside the box: width first, then the height on the rounded width.
        SizeCase{"landscape fits by width", kResizeMaintainAspect, 800, 600, 100, 100, {100, 75}},
        SizeCase{"portrait takes both steps", kResizeMaintainAspect, 600, 800, 100, 100, {75, 100}},
        SizeCase{"two steps differ from one", kResizeMaintainAspect, 101, 127, 100, 100, {79, 100}},
        SizeCase{"small image kept", kResizeMaintainAspect, 50, 40, 100, 100, {50, 40}},
        SizeCase{"side equal to the box kept", kResizeMaintainAspect, 100, 100, 100, 100, {100, 100}},
        SizeCase{"height only", kResizeMaintainAspect, 100, 150, 100, 100, {67, 100}},
        SizeCase{"half goes down to even", kResizeMaintainAspect, 200, 101, 100, 100, {100, 50}},
        SizeCase{"half goes up to even", kResizeMaintainAspect, 200, 103, 100, 100, {100, 52}},
        SizeCase{"height box limits while disabled", kResizeMaintainAspect, 400, 400, 300, 50, {50, 50}},
        SizeCase{"zero width box", kResizeMaintainAspect, 800, 600, 0, 100, {0, 0}},
        SizeCase{"negative width box", kResizeMaintainAspect, 800, 600, -5, 100, {-5, -4}},
        // Convert only: the loaded size, whatever the boxes hold.
        SizeCase{"no resize", kResizeNone, 1234, 567, 100, 100, {1234, 567}},
        SizeCase{"no resize ignores boxes", kResizeNone, 30, 20, -1, 0, {30, 20}},
        // Exact: the boxes, enlarging and distorting as need be.
        SizeCase{"exact shrinks", kResizeExact, 800, 600, 120, 80, {120, 80}},
        SizeCase{"exact enlarges", kResizeExact, 10, 30, 120, 80, {120, 80}},
        SizeCase{"exact passes zero on", kResizeExact, 10, 30, 0, 80, {0, 80}},
        // Percent: width rounded first, the single-precision ratio times it.
        SizeCase{"percent half to even", kResizePercent, 1001, 1001, 50, 0, {500, 500}},
        SizeCase{"percent ratio on rounded width", kResizePercent, 801, 601, 50, 0, {400, 300}},
        SizeCase{"percent enlarges", kResizePercent, 40, 30, 250, 0, {100, 75}},
        SizeCase{"percent single ratio rounds down", kResizePercent, 6, 7, 50, 0, {3, 3}},
        SizeCase{"percent single ratio rounds up", kResizePercent, 6, 13, 50, 0, {3, 7}},
        SizeCase{"percent zero", kResizePercent, 800, 600, 0, 0, {0, 0}},
        // No selected mode: the loaded size.
        SizeCase{"no mode selected", -1, 640, 480, 100, 100, {640, 480}},
        // Fill: the box, the picture cropped to its shape beforehand.
        SizeCase{"fill is the box", kResizeFill, 800, 600, 120, 120, {120, 120}},
        SizeCase{"mode out of range", 5, 640, 480, 100, 100, {640, 480}}));

struct CropCase {
    QSize Picture;
    QSize Box;
    QRect Crop;
};

class CentredCrops : public ::testing::TestWithParam<CropCase> {};

TEST_P(CentredCrops, KeepTheMiddleInTheBoxsShape)
{
    EXPECT_EQ(CentredCrop(GetParam().Picture, GetParam().Box), GetParam().Crop);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CentredCrops,
    ::testing::Values(CropCase{{400, 300}, {100, 100}, {50, 0, 300, 300}},   // landscape into a square
                      CropCase{{300, 400}, {100, 100}, {0, 50, 300, 300}},   // portrait into a square
                      CropCase{{400, 300}, {200, 100}, {0, 50, 400, 200}},   // into a wider box
                      CropCase{{401, 300}, {1, 1}, {50, 0, 300, 300}},       // odd margin: left floor
                      CropCase{{300, 300}, {160, 90}, {0, 65, 300, 169}},    // 168.75 rounds up
                      CropCase{{5000, 2}, {1, 3000}, {2499, 0, 1, 2}},       // never below 1 pixel
                      CropCase{{640, 480}, {0, 100}, {0, 0, 640, 480}}));    // no box: the whole

TEST(SizeRules, NoResizeReadsTheOuterSizeAndOtherModesTheInner)
{
    // A surface with a 2-pixel border on each side.
    const SourceSize bordered{96, 46, 100, 50};
    EXPECT_EQ(ComputeThumbnailSize(kResizeNone, bordered, 0, 0), (ThumbnailSize{100, 50}));
    EXPECT_EQ(ComputeThumbnailSize(-1, bordered, 0, 0), (ThumbnailSize{96, 46}));
    EXPECT_EQ(ComputeThumbnailSize(kResizeMaintainAspect, bordered, 1000, 1000),
              (ThumbnailSize{96, 46}));
    EXPECT_EQ(ComputeThumbnailSize(kResizePercent, bordered, 50, 0), (ThumbnailSize{50, 25}));
}

TEST(SizeRules, ExtremeBoxesDoNotOverflow)
{
    const SourceSize big{60000, 60000, 60000, 60000};
    const auto max = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(ComputeThumbnailSize(kResizeMaintainAspect, big, max, max), (ThumbnailSize{60000, 60000}));
    // 60000 * 10^7 % does not fit 32 bits: saturates instead of wrapping.
    EXPECT_EQ(ComputeThumbnailSize(kResizePercent, big, 10000000, 0).Width, max);
    const SourceSize empty{0, 0, 0, 0};
    const ThumbnailSize none = ComputeThumbnailSize(kResizePercent, empty, 50, 0);
    EXPECT_EQ(none.Width, 0);
    EXPECT_LT(none.Height, 1);
}

} // namespace
} // namespace pixquill
