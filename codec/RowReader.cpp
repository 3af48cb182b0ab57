#include "codec/RowReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <QPainter>

#include <FreeImage.h>

#include "codec/Rounding.h"

namespace pixquill {

namespace {

std::uint8_t FloatToByte(float value)
{
    if (!(value > 0.0f)) // also NaN
        return 0;
    if (value >= 1.0f)
        return 255;
    return static_cast<std::uint8_t>(RoundHalfEven(static_cast<double>(value) * 255.0));
}

} // namespace

RowReader::RowReader(FIBITMAP* bitmap)
    : m_bitmap(bitmap)
{
    if (!m_bitmap || !FreeImage_HasPixels(m_bitmap))
        return;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(m_bitmap);
    if (type == FIT_BITMAP && FreeImage_GetBPP(m_bitmap) == 16) {
        // 5-5-5 or 5-6-5 colour: FreeImage knows the masks.
        m_converted.reset(FreeImage_ConvertTo24Bits(m_bitmap));
        m_bitmap = m_converted.get();
    } else if (type == FIT_INT16 || type == FIT_UINT32 || type == FIT_INT32
               || type == FIT_DOUBLE || type == FIT_COMPLEX) {
        m_converted.reset(FreeImage_ConvertToStandardType(m_bitmap, TRUE));
        m_bitmap = m_converted.get();
    }
    if (!m_bitmap)
        return;
    m_type = FreeImage_GetImageType(m_bitmap);
    m_bpp = FreeImage_GetBPP(m_bitmap);
    m_width = static_cast<int>(FreeImage_GetWidth(m_bitmap));
    m_height = static_cast<int>(FreeImage_GetHeight(m_bitmap));
    switch (m_type) {
    case FIT_BITMAP:
        m_ok = m_bpp == 1 || m_bpp == 4 || m_bpp == 8 || m_bpp == 24 || m_bpp == 32;
        if (m_bpp <= 8)
            LoadPalette();
        break;
    case FIT_UINT16:
    case FIT_RGB16:
    case FIT_RGBA16:
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF:
        m_ok = true;
        break;
    default:
        m_ok = false;
    }
}

void RowReader::ReadRow(int y, int x0, int count, QRgb* out) const
{
    const BYTE* line = FreeImage_GetScanLine(m_bitmap, m_height - 1 - y);
    switch (m_type) {
    case FIT_BITMAP:
        if (m_bpp == 24 || m_bpp == 32) {
            const int step = static_cast<int>(m_bpp / 8);
            const BYTE* p = line + static_cast<std::ptrdiff_t>(x0) * step;
            for (int i = 0; i < count; ++i, p += step)
                out[i] = qRgb(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]);
        } else {
            for (int i = 0; i < count; ++i)
                out[i] = m_palette[IndexAt(line, x0 + i)];
        }
        break;
    case FIT_UINT16: {
        const auto* p = reinterpret_cast<const WORD*>(line) + x0;
        for (int i = 0; i < count; ++i) {
            const int v = p[i] >> 8;
            out[i] = qRgb(v, v, v);
        }
        break;
    }
    case FIT_RGB16: {
        const auto* p = reinterpret_cast<const FIRGB16*>(line) + x0;
        for (int i = 0; i < count; ++i)
            out[i] = qRgb(p[i].red >> 8, p[i].green >> 8, p[i].blue >> 8);
        break;
    }
    case FIT_RGBA16: {
        const auto* p = reinterpret_cast<const FIRGBA16*>(line) + x0;
        for (int i = 0; i < count; ++i)
            out[i] = qRgb(p[i].red >> 8, p[i].green >> 8, p[i].blue >> 8);
        break;
    }
    case FIT_FLOAT: {
        const auto* p = reinterpret_cast<const float*>(line) + x0;
        for (int i = 0; i < count; ++i) {
            const int v = FloatToByte(p[i]);
            out[i] = qRgb(v, v, v);
        }
        break;
    }
    case FIT_RGBF: {
        const auto* p = reinterpret_cast<const FIRGBF*>(line) + x0;
        for (int i = 0; i < count; ++i)
            out[i] = qRgb(FloatToByte(p[i].red), FloatToByte(p[i].green), FloatToByte(p[i].blue));
        break;
    }
    case FIT_RGBAF: {
        const auto* p = reinterpret_cast<const FIRGBAF*>(line) + x0;
        for (int i = 0; i < count; ++i)
            out[i] = qRgb(FloatToByte(p[i].red), FloatToByte(p[i].green), FloatToByte(p[i].blue));
        break;
    }
    default:
        std::fill(out, out + count, qRgb(0, 0, 0));
    }
}

void RowReader::LoadPalette()
{
    // Without a palette (should not happen) indices count as grey levels.
    const unsigned levels = 1u << m_bpp;
    for (unsigned i = 0; i < 256; ++i) {
        const int grey = levels > 1 ? static_cast<int>(std::min(i, levels - 1) * 255 / (levels - 1)) : 0;
        m_palette[i] = qRgb(grey, grey, grey);
    }
    const RGBQUAD* palette = FreeImage_GetPalette(m_bitmap);
    const unsigned used = std::min(FreeImage_GetColorsUsed(m_bitmap), 256u);
    if (!palette)
        return;
    for (unsigned i = 0; i < used; ++i)
        m_palette[i] = qRgb(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);
    // Indices beyond the palette read as black, as the display would.
    for (unsigned i = used; i < 256; ++i)
        m_palette[i] = qRgb(0, 0, 0);
}

unsigned RowReader::IndexAt(const unsigned char* line, int x) const
{
    switch (m_bpp) {
    case 1:
        return (line[x >> 3] >> (7 - (x & 7))) & 0x01;
    case 4:
        return (line[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    default:
        return line[x];
    }
}

int CopyBlock(const RowReader& reader, int srcX, int srcY, int w, int h, QImage& dc, int dstX, int dstY)
{
    // Clip against the bitmap, moving the destination along.
    if (srcX < 0) { dstX -= srcX; w += srcX; srcX = 0; }
    if (srcY < 0) { dstY -= srcY; h += srcY; srcY = 0; }
    w = std::min(w, reader.Width() - srcX);
    h = std::min(h, reader.Height() - srcY);
    // Then against the image.
    if (dstX < 0) { srcX -= dstX; w += dstX; dstX = 0; }
    if (dstY < 0) { srcY -= dstY; h += dstY; dstY = 0; }
    w = std::min(w, dc.width() - dstX);
    h = std::min(h, dc.height() - dstY);
    if (w <= 0 || h <= 0)
        return 0;

    if (IsRgb32Family(dc.format())) {
        for (int row = 0; row < h; ++row) {
            auto* out = reinterpret_cast<QRgb*>(dc.scanLine(dstY + row)) + dstX;
            reader.ReadRow(srcY + row, srcX, w, out);
        }
        return h;
    }
    // Any other image format: go through an RGB32 block and let Qt convert.
    QImage block(w, h, QImage::Format_RGB32);
    if (block.isNull())
        return 0;
    for (int row = 0; row < h; ++row)
        reader.ReadRow(srcY + row, srcX, w, reinterpret_cast<QRgb*>(block.scanLine(row)));
    QPainter painter(&dc);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(dstX, dstY, block);
    return h;
}

} // namespace pixquill
