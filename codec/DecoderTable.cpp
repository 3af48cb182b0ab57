#include "codec/DecoderTable.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "codec/FreeImageDecoder.h"
#include "codec/HeifDecoder.h"
#include "codec/ImageHeader.h"
#include "codec/JxlDecoder.h"
#include "codec/RawDecoder.h"
#include "codec/ReducedJpeg.h"

namespace pixquill {

namespace {

bool SameExtension(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

bool TooLarge(std::uint64_t width, std::uint64_t height)
{
    return width == 0 || height == 0 ? false : DeclaredSize{width, height, 1}.Pixels() > kMaxPixels;
}

std::span<const DecoderRow> Decoders()
{
    // JPEG ahead of FreeImage, which reads JPEG too: its own row can decode
    // at a reduced scale when a thumbnail is all that is wanted. The formats
    // FreeImage cannot read go before it as well, so that its guesses by
    // content never claim them.
    // Camera RAW before FreeImage too: most RAW files are TIFF-structured,
    // and FreeImage's TIFF reader would take them and read only their first
    // directory, a small preview. FreeImage's own RAW reader is switched off,
    // so that its content guess (LibRaw opening whatever no reader before it
    // knew) never claims a file either.
    static const std::array<DecoderRow, 5> rows = [] {
        SwitchOffFreeImageRaw();
        return std::array<DecoderRow, 5>{{
            {"JPEG", RecognisedAsJpeg, JpegExtensions(), JpegUprightSize, DecodeJpeg},
            {"HEIF", RecognisedAsHeif, HeifExtensions(), HeifUprightSize, DecodeHeifRow},
            {"JPEG XL", RecognisedAsJxl, JxlExtensions(), nullptr, DecodeJxlRow},
            {"Camera RAW", RecognisedAsRaw, RawExtensions(), RawUprightSize, DecodeRaw},
            {"FreeImage", RecognisedByFreeImage, FreeImageExtensions(), nullptr, DecodeWithFreeImage},
        }};
    }();
    return rows;
}

const DecoderRow* FindDecoder(const ByteReader& read, std::int64_t size, std::string_view extension)
{
    for (const DecoderRow& row : Decoders()) {
        if (row.Recognises(read, size))
            return &row;
    }
    if (extension.empty())
        return nullptr;
    for (const DecoderRow& row : Decoders()) {
        for (const std::string_view known : row.Extensions) {
            if (SameExtension(known, extension))
                return &row;
        }
    }
    return nullptr;
}

std::string ExtensionOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    if (dot < 0 || dot < slash)
        return {};
    return path.mid(dot + 1).toStdString();
}

} // namespace pixquill
