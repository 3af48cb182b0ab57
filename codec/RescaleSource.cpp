#include "codec/RescaleSource.h"

#include <FreeImage.h>

namespace pixquill {

Bitmap RescaleSourceFromPicture(const QImage& picture)
{
    if (picture.format() != QImage::Format_RGB32)
        return BitmapFromPicture(picture);
    const int width = picture.width();
    const int height = picture.height();
    Bitmap bitmap(FreeImage_Allocate(width, height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!bitmap)
        return {};
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        BYTE* out = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
        for (int x = 0; x < width; ++x, out += 3) {
            out[FI_RGBA_RED] = static_cast<BYTE>(qRed(in[x]));
            out[FI_RGBA_GREEN] = static_cast<BYTE>(qGreen(in[x]));
            out[FI_RGBA_BLUE] = static_cast<BYTE>(qBlue(in[x]));
        }
    }
    return bitmap;
}

} // namespace pixquill
