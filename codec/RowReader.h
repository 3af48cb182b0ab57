#pragma once

// Pixel rows between FreeImage bitmaps and Qt images: reading any bitmap as
// rows of 8-bit colours, and copying blocks of it into an image 1:1.

#include <array>

#include <QImage>
#include <QRgb>

#include "codec/MFreeImage_2.h"

namespace pixquill {

// Reads any bitmap FreeImage hands us as rows of 8-bit-per-channel colours,
// top row first. Stored colour values are taken as they are: an alpha channel
// is ignored, palette entries are looked up, 16-bit channels keep their high
// byte and float channels are clamped to 0..1. Types without a colour meaning
// of their own (signed, 32-bit integer, double, complex) are scaled linearly
// into 8-bit grey first. The bitmap must outlive the reader.
class RowReader {
public:
    explicit RowReader(FIBITMAP* bitmap);

    bool Ok() const { return m_ok; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Pixels x0 .. x0 + count - 1 of row y (0 = top) as opaque QRgb values.
    void ReadRow(int y, int x0, int count, QRgb* out) const;

private:
    void LoadPalette();
    unsigned IndexAt(const unsigned char* line, int x) const;

    FIBITMAP* m_bitmap = nullptr;
    Bitmap m_converted;
    int m_type = 0; // FREE_IMAGE_TYPE, FIT_UNKNOWN until known
    unsigned m_bpp = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_ok = false;
    std::array<QRgb, 256> m_palette {};
};

// True for the image formats whose pixels are QRgb words.
inline bool IsRgb32Family(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
}

// Copies a w x h block whose top-left is (srcX, srcY) in the bitmap to
// (dstX, dstY) in the image, 1:1, clipped to both. Returns the rows drawn.
int CopyBlock(const RowReader& reader, int srcX, int srcY, int w, int h, QImage& dc, int dstX, int dstY);

} // namespace pixquill
