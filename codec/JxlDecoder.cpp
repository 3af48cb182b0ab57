#include "codec/JxlDecoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <FreeImage.h>
#include <jxl/decode.h>

#include "codec/HdrToSdr.h"
#include "codec/HeifDecoder.h"

namespace pixquill {
namespace {

// The header and colour description sit at the start; a first small read
// answers them and refuses a hostile size without reading the rest.
constexpr std::int64_t kFirstChunk = 64 * 1024;
constexpr std::int64_t kLaterChunk = 16 * 1024 * 1024;

struct DecoderDestroy {
    void operator()(JxlDecoder* decoder) const noexcept { JxlDecoderDestroy(decoder); }
};

// Feeds the file to the decoder chunk by chunk, keeping the bytes it has not
// used yet in front of the next chunk, as libjxl wants them again.
class Input {
public:
    Input(JxlDecoder* decoder, const ByteReader& read, std::int64_t size)
        : m_decoder(decoder)
        , m_read(read)
        , m_size(std::max<std::int64_t>(size, 0))
    {
    }

    // Hands the decoder the next chunk; false when the whole file has been
    // handed over already.
    bool More()
    {
        const std::size_t unused = m_given ? JxlDecoderReleaseInput(m_decoder) : 0;
        if (m_offset >= m_size)
            return false;
        if (unused > 0)
            std::memmove(m_buffer.data(), m_buffer.data() + (m_buffer.size() - unused), unused);
        const std::int64_t chunk = std::min(m_offset == 0 ? kFirstChunk : kLaterChunk, m_size - m_offset);
        m_buffer.resize(unused + std::size_t(chunk));
        const std::int64_t got = std::max<std::int64_t>(m_read(m_offset, m_buffer.data() + unused, chunk), 0);
        m_buffer.resize(unused + std::size_t(got));
        m_offset += got;
        if (got < chunk) // the file ended early: it is as long as what we have
            m_size = m_offset;
        m_given = true;
        // The input is never closed: a decoder that wants more after the
        // end of a closed input prints its complaint to stderr. Running out
        // here says the same, silently.
        return JxlDecoderSetInput(m_decoder, m_buffer.data(), m_buffer.size()) == JXL_DEC_SUCCESS;
    }

private:
    JxlDecoder* m_decoder;
    const ByteReader& m_read;
    std::int64_t m_size;
    std::int64_t m_offset = 0;
    bool m_given = false;
    std::vector<std::uint8_t> m_buffer;
};

// Where the decoder's rows go: straight into the bitmap, top row first in the
// decoder's order, bottom row first in FreeImage's.
struct Output {
    FIBITMAP* Bitmap = nullptr;
    std::size_t Width = 0;
    std::size_t Height = 0;
    std::size_t Channels = 3;
    bool Deep = false;
};

void WriteRow(void* opaque, std::size_t x, std::size_t y, std::size_t count, const void* pixels)
{
    const Output& out = *static_cast<const Output*>(opaque);
    if (y >= out.Height || x >= out.Width || count > out.Width - x)
        return;
    BYTE* line = FreeImage_GetScanLine(out.Bitmap, unsigned(out.Height - 1 - y));
    if (out.Deep || out.Channels == 1) {
        // 16-bit samples in native order are FIRGB16 / FIRGBA16 / FIT_UINT16
        // as they are; 8-bit grey is the palette index.
        const std::size_t bytes = out.Channels * (out.Deep ? 2 : 1);
        std::memcpy(line + x * bytes, pixels, count * bytes);
        return;
    }
    const auto* in = static_cast<const std::uint8_t*>(pixels);
    BYTE* at = line + x * out.Channels;
    for (std::size_t i = 0; i < count; ++i, in += out.Channels, at += out.Channels) {
        at[FI_RGBA_RED] = in[0];
        at[FI_RGBA_GREEN] = in[1];
        at[FI_RGBA_BLUE] = in[2];
        if (out.Channels == 4)
            at[FI_RGBA_ALPHA] = in[3];
    }
}

Bitmap AllocateFor(const Output& out)
{
    const int w = int(out.Width);
    const int h = int(out.Height);
    if (out.Channels == 1 && !out.Deep) {
        Bitmap bitmap(FreeImage_Allocate(w, h, 8));
        if (RGBQUAD* palette = bitmap ? FreeImage_GetPalette(bitmap.get()) : nullptr) {
            for (int i = 0; i < 256; ++i)
                palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
        }
        return bitmap;
    }
    if (out.Channels == 1)
        return Bitmap(FreeImage_AllocateT(FIT_UINT16, w, h));
    if (out.Deep)
        return Bitmap(FreeImage_AllocateT(out.Channels == 4 ? FIT_RGBA16 : FIT_RGB16, w, h));
    return Bitmap(FreeImage_Allocate(w, h, int(8 * out.Channels), FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                     FI_RGBA_BLUE_MASK));
}

JxlColorEncoding Srgb(bool grey)
{
    JxlColorEncoding srgb{};
    srgb.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
    srgb.white_point = JXL_WHITE_POINT_D65;
    srgb.primaries = JXL_PRIMARIES_SRGB;
    srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    srgb.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    return srgb;
}

bool IsSrgb(const JxlColorEncoding& encoding)
{
    return encoding.white_point == JXL_WHITE_POINT_D65 && encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB
           && (encoding.color_space == JXL_COLOR_SPACE_GRAY
               || (encoding.color_space == JXL_COLOR_SPACE_RGB && encoding.primaries == JXL_PRIMARIES_SRGB));
}

// The colours of the samples the decoder hands over: empty for sRGB,
// otherwise as an ICC profile (the file's own, or one libjxl makes from the
// encoded description).
QByteArray DataProfile(const JxlDecoder* decoder)
{
    JxlColorEncoding encoding{};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding)
            == JXL_DEC_SUCCESS
        && IsSrgb(encoding))
        return {};
    std::size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS
        || size == 0)
        return {};
    QByteArray icc(qsizetype(size), Qt::Uninitialized);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<std::uint8_t*>(icc.data()), size)
        != JXL_DEC_SUCCESS)
        return {};
    return icc;
}

