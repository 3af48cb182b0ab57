#include "engine/ThumbnailSize.h"

#include <algorithm>

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
    case kResizeFill: // the picture is cropped to the box's shape first
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

QRect CentredCrop(QSize picture, QSize box)
{
    const qint64 pw = picture.width();
    const qint64 ph = picture.height();
    if (pw < 1 || ph < 1 || box.width() < 1 || box.height() < 1)
        return QRect(QPoint(0, 0), picture);
    // Compared in whole numbers: pw / ph against the box's width / height.
    if (pw * box.height() > ph * box.width()) {
        const auto width = static_cast<int>(std::max<qint64>(
            1, RoundHalfEven(static_cast<double>(ph) * box.width() / box.height())));
        return QRect(static_cast<int>((pw - width) / 2), 0, width, static_cast<int>(ph));
    }
    const auto height = static_cast<int>(std::max<qint64>(
        1, RoundHalfEven(static_cast<double>(pw) * box.height() / box.width())));
    return QRect(0, static_cast<int>((ph - height) / 2), static_cast<int>(pw), height);
}

} // namespace pixquill
