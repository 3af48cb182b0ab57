#include "codec/HeifDecoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <QFile>

#include <FreeImage.h>
#include <lcms2.h>
#include <libheif/heif.h>

#include "codec/ByteOrder.h"
#include "codec/HdrToSdr.h"
#include "codec/HeifOwners.h"
#include "codec/InputSource.h"
#include "codec/LibraryMessages.h"

namespace pixquill {
namespace {

using HandlePtr = HeifHandlePtr;
using ImagePtr = HeifImagePtr;

QString Explain(const heif_error& error)
{
    // libheif's messages end in a line break, some hold more than one line.
    return QStringLiteral("cannot decode the image (") + LibraryMessages::OneLine(error.message) + QLatin1Char(')');
}

// The table's guard, for libheif's signed sides.
bool TooLargeSides(int width, int height)
{
    return TooLarge(std::uint64_t(std::max(width, 0)), std::uint64_t(std::max(height, 0)));
}

// libheif reads through this: a cursor over the ByteReader.
struct ReaderState {
    const ByteReader* Read;
    std::int64_t Size;
    std::int64_t Position = 0;
};

ReaderState& State(void* userdata)
{
    return *static_cast<ReaderState*>(userdata);
}

const heif_reader kReader = {
    1,
    [](void* userdata) -> std::int64_t { return State(userdata).Position; },
    [](void* data, size_t size, void* userdata) -> int {
        ReaderState& state = State(userdata);
        if (std::int64_t(size) > state.Size - state.Position)
            return 1;
        const std::int64_t got = (*state.Read)(state.Position, data, std::int64_t(size));
        if (got != std::int64_t(size))
            return 1;
        state.Position += got;
        return 0;
    },
    [](std::int64_t position, void* userdata) -> int {
        ReaderState& state = State(userdata);
        if (position < 0 || position > state.Size)
            return 1;
        state.Position = position;
        return 0;
    },
    [](std::int64_t targetSize, void* userdata) {
        return targetSize > State(userdata).Size ? heif_reader_grow_status_size_beyond_eof
                                                 : heif_reader_grow_status_size_reached;
    },
};

} // namespace

// libheif's plugins are registered once for the process and never removed:
// decoding may go on in any thread until the end.
void InitialiseHeif()
{
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialised;
}

namespace {

// One open file: its boxes parsed, the primary image's handle at hand. The
// context reads through m_state, so neither may move.
class HeifFile {
public:
    HeifFile(const ByteReader& read, std::int64_t size)
        : m_state{&read, size}
    {
        InitialiseHeif();
        m_context.reset(heif_context_alloc());
        if (!m_context) {
            m_error = QStringLiteral("not enough memory for the image");
            return;
        }
        // libheif's own guard is per side; ours counts pixels, below, so
        // that every format refuses the same images with the same words.
        // Up to the largest side a picture within our guard can have.
        heif_context_set_maximum_image_size_limit(m_context.get(), int(kMaxPixels));
        heif_error error = heif_context_read_from_reader(m_context.get(), &kReader, &m_state, nullptr);
        heif_image_handle* primary = nullptr;
        if (error.code == heif_error_Ok)
            error = heif_context_get_primary_image_handle(m_context.get(), &primary);
        if (error.code != heif_error_Ok) {
            m_error = Explain(error);
            return;
        }
        m_primary.reset(primary);
    }

    HeifFile(const HeifFile&) = delete;
    HeifFile& operator=(const HeifFile&) = delete;

