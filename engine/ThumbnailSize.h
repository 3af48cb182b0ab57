#pragma once

// The size rules of the resize modes.

#include <cstdint>

#include <QRect>
#include <QSize>

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

// The size rules of the resize modes; any other mode keeps the inner
// size. w and h are the job's width and height (the percentage in percent
// mode). Sizes of 0 or below are handed back as computed.
ThumbnailSize ComputeThumbnailSize(int resizeMode, const SourceSize& source, std::int32_t w,
                                   std::int32_t h);

// The largest part of a picture of size `picture` in the shape of `box`,
// centred: the whole height and the middle of the width for a picture wider
// than the box, and the other way round. Sides of at least 1 pixel.
QRect CentredCrop(QSize picture, QSize box);

} // namespace pixquill
