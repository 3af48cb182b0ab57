#pragma once

// The thumbnail renderer: works out a thumbnail's size from the resize mode
// and the job's width and height, sizes the thumbnail surface to it and draws
// the loaded image into it, either with an area-averaging stretch (filter
// "None") or through FreeImage's rescaler with the chosen filter.

#include <cstdint>

#include <QImage>

#include "codec/MFreeImage_2.h"
#include "engine/ThumbnailSize.h"

namespace pixquill {

class Surface;

// The drawing calls the renderer makes, behind one seam so that a caller can
// watch (or replace) them. The defaults are the codec adapter's routines and
// Qt's smooth scaling; Default() is stateless and safe from any thread.
class RenderOps {
public:
    virtual ~RenderOps() = default;

    virtual Bitmap BitmapFromPicture(const QImage& picture);
    virtual Bitmap RescaleBitmap(Bitmap& source, std::int32_t width, std::int32_t height,
                                 bool releaseSource, int filter);
    virtual int PaintBitmapToDC(QImage* dc, FIBITMAP* bitmap);
    // Area average when shrinking, bilinear when enlarging; never FreeImage.
    virtual QImage StretchImage(const QImage& source, std::int32_t width, std::int32_t height);

    static RenderOps& Default();
};

struct RenderResult {
    ThumbnailSize Size;
    // False when nothing was drawn: a side below 1, an unknown filter code,
    // or no copy of the loaded image could be made.
    bool Drawn = false;
    // The size of the image drawn from, upright, as a full decode gives it
    // (RenderThumbnail and the fast road set it; DrawThumbnail leaves 0).
    std::int32_t SourceWidth = 0;
    std::int32_t SourceHeight = 0;
};

// Draws the image of picLoad into picThumb: clears picThumb, sizes it to the
// thumbnail size, then draws. resampleFilter 0..5 is a FreeImage filter, 6
// the area-averaging stretch. A size below 1 leaves picThumb cleared and
// clamped to it, with nothing drawn. picLoad is only read.
RenderResult RenderThumbnail(const Surface& picLoad, Surface& picThumb, int resizeMode,
                             int resampleFilter, std::int32_t w, std::int32_t h,
                             RenderOps& ops = RenderOps::Default());

// The drawing half of RenderThumbnail, for a size worked out elsewhere (from
// an image's real size when picLoad holds it decoded smaller): clears
// picThumb, sizes it to `size` and draws the whole of picLoad into it.
RenderResult DrawThumbnail(const Surface& picLoad, Surface& picThumb, ThumbnailSize size,
                           int resampleFilter, RenderOps& ops = RenderOps::Default());

} // namespace pixquill