// The ITU-T H.273 primaries of an RGB colour encoding; 0 for custom ones.
int H273Primaries(const JxlColorEncoding& encoding)
{
    const bool d65 = encoding.white_point == JXL_WHITE_POINT_D65;
    switch (encoding.primaries) {
    case JXL_PRIMARIES_SRGB:
        return d65 ? 1 : 0;
    case JXL_PRIMARIES_2100:
        return d65 ? 9 : 0;
    case JXL_PRIMARIES_P3:
        return d65 ? 12 : encoding.white_point == JXL_WHITE_POINT_DCI ? 11 : 0;
    default:
        return 0;
    }
}

// A PQ or HLG picture's colour encoding, for the tone mapping into SDR that
// HEIF's pictures get too; nothing for any other.
std::optional<JxlColorEncoding> HdrEncoding(const JxlDecoder* decoder)
{
    JxlColorEncoding original{};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &original)
            != JXL_DEC_SUCCESS
        || original.color_space != JXL_COLOR_SPACE_RGB || !IsHdrTransfer(int(original.transfer_function))
        || H273Primaries(original) == 0)
        return std::nullopt;
    return original;
}

bool SamplesEncodedAs(const JxlDecoder* decoder, const JxlColorEncoding& wanted)
{
    JxlColorEncoding data{};
    return JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &data)
               == JXL_DEC_SUCCESS
           && data.color_space == wanted.color_space && data.transfer_function == wanted.transfer_function
           && H273Primaries(data) == H273Primaries(wanted);
}

DecodedImage Refused(QString error)
{
    DecodedImage result;
    result.Error = std::move(error);
    return result;
}

} // namespace

