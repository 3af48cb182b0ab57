#include "codec/ReducedJpeg.h"

#include <algorithm>
#include <cstdint>

#include <QFile>

#include <FreeImage.h>

#include "codec/Surface.h"

namespace pixquill {

namespace {

// As the full loader: headers declaring more pixels than this are refused.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

int ReducedSide(int side, int scale)
{
    return (side + scale - 1) / scale; // libjpeg rounds a scaled side up
}

} // namespace

JpegHeader ReadJpegHeader(const QString& path)
{
    JpegHeader header;
    const QByteArray name = QFile::encodeName(path);
    if (FreeImage_GetFileType(name.constData(), 0) != FIF_JPEG)
        return header;
    Bitmap bitmap(FreeImage_Load(FIF_JPEG, name.constData(), JPEG_ACCURATE | FIF_LOAD_NOPIXELS));
    if (!bitmap)
        return header;
    header.StoredWidth = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
    header.StoredHeight = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
    header.Width = header.StoredWidth;
    header.Height = header.StoredHeight;
    // Orientations 5 to 8 turn the picture a quarter: FreeImage's EXIF
    // rotation then swaps the sides.
    FITAG* tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_EXIF_MAIN, bitmap.get(), "Orientation", &tag) && tag
        && FreeImage_GetTagType(tag) == FIDT_SHORT && FreeImage_GetTagCount(tag) >= 1) {
        const WORD orientation = *static_cast<const WORD*>(FreeImage_GetTagValue(tag));
        if (orientation >= 1 && orientation <= 8)
            header.Orientation = orientation;
        if (orientation >= 5 && orientation <= 8)
            std::swap(header.Width, header.Height);
    }
    header.Ok = header.StoredWidth > 0 && header.StoredHeight > 0;
    return header;
}

int ChooseJpegScale(const JpegHeader& header, int thumbWidth, int thumbHeight)
{
    if (!header.Ok || thumbWidth < 1 || thumbHeight < 1)
        return 1;
    for (int scale : {8, 4, 2}) {
        if (ReducedSide(header.Width, scale) >= 2 * std::int64_t{thumbWidth}
            && ReducedSide(header.Height, scale) >= 2 * std::int64_t{thumbHeight})
            return scale;
    }
    return 1;
}

LoadResult LoadReducedJpegToSurface(const QString& path, const JpegHeader& header, int scale,
                                    Surface& picLoad)
{
    LoadResult result;
    if (!header.Ok || (scale != 1 && scale != 2 && scale != 4 && scale != 8)) {
        result.error = QStringLiteral("not a JPEG that can be decoded reduced");
        return result;
    }
    if (std::uint64_t(header.StoredWidth) * std::uint64_t(header.StoredHeight) > kMaxPixels) {
        result.error = QStringLiteral("image too large");
        return result;
    }
    // FreeImage takes a size in the upper 16 bits of the flags and divides
    // the longer stored side by it, choosing the largest of 8, 4 and 2 the
    // quotient reaches: the longer side over the scale picks exactly `scale`.
    const int longer = std::max(header.StoredWidth, header.StoredHeight);
    const int hint = scale == 1 ? 0 : std::min(longer / scale, 0x7FFF);
    const QByteArray name = QFile::encodeName(path);
    Bitmap bitmap(FreeImage_Load(FIF_JPEG, name.constData(), JPEG_ACCURATE | JPEG_EXIFROTATE | (hint << 16)));
    if (!bitmap || !FreeImage_HasPixels(bitmap.get())) {
        result.error = QStringLiteral("cannot decode the image");
        return result;
    }
    // The JPEG reader hands out grey, colour or CMYK-turned-colour bitmaps;
    // anything else is left to the full loader.
    const unsigned bpp = FreeImage_GetBPP(bitmap.get());
    if (FreeImage_GetImageType(bitmap.get()) != FIT_BITMAP || (bpp != 8 && bpp != 24 && bpp != 32)) {
        result.error = QStringLiteral("unsupported pixel type");
        return result;
    }
    const int width = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
    const int height = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
    picLoad.ResizeForOverwrite(width, height);
    if (picLoad.Image().isNull() || picLoad.ScaleWidth() != width || picLoad.ScaleHeight() != height) {
        result.error = QStringLiteral("not enough memory for the image");
        return result;
    }
    DrawBitmapToDC(bitmap.get(), picLoad.Image(), width, height);
    result.ok = true;
    return result;
}

} // namespace pixquill