    heif_image_handle* Primary() const { return m_primary.get(); }
    const QString& Error() const { return m_error; }

private:
    ReaderState m_state;
    HeifContextPtr m_context;
    HandlePtr m_primary;
    QString m_error;
};

// The smallest thumbnail that still holds at least twice the wanted size in
// both directions and shows the primary image's picture: the same aspect
// within 1 % (encoders round a thumbnail's sides to even numbers, which moves
// a 320 x 240 one of a 4032 x 3024 photo by far less; a letterboxed one, as
// some cameras write, is off by far more), and no larger than the image it
// stands for.
HandlePtr PickThumbnail(const heif_image_handle* primary, int wantedWidth, int wantedHeight)
{
    if (wantedWidth <= 0 || wantedHeight <= 0)
        return {};
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0)
        return {};
    std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
    ids.resize(static_cast<std::size_t>(heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count)));
    const std::int64_t pw = heif_image_handle_get_width(primary);
    const std::int64_t ph = heif_image_handle_get_height(primary);
    HandlePtr best;
    for (const heif_item_id id : ids) {
        heif_image_handle* raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &raw).code != heif_error_Ok)
            continue;
        HandlePtr thumbnail(raw);
        const std::int64_t tw = heif_image_handle_get_width(raw);
        const std::int64_t th = heif_image_handle_get_height(raw);
        // |tw / th - pw / ph| <= 1 % of pw / ph, without division.
        const std::int64_t skew = std::abs(tw * ph - th * pw);
        const bool fits = tw >= 2 * std::int64_t(wantedWidth) && th >= 2 * std::int64_t(wantedHeight)
                          && tw <= pw && th <= ph && 100 * skew <= th * pw;
        if (fits && (!best || tw * th < std::int64_t(heif_image_handle_get_width(best.get()))
                                                * heif_image_handle_get_height(best.get())))
            best = std::move(thumbnail);
    }
    return best;
}

bool IsDescribed(heif_color_profile_type type)
{
    return type != heif_color_profile_type_not_present;
}

// An HDR picture's tone mapping starts from its brightest light, which only
// its decoded pixels tell.
QByteArray IccFromNclx(const heif_color_profile_nclx* nclx, FIBITMAP* decoded)
{
    if (!nclx)
        return {};
    const int transfer = nclx->transfer_characteristics;
    return IccProfileFromNclx(nclx->color_primaries, transfer,
                              IsHdrTransfer(transfer) ? BrightestSample(decoded) : 1.0);
}

// The colours of a handle or a decoded image: its embedded ICC profile, or
// its nclx description made into one.
template <typename T, typename Size, typename Raw, typename Nclx>
QByteArray ColourProfile(const T* of, FIBITMAP* decoded, Size rawSize, Raw raw, Nclx nclxOf)
{
    if (const std::size_t size = rawSize(of); size > 0) {
        QByteArray icc(qsizetype(size), Qt::Uninitialized);
        if (raw(of, icc.data()).code == heif_error_Ok)
            return icc;
    }
    heif_color_profile_nclx* nclx = nullptr;
    if (nclxOf(of, &nclx).code != heif_error_Ok)
        return {};
    const HeifNclxPtr owned(nclx);
    return IccFromNclx(nclx, decoded);
}

QByteArray ColourProfileOf(const heif_image* image, FIBITMAP* decoded)
{
    return ColourProfile(image, decoded, heif_image_get_raw_color_profile_size, heif_image_get_raw_color_profile,
                         heif_image_get_nclx_color_profile);
}

QByteArray ColourProfileOf(const heif_image_handle* handle, FIBITMAP* decoded)
{
    return ColourProfile(handle, decoded, heif_image_handle_get_raw_color_profile_size,
                         heif_image_handle_get_raw_color_profile, heif_image_handle_get_nclx_color_profile);
}

