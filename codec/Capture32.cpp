#include "codec/Capture32.h"

#include <FreeImage.h>

#include "codec/RowReader.h"

namespace pixquill {

Bitmap Capture32(const QImage& image, std::uint8_t fourth)
{
    if (image.isNull())
        return {};
    const QImage rgb = IsRgb32Family(image.format()) && image.format() != QImage::Format_ARGB32_Premultiplied
        ? image
        : image.convertToFormat(QImage::Format_RGB32);
    const int width = rgb.width();
    const int height = rgb.height();
    Bitmap bitmap(FreeImage_Allocate(width, height, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!bitmap)
        return {};
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        BYTE* out = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
        for (int x = 0; x < width; ++x, out += 4) {
            out[FI_RGBA_RED] = static_cast<BYTE>(qRed(in[x]));
            out[FI_RGBA_GREEN] = static_cast<BYTE>(qGreen(in[x]));
            out[FI_RGBA_BLUE] = static_cast<BYTE>(qBlue(in[x]));
            out[FI_RGBA_ALPHA] = fourth;
        }
    }
    return bitmap;
}

} // namespace pixquill
