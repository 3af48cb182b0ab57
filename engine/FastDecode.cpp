#include "engine/FastDecode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codec/HeifDecoder.h"
#include "codec/ReducedJpeg.h"
#include "codec/Surface.h"
#include "engine/ThumbnailSize.h"

namespace pixquill {

namespace {

// A reduced decode rounds each stored side up: its last column and row stand
// for a partial block of the image (1050 rows at 1/8 give 132 rows where
// 131.25 would be exact), which stretches the picture slightly against the
// thumbnail. Cutting the surplus back to the nearest whole number of rows
// and columns keeps the two within a fraction of a pixel. The surplus lies
// where the stored right and bottom edges end up once EXIF turned the image.
void TrimPartialBlocks(const JpegHeader& header, int scale, Surface& picLoad)
{
    const int keepWidth = std::max(1, static_cast<int>(std::lround(double(header.Width) / scale)));
    const int keepHeight = std::max(1, static_cast<int>(std::lround(double(header.Height) / scale)));
    const int surplusX = picLoad.Width() - keepWidth;
    const int surplusY = picLoad.Height() - keepHeight;
    if (surplusX < 0 || surplusY < 0 || (surplusX == 0 && surplusY == 0))
        return;
    // Orientations whose turn puts the stored right or bottom edge on the
    // left, or on the top, of the upright image.
    const int o = header.Orientation;
    const bool surplusLeft = o == 2 || o == 3 || o == 6 || o == 7;
    const bool surplusTop = o == 3 || o == 4 || o == 7 || o == 8;
    const int x0 = surplusLeft ? surplusX : 0;
    const int y0 = surplusTop ? surplusY : 0;
    if (x0 == 0 && y0 == 0) {
        picLoad.Resize(keepWidth, keepHeight); // keeps the top-left
        return;
    }
    const QImage kept = picLoad.Image().copy(x0, y0, keepWidth, keepHeight);
    picLoad.ResizeForOverwrite(keepWidth, keepHeight);
    QImage& image = picLoad.Image();
    for (int y = 0; y < keepHeight; ++y)
        std::memcpy(image.scanLine(y), kept.constScanLine(y), static_cast<std::size_t>(keepWidth) * 4);
}

// A HEIF or AVIF file's own thumbnail image, where it holds one large enough
// for the thumbnail wanted; the size comes from the primary image.
std::optional<RenderResult> RenderFromHeifThumbnail(const QString& sourcePath, int resizeMode,
                                                    int resampleFilter, std::int32_t w, std::int32_t h,
                                                    Surface& picLoad, Surface& picThumb, RenderOps& ops)
{
    const HeifInfo info = ReadHeifInfo(sourcePath);
    if (!info.Ok)
        return std::nullopt;
    const float width = static_cast<float>(info.Width);
    const float height = static_cast<float>(info.Height);
    const ThumbnailSize size = ComputeThumbnailSize(resizeMode, {width, height, width, height}, w, h);
    if (size.Width < 1 || size.Height < 1 || !LoadImageForThumbnail(sourcePath, picLoad, size.Width, size.Height).ok)
        return std::nullopt;
    RenderResult rendered = DrawThumbnail(picLoad, picThumb, size, resampleFilter, ops);
    rendered.SourceWidth = info.Width;
    rendered.SourceHeight = info.Height;
    return rendered;
}

} // namespace

std::optional<RenderResult> RenderFromReducedDecode(const QString& sourcePath, int resizeMode,
                                                    int resampleFilter, std::int32_t w, std::int32_t h,
                                                    Surface& picLoad, Surface& picThumb, RenderOps& ops)
{
    const JpegHeader header = ReadJpegHeader(sourcePath);
    if (!header.Ok)
        return RenderFromHeifThumbnail(sourcePath, resizeMode, resampleFilter, w, h, picLoad, picThumb, ops);
    // A full decode would leave a borderless load surface of exactly the
    // upright size, inner and outer alike.
    const float width = static_cast<float>(header.Width);
    const float height = static_cast<float>(header.Height);
    const ThumbnailSize size = ComputeThumbnailSize(resizeMode, {width, height, width, height}, w, h);
    const int scale = ChooseJpegScale(header, size.Width, size.Height);
    if (scale == 1)
        return std::nullopt;
    if (!LoadReducedJpegToSurface(sourcePath, header, scale, picLoad).ok)
        return std::nullopt;
    TrimPartialBlocks(header, scale, picLoad);
    RenderResult rendered = DrawThumbnail(picLoad, picThumb, size, resampleFilter, ops);
    rendered.SourceWidth = header.Width;
    rendered.SourceHeight = header.Height;
    return rendered;
}

} // namespace pixquill
