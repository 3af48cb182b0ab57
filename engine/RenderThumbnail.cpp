#include "engine/RenderThumbnail.h"

#include <QPainter>

#include "codec/RescaleSource.h"
#include "codec/Surface.h"
#include "codec/VectorUnit.h"
#include "engine/OptionTables.h"

namespace pixquill {

Bitmap RenderOps::BitmapFromPicture(const QImage& picture)
{
    // The surface's fourth byte never reaches a thumbnail: copy 24 bits.
    return RescaleSourceFromPicture(picture);
}

Bitmap RenderOps::RescaleBitmap(Bitmap& source, std::int32_t width, std::int32_t height,
                                bool releaseSource, int filter)
{
    return pixquill::RescaleBitmap(source, width, height, releaseSource, filter);
}

int RenderOps::PaintBitmapToDC(QImage* dc, FIBITMAP* bitmap)
{
    return pixquill::PaintBitmapToDC(dc, bitmap, 0, 0, 0, 0, 0, 0, 0, 0);
}

QImage RenderOps::StretchImage(const QImage& source, std::int32_t width, std::int32_t height)
{
    return source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

RenderOps& RenderOps::Default()
{
    static RenderOps ops;
    return ops;
}

RenderResult RenderThumbnail(const Surface& picLoad, Surface& picThumb, int resizeMode,
                             int resampleFilter, std::int32_t w, std::int32_t h, RenderOps& ops)
{
    const SourceSize source{static_cast<float>(picLoad.ScaleWidth()),
                            static_cast<float>(picLoad.ScaleHeight()),
                            static_cast<float>(picLoad.Width()),
                            static_cast<float>(picLoad.Height())};
    RenderResult result = DrawThumbnail(picLoad, picThumb, ComputeThumbnailSize(resizeMode, source, w, h),
                                        resampleFilter, ops);
    result.SourceWidth = picLoad.ScaleWidth();
    result.SourceHeight = picLoad.ScaleHeight();
    return result;
}

RenderResult DrawThumbnail(const Surface& picLoad, Surface& picThumb, ThumbnailSize size,
                           int resampleFilter, RenderOps& ops)
{
    RenderResult result;
    result.Size = size;
    const auto [a, b] = result.Size;

    picThumb.Cls();
    picThumb.SetWidth(a);
    picThumb.SetHeight(b);
    if (a < 1 || b < 1)
        return result;

    if (resampleFilter == kFilterHalftone) {
        // The whole loaded image stretched into the whole thumbnail.
        const QImage stretched = ops.StretchImage(picLoad.Image(), a, b);
        QPainter painter(&picThumb.Image());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, stretched);
        result.Drawn = !stretched.isNull();
        return result;
    }
    if (resampleFilter < kFilterBox || resampleFilter > kFilterLanczos3)
        return result;
    // Sizing the surface painted with Qt: hand FreeImage a clean vector unit.
    ClearUpperVectorState();

    Bitmap copy = ops.BitmapFromPicture(picLoad.Image());
    if (!copy)
        return result;
    // The copy is released as soon as the rescaled bitmap exists. Should
    // FreeImage fail to rescale, the copy comes back and is drawn 1:1,
    // clipped by the thumbnail surface.
    Bitmap thumb = ops.RescaleBitmap(copy, a, b, true, resampleFilter);
    ops.PaintBitmapToDC(&picThumb.Image(), thumb.get());
    result.Drawn = thumb != nullptr;
    return result;
}

} // namespace pixquill