// The interleaved RGB(A) picture libheif made, in FreeImage's layout: rows
// bottom-up, 8-bit samples in FreeImage's byte order, deeper ones (stored
// little-endian in the low bits) stretched to 16 bits.
Bitmap ToBitmap(const heif_image* image, bool alpha, bool deep)
{
    const int width = heif_image_get_width(image, heif_channel_interleaved);
    const int height = heif_image_get_height(image, heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* data = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    if (!data || width <= 0 || height <= 0 || TooLargeSides(width, height))
        return {};
    const int channels = alpha ? 4 : 3;
    if (!deep) {
        Bitmap bitmap(FreeImage_Allocate(width, height, 8 * channels, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                         FI_RGBA_BLUE_MASK));
        if (!bitmap)
            return {};
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = data + std::ptrdiff_t(y) * stride;
            BYTE* out = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
            for (int x = 0; x < width; ++x, in += channels, out += channels) {
                out[FI_RGBA_RED] = in[0];
                out[FI_RGBA_GREEN] = in[1];
                out[FI_RGBA_BLUE] = in[2];
                if (alpha)
                    out[FI_RGBA_ALPHA] = in[3];
            }
        }
        return bitmap;
    }
    const int bits = std::clamp(heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved), 1, 16);
    const std::uint32_t top = (std::uint32_t{1} << bits) - 1;
    Bitmap bitmap(FreeImage_AllocateT(alpha ? FIT_RGBA16 : FIT_RGB16, width, height));
    if (!bitmap)
        return {};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = data + std::ptrdiff_t(y) * stride;
        // FIRGB16 and FIRGBA16 hold red, green, blue (alpha) in that order.
        auto* out = reinterpret_cast<WORD*>(FreeImage_GetScanLine(bitmap.get(), height - 1 - y));
        for (int i = 0; i < width * channels; ++i, in += 2) {
            const std::uint32_t value = std::min<std::uint32_t>(in[0] | std::uint32_t(in[1]) << 8, top);
            out[i] = WORD((value * 65535 + top / 2) / top);
        }
    }
    return bitmap;
}

// Decodes one image of the file, turned upright (libheif applies the stored
// rotation, mirroring and cropping unless told to ignore them).
DecodedImage Decode(const heif_image_handle* handle)
{
    DecodedImage result;
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    const HeifDecodingOptionsPtr options(heif_decoding_options_alloc());
    if (!options) {
        result.Error = QStringLiteral("not enough memory for the image");
        return result;
    }
    options->ignore_transformations = 0;
    heif_image* raw = nullptr;
    const heif_error error = heif_decode_image(handle, &raw, heif_colorspace_RGB, chroma, options.get());
    const ImagePtr image(raw);
    if (error.code != heif_error_Ok || !image) {
        result.Error = Explain(error);
        return result;
    }
    result.Image = ToBitmap(image.get(), alpha, deep);
    if (!result.Image) {
        result.Error = QStringLiteral("cannot decode the image (unexpected decoded picture)");
        return result;
    }
    // libheif keeps the file's colour boxes with the handle; the converted
    // RGB picture carries none of them.
    result.IccProfile = IsDescribed(heif_image_handle_get_color_profile_type(handle))
                            ? ColourProfileOf(handle, result.Image.get())
                            : ColourProfileOf(image.get(), result.Image.get());
    return result;
}

struct Brands {
    std::uint32_t Major = 0;
    std::vector<std::uint32_t> Compatible;
};

constexpr std::uint32_t FourCc(const char (&code)[5])
{
    return std::uint32_t(std::uint8_t(code[0])) << 24 | std::uint32_t(std::uint8_t(code[1])) << 16
           | std::uint32_t(std::uint8_t(code[2])) << 8 | std::uint8_t(code[3]);
}

} // namespace

bool LooksLikeHeif(const ByteReader& read)
{
    // size, 'ftyp', major brand, minor version, compatible brands; a box
    // longer than this is not a file type box a writer made.
    std::array<std::uint8_t, 256> box{};
    const std::int64_t got = read(0, box.data(), std::int64_t(box.size()));
    if (got < 16 || Be32(box.data() + 4) != FourCc("ftyp"))
        return false;
    const std::uint32_t boxSize = Be32(box.data());
    if (boxSize < 16 || boxSize > box.size() || boxSize > std::uint64_t(got))
        return false;
    static constexpr std::array kBrands = {FourCc("heic"), FourCc("heix"), FourCc("hevc"), FourCc("hevx"),
                                           FourCc("heim"), FourCc("heis"), FourCc("mif1"), FourCc("msf1"),
                                           FourCc("avif"), FourCc("avis")};
    const auto known = [](std::uint32_t brand) {
        return std::find(kBrands.begin(), kBrands.end(), brand) != kBrands.end();
    };
    if (known(Be32(box.data() + 8)))
        return true;
    for (std::uint32_t at = 16; at + 4 <= boxSize; at += 4) {
        if (known(Be32(box.data() + at)))
            return true;
    }
    return false;
}

