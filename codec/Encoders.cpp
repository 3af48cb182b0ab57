#include "codec/Encoders.h"

#include <cstddef>

#include <QByteArray>

#include <FreeImage.h>

#include "codec/FileStream.h"
#include "codec/IcoWriter.h"
#include "codec/KeptMetadata.h"

namespace pixquill {

namespace {

void SetFourthByte(FIBITMAP* bitmap, BYTE value)
{
    const unsigned width = FreeImage_GetWidth(bitmap);
    const unsigned height = FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
        for (unsigned x = 0; x < width; ++x, p += 4)
            p[FI_RGBA_ALPHA] = value;
    }
}

} // namespace

Bitmap ConvertForFormat(Bitmap captured, FormatConversion conversion)
{
    Bitmap current = std::move(captured);
    if (!current)
        return current;
    switch (conversion) {
    case FormatConversion::To24Bits:
        current.reset(FreeImage_ConvertTo24Bits(current.get()));
        break;
    case FormatConversion::To24BitsWuPalette:
        current.reset(FreeImage_ConvertTo24Bits(current.get()));
        if (current)
            current.reset(FreeImage_ColorQuantize(current.get(), FIQ_WUQUANT));
        break;
    case FormatConversion::AsCapturedOpaque:
        // Readers take the fourth byte as alpha: make the thumbnail opaque.
        SetFourthByte(current.get(), 0xFF);
        break;
    case FormatConversion::AsCaptured:
        break; // the fourth byte stays 0
    }
    return current;
}

bool EncodeInto(FileStream& stream, int format, FIBITMAP* bitmap, int flags)
{
    const bool saved
        = FreeImage_SaveToHandle(static_cast<FREE_IMAGE_FORMAT>(format), bitmap, FileStream::Io(), &stream, flags)
        != FALSE;
    return stream.Flush() && saved;
}

bool EncodeWithFreeImage(FileStream& stream, FIBITMAP* bitmap, const OutputFormatEntry& format, int quality,
                         const KeptMetadata& metadata)
{
    return EncodeInto(stream, format.FreeImageFormat, bitmap, format.DefaultQuality > 0 ? quality : format.SaveFlags)
        && WriteKeptMetadata(stream, metadata);
}

std::vector<std::uint8_t> PackedRgbRows(FIBITMAP* bitmap)
{
    if (FreeImage_GetBPP(bitmap) != 24 || FreeImage_GetImageType(bitmap) != FIT_BITMAP)
        return {};
    const std::size_t width = FreeImage_GetWidth(bitmap);
    const std::size_t height = FreeImage_GetHeight(bitmap);
    std::vector<std::uint8_t> rgb(width * height * 3);
    std::uint8_t* out = rgb.data();
    for (std::size_t row = 0; row < height; ++row) {
        // FreeImage keeps the bottom row first.
        const BYTE* p = FreeImage_GetScanLine(bitmap, static_cast<int>(height - 1 - row));
        for (std::size_t x = 0; x < width; ++x, p += 3) {
            *out++ = p[FI_RGBA_RED];
            *out++ = p[FI_RGBA_GREEN];
            *out++ = p[FI_RGBA_BLUE];
        }
    }
    return rgb;
}

bool EncodeIcon(FileStream& stream, FIBITMAP* bitmap)
{
    if (EncodeInto(stream, FIF_ICO, bitmap, 0))
        return true;
    if (stream.Error() || !stream.Truncate())
        return false; // the disk, not the size, said no
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (!memory)
        return false;
    QByteArray icon;
    if (FreeImage_SaveToMemory(FIF_PNG, bitmap, memory, 0)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        if (FreeImage_AcquireMemory(memory, &data, &size) && data && size > 0) {
            const QByteArray png(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
            icon = WrapPngAsIcon(png, static_cast<int>(FreeImage_GetWidth(bitmap)),
                                 static_cast<int>(FreeImage_GetHeight(bitmap)),
                                 static_cast<int>(FreeImage_GetBPP(bitmap)));
        }
    }
    FreeImage_CloseMemory(memory);
    return !icon.isEmpty() && stream.Write(icon.constData(), static_cast<std::size_t>(icon.size())) && stream.Flush();
}

} // namespace pixquill
