#include "engine/ThumbnailSize.h"

#include "codec/Rounding.h"
#include "engine/OptionTables.h"

namespace pixquill {

ThumbnailSize ComputeThumbnailSize(int resizeMode, const SourceSize& source, std::int32_t w,
                                   std::int32_t h)
{
    std::int32_t a = RoundHalfEven(source.InnerWidth);
    std::int32_t b = RoundHalfEven(source.InnerHeight);
    switch (resizeMode) {
    case kResizeMaintainAspect:
        // Width first, then the height on the rounded result of the width
        // step; strict comparisons, so a side equal to the box stays.
        if (a > w) {
            b = RoundHalfEven((static_cast<double>(w) / a) * b);
            a = w;
        }
        if (b > h) {
            a = RoundHalfEven((static_cast<double>(h) / b) * a);
            b = h;
        }
        break;
    case kResizeNone:
        a = RoundHalfEven(source.OuterWidth);
        b = RoundHalfEven(source.OuterHeight);
        break;
    case kResizeExact:
        a = w;
        b = h;
        break;
    case kResizePercent: {
        a = RoundHalfEven(static_cast<double>(source.OuterWidth) * w / 100.0);
        // The aspect ratio is taken in single precision and applied to the
        // already rounded width.
        const float ratio = source.OuterHeight / source.OuterWidth;
        b = RoundHalfEven(static_cast<double>(ratio) * a);
        break;
    }
    default:
        break;
    }
    return {a, b};
}

} // namespace pixquill