HeifInfo ReadHeifInfo(const ByteReader& read, std::int64_t size)
{
    HeifInfo info;
    const HeifFile file(read, size);
    if (!file.Primary()) {
        info.Error = file.Error();
        return info;
    }
    // The handle's size is the ispe box's with a quarter or three quarters
    // turn applied: the size of the picture as shown.
    info.Width = heif_image_handle_get_width(file.Primary());
    info.Height = heif_image_handle_get_height(file.Primary());
    info.Ok = info.Width > 0 && info.Height > 0;
    if (!info.Ok)
        info.Error = QStringLiteral("cannot decode the image (no image size)");
    return info;
}

DecodedImage DecodeHeif(const ByteReader& read, std::int64_t size, int wantedWidth, int wantedHeight,
                        bool onlySmaller)
{
    DecodedImage result;
    const HeifFile file(read, size);
    const heif_image_handle* primary = file.Primary();
    if (!primary) {
        result.Error = file.Error();
        return result;
    }
    const int width = heif_image_handle_get_width(primary);
    const int height = heif_image_handle_get_height(primary);
    if (width <= 0 || height <= 0) {
        result.Error = QStringLiteral("cannot decode the image (no image size)");
        return result;
    }
    if (TooLargeSides(width, height) || TooLargeSides(heif_image_handle_get_ispe_width(primary),
                                            heif_image_handle_get_ispe_height(primary))) {
        result.Error = QStringLiteral("image too large");
        return result;
    }
    const HandlePtr thumbnail = PickThumbnail(primary, wantedWidth, wantedHeight);
    if (!thumbnail && onlySmaller)
        return result;
    if (thumbnail) {
        DecodedImage small = Decode(thumbnail.get());
        // A thumbnail that does not decode costs the time, not the picture.
        if (small.Image) {
            // The picture's colours are the primary image's; a thumbnail
            // that describes none of its own shows them as well.
            if (IsDescribed(heif_image_handle_get_color_profile_type(primary)))
                small.IccProfile = ColourProfileOf(primary, small.Image.get());
            return small;
        }
    }
    return Decode(primary);
}

