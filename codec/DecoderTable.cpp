#include "codec/DecoderTable.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "codec/FreeImageDecoder.h"
#include "codec/HeifDecoder.h"
#include "codec/ImageHeader.h"
#include "codec/JxlDecoder.h"
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
    static const std::array<DecoderRow, 4> rows{{
        {"JPEG", RecognisedAsJpeg, JpegExtensions(), JpegUprightSize, DecodeJpeg},
        {"HEIF", RecognisedAsHeif, HeifExtensions(), HeifUprightSize, DecodeHeifRow},
        {"JPEG XL", RecognisedAsJxl, JxlExtensions(), nullptr, DecodeJxlRow},
        {"FreeImage", RecognisedByFreeImage, FreeImageExtensions(), nullptr, DecodeWithFreeImage},
    }};
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
