#pragma once

// The size rules of the four resize modes.

#include <cstdint>

namespace pixquill {

struct ThumbnailSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    friend bool operator==(const ThumbnailSize&, const ThumbnailSize&) = default;
};

// The source sizes as the load surface reports them: inner (drawable) and
// outer size, single precision. Borderless surfaces have both equal.
struct SourceSize {
    float InnerWidth = 0;
    float InnerHeight = 0;
    float OuterWidth = 0;
    float OuterHeight = 0;
};

// The size rules of the four resize modes; any other mode keeps the inner
// size. w and h are the job's width and height (the percentage in percent
// mode). Sizes of 0 or below are handed back as computed.
ThumbnailSize ComputeThumbnailSize(int resizeMode, const SourceSize& source, std::int32_t w,
                                   std::int32_t h);

} // namespace pixquill