QByteArray IccProfileFromNclx(int primaries, int transfer, double peakSignal)
{
    // Chromaticities x, y of red, green, blue and white (ITU-T H.273 table 2).
    struct Primaries {
        int Code;
        double Rx, Ry, Gx, Gy, Bx, By, Wx, Wy;
    };
    static constexpr double kD65x = 0.3127, kD65y = 0.3290;
    static constexpr Primaries kPrimaries[] = {
        {1, 0.640, 0.330, 0.300, 0.600, 0.150, 0.060, kD65x, kD65y},  // BT.709, sRGB
        {4, 0.670, 0.330, 0.210, 0.710, 0.140, 0.080, 0.310, 0.316},  // BT.470 M, illuminant C
        {5, 0.640, 0.330, 0.290, 0.600, 0.150, 0.060, kD65x, kD65y},  // BT.601 625 lines
        {6, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, kD65x, kD65y},  // BT.601 525 lines
        {7, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, kD65x, kD65y},  // SMPTE 240M
        {8, 0.681, 0.319, 0.243, 0.692, 0.145, 0.049, 0.310, 0.316},  // generic film
        {9, 0.708, 0.292, 0.170, 0.797, 0.131, 0.046, kD65x, kD65y},  // BT.2020
        {11, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351}, // DCI-P3
        {12, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, kD65x, kD65y}, // Display P3
        {22, 0.630, 0.340, 0.295, 0.605, 0.155, 0.077, kD65x, kD65y}, // EBU 3213
    };
    if (primaries == 2)
        primaries = 1;
    if (transfer == 2)
        transfer = 13;
    if (primaries == 1 && transfer == 13)
        return {};
    const auto* p = std::find_if(std::begin(kPrimaries), std::end(kPrimaries),
                                 [&](const Primaries& entry) { return entry.Code == primaries; });
    if (p == std::end(kPrimaries))
        return {};

    // Encoded value to linear light, as LittleCMS's parametric curves:
    // type 1 is x^g, type 4 is (a x + b)^g from d up and c x below it.
    int curveType = 4;
    std::array<double, 5> params{};
    switch (transfer) {
    case 1: case 6: case 14: case 15: // BT.709, BT.601, BT.2020
        params = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
        break;
    case 7: // SMPTE 240M
        params = {1 / 0.45, 1 / 1.1115, 0.1115 / 1.1115, 1 / 4.0, 0.0912};
        break;
    case 13: // sRGB
        params = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        break;
    case 4: // gamma 2.2
    case 5: // gamma 2.8
    case 8: // linear
        curveType = 1;
        params[0] = transfer == 4 ? 2.2 : transfer == 5 ? 2.8 : 1.0;
        break;
    case kTransferPq:
    case kTransferHlg:
        curveType = 0; // tone-mapped into SDR (HdrToSdr), as a table
        break;
    default:
        // The log curves are left unconverted, as sRGB.
        return {};
    }

    cmsContext context = cmsCreateContext(nullptr, nullptr);
    if (!context)
        return {};
    // LittleCMS says nothing unless asked; keep it that way for this context.
    cmsSetLogErrorHandlerTHR(context, [](cmsContext, cmsUInt32Number, const char*) {});
    QByteArray icc;
    cmsToneCurve* curve = nullptr;
    if (curveType == 0) {
        const std::vector<std::uint16_t> table = HdrToSdrTable(transfer, peakSignal);
        curve = cmsBuildTabulatedToneCurve16(context, cmsUInt32Number(table.size()), table.data());
    } else {
        curve = cmsBuildParametricToneCurve(context, curveType, params.data());
    }
    const cmsCIExyY white{p->Wx, p->Wy, 1.0};
    const cmsCIExyYTRIPLE rgb{{p->Rx, p->Ry, 1.0}, {p->Gx, p->Gy, 1.0}, {p->Bx, p->By, 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = curve ? cmsCreateRGBProfileTHR(context, &white, &rgb, curves) : nullptr;
    cmsUInt32Number bytes = 0;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &bytes) && bytes > 0) {
        icc.resize(qsizetype(bytes));
        if (!cmsSaveProfileToMem(profile, icc.data(), &bytes))
            icc.clear();
    }
    if (profile)
        cmsCloseProfile(profile);
    if (curve)
        cmsFreeToneCurve(curve);
    cmsDeleteContext(context);
    return icc;
}

bool RecognisedAsHeif(const ByteReader& read, std::int64_t)
{
    return LooksLikeHeif(read);
}

std::span<const std::string_view> HeifExtensions()
{
    static constexpr std::array<std::string_view, 4> extensions{"heic", "heif", "hif", "avif"};
    return extensions;
}

UprightSize HeifUprightSize(const ByteReader& read, std::int64_t size)
{
    const HeifInfo info = ReadHeifInfo(read, size);
    return info.Ok ? UprightSize{info.Width, info.Height} : UprightSize{};
}

DecodedImage DecodeHeifRow(const ByteReader& read, std::int64_t size, const DecodeHints& hints)
{
    return DecodeHeif(read, size, hints.Width, hints.Height, hints.OnlySmaller);
}

HeifInfo ReadHeifInfo(const QString& path)
{
    HeifInfo info;
    const std::unique_ptr<InputSource> file = OpenRegularFile(QFile::encodeName(path), info.Error);
    if (!file || !LooksLikeHeif(file->Reader()))
        return info;
    return ReadHeifInfo(file->Reader(), file->Size());
}

} // namespace pixquill