bool LooksLikeJxl(const ByteReader& read)
{
    std::array<std::uint8_t, 12> start{};
    const std::int64_t got = read(0, start.data(), std::int64_t(start.size()));
    if (got < 2)
        return false;
    const JxlSignature signature = JxlSignatureCheck(start.data(), std::size_t(got));
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

DecodedImage DecodeJxl(const ByteReader& read, std::int64_t size)
{
    const std::unique_ptr<JxlDecoder, DecoderDestroy> decoder(JxlDecoderCreate(nullptr));
    if (!decoder)
        return Refused(QStringLiteral("not enough memory for the image"));
    JxlDecoder* dec = decoder.get();
    // The stored orientation is applied by default; asked for all the same,
    // as the sizes in the basic info then are the upright ones too.
    if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE)
            != JXL_DEC_SUCCESS
        || JxlDecoderSetKeepOrientation(dec, JXL_FALSE) != JXL_DEC_SUCCESS
        || JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE) != JXL_DEC_SUCCESS)
        return Refused(QStringLiteral("cannot decode the image (decoder setup failed)"));

    Input input(dec, read, size);
    JxlBasicInfo info{};
    Output out;
    JxlPixelFormat format{};
    std::optional<JxlColorEncoding> hdr;
    DecodedImage result;
    for (;;) {
        switch (JxlDecoderProcessInput(dec)) {
        case JXL_DEC_NEED_MORE_INPUT:
            if (!input.More())
                return Refused(QStringLiteral("cannot decode the image (image data cut short)"));
            break;
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS || info.xsize == 0 || info.ysize == 0)
                return Refused(QStringLiteral("cannot decode the image (unreadable header)"));
            if (std::uint64_t(info.xsize) * info.ysize > kMaxPixels)
                return Refused(QStringLiteral("image too large"));
            out.Width = info.xsize;
            out.Height = info.ysize;
            out.Deep = info.bits_per_sample > 8 || info.exponent_bits_per_sample > 0;
            out.Channels = info.num_color_channels == 1 ? 1 : info.alpha_bits > 0 ? 4 : 3;
            // Float samples are asked for as 16-bit integers: clamped to 0..1.
            format = {std::uint32_t(out.Channels), out.Deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
                      JXL_NATIVE_ENDIAN, 0};
            break;
        case JXL_DEC_COLOR_ENCODING:
            hdr = HdrEncoding(dec);
            if (!info.uses_original_profile) {
                // An HDR picture comes out in its own encoding, tone-mapped
                // below; libjxl would clip it into sRGB.
                const JxlColorEncoding preferred = hdr ? *hdr : Srgb(info.num_color_channels == 1);
                JxlDecoderSetPreferredColorProfile(dec, &preferred);
            }
            result.IccProfile = DataProfile(dec);
            // Tone-mapped only when the samples do come in that encoding.
            if (hdr && !SamplesEncodedAs(dec, *hdr))
                hdr.reset();
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            if (!result.Image) {
                result.Image = AllocateFor(out);
                if (!result.Image)
                    return Refused(QStringLiteral("not enough memory for the image"));
                out.Bitmap = result.Image.get();
            }
            if (JxlDecoderSetImageOutCallback(dec, &format, WriteRow, &out) != JXL_DEC_SUCCESS)
                return Refused(QStringLiteral("cannot decode the image (unsupported pixel format)"));
            break;
        case JXL_DEC_FULL_IMAGE:
            // The first frame as shown is the picture; animations stop here.
            if (hdr) {
                QByteArray mapped = IccProfileFromNclx(H273Primaries(*hdr), int(hdr->transfer_function),
                                                       BrightestSample(result.Image.get()));
                if (!mapped.isEmpty())
                    result.IccProfile = std::move(mapped);
            }
            return result;
        case JXL_DEC_SUCCESS:
            return Refused(QStringLiteral("cannot decode the image (no image in the file)"));
        default:
            return Refused(QStringLiteral("cannot decode the image (damaged image data)"));
        }
    }
}

bool RecognisedAsJxl(const ByteReader& read, std::int64_t)
{
    return LooksLikeJxl(read);
}

std::span<const std::string_view> JxlExtensions()
{
    static constexpr std::array<std::string_view, 1> extensions{"jxl"};
    return extensions;
}

DecodedImage DecodeJxlRow(const ByteReader& read, std::int64_t size, const DecodeHints&)
{
    return DecodeJxl(read, size);
}

} // namespace pixquill
