#include "codec/ColourProfile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <QHash>

#include <FreeImage.h>
#include <lcms2.h>

namespace pixquill {
namespace {

// FreeImage's 8-bit pixels and its palette entries (RGBQUAD) share one byte
// order, blue first on little-endian machines.
#if FREEIMAGE_COLORORDER == FREEIMAGE_COLORORDER_BGR
constexpr cmsUInt32Number kFormat24 = TYPE_BGR_8;
constexpr cmsUInt32Number kFormat32 = TYPE_BGRA_8;
#else
constexpr cmsUInt32Number kFormat24 = TYPE_RGB_8;
constexpr cmsUInt32Number kFormat32 = TYPE_RGBA_8;
#endif

// The grey levels of a grey or RGB profile, sampled once: index and value are
// 16-bit levels, the value on sRGB's tone curve.
using GreyLevels = std::vector<std::uint16_t>;

void DropMessage(cmsContext, cmsUInt32Number, const char*) {}

// LittleCMS reports broken profiles through the log handler of the context
// they were opened in; this one drops the messages, as a broken profile only
// means the picture stays as stored. A context may be used by several threads
// at once; it lives as long as the process.
cmsContext Context()
{
    static const cmsContext context = [] {
        cmsContext made = cmsCreateContext(nullptr, nullptr);
        cmsSetLogErrorHandlerTHR(made, DropMessage);
        return made;
    }();
    return context;
}

struct ProfileCloser {
    void operator()(void* profile) const noexcept { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const noexcept { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

// The profile's own bytes: the header's size field must lie within what the
// file gave (anything after it is padding); a profile shorter than its header
// or claiming more bytes than there are is refused.
QByteArray TrimmedProfile(const QByteArray& bytes)
{
    constexpr qsizetype kHeaderSize = 128;
    if (bytes.size() < kHeaderSize)
        return {};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const std::uint32_t declared = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16)
                                   | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
    if (declared < kHeaderSize || declared > static_cast<std::uint64_t>(bytes.size()))
        return {};
    return bytes.left(static_cast<qsizetype>(declared));
}

Profile OpenProfile(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return nullptr;
    return Profile(cmsOpenProfileFromMemTHR(Context(), bytes.constData(), static_cast<cmsUInt32Number>(bytes.size())));
}

// IEC 61966-2.1: the encoded value of a linear one.
double LinearToSrgb(double v)
{
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

// Grey on sRGB's tone curve, the white of the profile connection space: what
// grey pictures are converted to, so that they stay one channel.
Profile SrgbGreyProfile()
{
    const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(Context(), 4, parameters);
    if (!curve)
        return nullptr;
    Profile profile(cmsCreateGrayProfileTHR(Context(), cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return profile;
}

bool NearXyz(const cmsCIEXYZ& a, const cmsCIEXYZ& b)
{
    constexpr double kTolerance = 0.003; // real sRGB profiles differ from each other by ~0.001
    return std::abs(a.X - b.X) <= kTolerance && std::abs(a.Y - b.Y) <= kTolerance && std::abs(a.Z - b.Z) <= kTolerance;
}

bool NearXyzTag(cmsHPROFILE profile, cmsHPROFILE reference, cmsTagSignature tag)
{
    const auto* a = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tag));
    const auto* b = static_cast<const cmsCIEXYZ*>(cmsReadTag(reference, tag));
    return a && b && NearXyz(*a, *b);
}

// Whether the tone curve, shown as sRGB, would stay within one 8-bit level of
// every input: measured on the encoded side, where the eye sees differences
// (a gamma 2.2 curve is close in linear light but four levels off in the darks).
bool IsSrgbCurve(cmsHPROFILE profile, cmsTagSignature tag)
{
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
    if (!curve)
        return false;
    for (int i = 0; i <= 255; i += 3) {
        const double encoded = i / 255.0;
        const double shown = LinearToSrgb(std::clamp<double>(cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(encoded)), 0.0, 1.0));
        if (std::abs(shown - encoded) > 1.0 / 255.0)
            return false;
    }
    return true;
}

// Recognises the many sRGB profiles files carry (different makers, versions,
// tables or formulas for the curve) by what they say rather than their name:
// a matrix and curves (no tables, which LittleCMS would prefer) whose
// colorants and curves match LittleCMS's own sRGB, and a media white of D50
// (version 4) or D65 (what version 2 sRGB profiles record). Grey profiles
// count when their curve is sRGB's.
bool DescribesSrgb(cmsHPROFILE profile)
{
    for (cmsTagSignature table : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigDToB0Tag, cmsSigDToB1Tag})
        if (cmsIsTag(profile, table))
            return false;
    if (const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigMediaWhitePointTag))) {
        const cmsCIEXYZ d65 {0.9505, 1.0, 1.0890};
        if (!NearXyz(*white, *cmsD50_XYZ()) && !NearXyz(*white, d65))
            return false;
    }
    if (cmsGetColorSpace(profile) == cmsSigGrayData)
        return IsSrgbCurve(profile, cmsSigGrayTRCTag);
    const Profile srgb(cmsCreate_sRGBProfileTHR(Context()));
    if (!srgb)
        return false;
    for (cmsTagSignature colorant : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag})
        if (!NearXyzTag(profile, srgb.get(), colorant))
            return false;
    for (cmsTagSignature curve : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag})
        if (!IsSrgbCurve(profile, curve))
            return false;
    return true;
}

enum class ProfileKind { Unusable, Srgb, Rgb, Grey, Cmyk };

ProfileKind Classify(const QByteArray& bytes)
{
    const Profile profile = OpenProfile(bytes);
    if (!profile)
        return ProfileKind::Unusable;
    switch (cmsGetDeviceClass(profile.get())) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass:
        break;
    default: // device links, abstract and named colour profiles describe no pixels
        return ProfileKind::Unusable;
    }
    const cmsColorSpaceSignature pcs = cmsGetPCS(profile.get());
    if (pcs != cmsSigXYZData && pcs != cmsSigLabData)
        return ProfileKind::Unusable;
    switch (cmsGetColorSpace(profile.get())) {
    case cmsSigRgbData:
        return DescribesSrgb(profile.get()) ? ProfileKind::Srgb : ProfileKind::Rgb;
    case cmsSigGrayData:
        return DescribesSrgb(profile.get()) ? ProfileKind::Srgb : ProfileKind::Grey;
    case cmsSigCmykData:
        return ProfileKind::Cmyk;
    default:
        return ProfileKind::Unusable;
    }
}

// The conversion of a matrix-and-curves RGB profile (Adobe RGB, ProPhoto,
// Display P3, the swapped-primaries kind) done here with tables and a fixed-
// point matrix: LittleCMS's general pipeline runs at ~50 megapixels a second,
// too slow next to decoding, where this runs several times faster. The same
// arithmetic LittleCMS does for such a pair without black-point compensation,
// which changes nothing when the profile's black is zero, the only case taken.
class MatrixShaper {
public:
    // Null when the profile is not of that kind (tables, a black above zero,
    // a matrix too wide for the fixed-point sums).
    static std::unique_ptr<MatrixShaper> Make(cmsHPROFILE profile)
    {
        for (cmsTagSignature table : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigDToB0Tag, cmsSigDToB1Tag})
            if (cmsIsTag(profile, table))
                return nullptr;
        if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile))
            return nullptr;
        const Profile srgb(cmsCreate_sRGBProfileTHR(Context()));
        if (!srgb)
            return nullptr;
        const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        double from[3][3]; // source RGB to PCS XYZ, and sRGB's
        double to[3][3];
        for (int c = 0; c < 3; ++c) {
            const auto* a = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, colorants[c]));
            const auto* b = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), colorants[c]));
            if (!a || !b)
                return nullptr;
            from[0][c] = a->X, from[1][c] = a->Y, from[2][c] = a->Z;
            to[0][c] = b->X, to[1][c] = b->Y, to[2][c] = b->Z;
        }
        double inverse[3][3];
        if (!Invert(to, inverse))
            return nullptr;
        auto shaper = std::make_unique<MatrixShaper>();
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int k = 0; k < 3; ++k)
                    sum += inverse[r][k] * from[k][c];
                if (!(std::abs(sum) <= kMaxCoefficient))
                    return nullptr;
                shaper->m_matrix[r][c] = static_cast<std::int32_t>(std::lround(sum * (1 << kMatrixBits)));
            }
        const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (int c = 0; c < 3; ++c) {
            const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, curves[c]));
            if (!curve || cmsEvalToneCurveFloat(curve, 0.0f) > 1e-6f)
                return nullptr;
            for (int v = 0; v < 256; ++v)
                shaper->m_linear8[c][v] = static_cast<std::uint16_t>(
                    std::lround(kLinear8Max * std::clamp<double>(cmsEvalToneCurveFloat(curve, v / 255.0f), 0.0, 1.0)));
            shaper->m_linear16[c].resize(65536);
            for (int v = 0; v < 65536; ++v)
                shaper->m_linear16[c][v] = cmsEvalToneCurve16(curve, static_cast<cmsUInt16Number>(v));
        }
        for (int i = 0; i <= kLinear8Max; ++i)
            shaper->m_encode8[i] = static_cast<std::uint8_t>(std::lround(255 * LinearToSrgb(i / double(kLinear8Max))));
        shaper->m_encode16.resize(65536);
        for (int i = 0; i < 65536; ++i)
            shaper->m_encode16[i] = static_cast<std::uint16_t>(std::lround(65535 * LinearToSrgb(i / 65535.0)));
        return shaper;
    }

    // 8-bit pixels of `step` bytes (3 or 4; a fourth is left alone), in place.
    // Everything the loop reads is copied into locals first: the byte stores
    // could alias any memory, and would otherwise make the compiler reload
    // the matrix and the tables' addresses for every pixel.
    void Convert8(BYTE* __restrict p, unsigned count, unsigned step) const
    {
        const std::uint16_t* __restrict red = m_linear8[0].data();
        const std::uint16_t* __restrict green = m_linear8[1].data();
        const std::uint16_t* __restrict blue = m_linear8[2].data();
        const std::uint8_t* __restrict encode = m_encode8.data();
        const auto m = m_matrix;
        for (unsigned i = 0; i < count; ++i, p += step) {
            const std::int32_t r = red[p[FI_RGBA_RED]];
            const std::int32_t g = green[p[FI_RGBA_GREEN]];
            const std::int32_t b = blue[p[FI_RGBA_BLUE]];
            const std::uint8_t outRed = encode[Index8(m[0], r, g, b)];
            const std::uint8_t outGreen = encode[Index8(m[1], r, g, b)];
            const std::uint8_t outBlue = encode[Index8(m[2], r, g, b)];
            p[FI_RGBA_RED] = outRed;
            p[FI_RGBA_GREEN] = outGreen;
            p[FI_RGBA_BLUE] = outBlue;
        }
    }

    // 16-bit red, green, blue of `step` words (3 or 4; a fourth is left alone), in place.
    void Convert16(WORD* __restrict p, unsigned count, unsigned step) const
    {
        const std::uint16_t* __restrict red = m_linear16[0].data();
        const std::uint16_t* __restrict green = m_linear16[1].data();
        const std::uint16_t* __restrict blue = m_linear16[2].data();
        const std::uint16_t* __restrict encode = m_encode16.data();
        const auto m = m_matrix;
        for (unsigned i = 0; i < count; ++i, p += step) {
            const std::int64_t r = red[p[0]];
            const std::int64_t g = green[p[1]];
            const std::int64_t b = blue[p[2]];
            const std::uint16_t outRed = encode[Index16(m[0], r, g, b)];
            const std::uint16_t outGreen = encode[Index16(m[1], r, g, b)];
            const std::uint16_t outBlue = encode[Index16(m[2], r, g, b)];
            p[0] = outRed;
            p[1] = outGreen;
            p[2] = outBlue;
        }
    }

private:
    static constexpr int kMatrixBits = 12;
    static constexpr double kMaxCoefficient = 4.0; // keeps the 8-bit sums within 32 bits
    static constexpr int kLinear8Max = (1 << 14) - 1; // linear light of 8-bit input, 14 bits

    static bool Invert(const double m[3][3], double out[3][3])
    {
        const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
                           + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        if (!(std::abs(det) > 1e-9))
            return false;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
                out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
            }
        return true;
    }

    static int Index8(const std::array<std::int32_t, 3>& row, std::int32_t r, std::int32_t g, std::int32_t b)
    {
        const std::int32_t v = (row[0] * r + row[1] * g + row[2] * b + (1 << (kMatrixBits - 1))) >> kMatrixBits;
        return std::clamp(v, 0, kLinear8Max);
    }

    static int Index16(const std::array<std::int32_t, 3>& row, std::int64_t r, std::int64_t g, std::int64_t b)
    {
        const std::int64_t v = (row[0] * r + row[1] * g + row[2] * b + (1 << (kMatrixBits - 1))) >> kMatrixBits;
        return static_cast<int>(std::clamp<std::int64_t>(v, 0, 65535));
    }

    std::array<std::array<std::int32_t, 3>, 3> m_matrix {};
    std::array<std::array<std::uint16_t, 256>, 3> m_linear8 {};
    std::array<std::vector<std::uint16_t>, 3> m_linear16;
    std::array<std::uint8_t, kLinear8Max + 1> m_encode8 {};
    std::vector<std::uint16_t> m_encode16;
};

// One profile seen in a file: what it is and the transforms made from it so
// far, each made on first use and then shared by every thread (a LittleCMS
// transform only reads its own state while it runs).
class ProfileEntry {
public:
    explicit ProfileEntry(const QByteArray& bytes)
        : m_bytes(TrimmedProfile(bytes))
        , m_kind(m_bytes.isEmpty() ? ProfileKind::Unusable : Classify(m_bytes))
    {
        if (m_kind == ProfileKind::Rgb)
            if (const Profile profile = OpenProfile(m_bytes))
                m_shaper = MatrixShaper::Make(profile.get());
    }

    ProfileKind Kind() const { return m_kind; }

    // The fast conversion for 8- and 16-bit RGB, when the profile allows it.
    const MatrixShaper* Shaper() const { return m_shaper.get(); }

    // From this profile's pixels in `input` layout to sRGB (grey on sRGB's
    // curve when `output` is a grey layout); null when none can be made.
    cmsHTRANSFORM TransformTo(cmsUInt32Number input, cmsUInt32Number output)
    {
        const std::uint64_t key = (std::uint64_t(input) << 32) | output;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& [made, transform] : m_transforms)
            if (made == key)
                return transform.get();
        m_transforms.emplace_back(key, MakeTransform(input, output));
        return m_transforms.back().second.get();
    }

    // Grey levels for grey pixels: a grey profile's own, or the neutral axis
    // of an RGB profile. Null when they cannot be made.
    const GreyLevels* Levels()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_levelsTried)
                return m_levels.empty() ? nullptr : &m_levels;
        }
        const bool rgb = m_kind == ProfileKind::Rgb;
        cmsHTRANSFORM transform = TransformTo(rgb ? TYPE_RGB_16 : TYPE_GRAY_16, TYPE_GRAY_16);
        GreyLevels levels;
        if (transform) {
            constexpr int kCount = 65536;
            const int channels = rgb ? 3 : 1;
            std::vector<std::uint16_t> ramp(static_cast<std::size_t>(kCount) * channels);
            for (int v = 0; v < kCount; ++v)
                for (int c = 0; c < channels; ++c)
                    ramp[static_cast<std::size_t>(v) * channels + c] = static_cast<std::uint16_t>(v);
            levels.resize(kCount);
            cmsDoTransform(transform, ramp.data(), levels.data(), kCount);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_levelsTried) {
            m_levels = std::move(levels);
            m_levelsTried = true;
        }
        return m_levels.empty() ? nullptr : &m_levels;
    }

private:
    Transform MakeTransform(cmsUInt32Number input, cmsUInt32Number output) const
    {
        const Profile source = OpenProfile(m_bytes);
        const Profile target = T_COLORSPACE(output) == PT_GRAY ? SrgbGreyProfile()
                                                                : Profile(cmsCreate_sRGBProfileTHR(Context()));
        if (!source || !target)
            return nullptr;
        return Transform(cmsCreateTransformTHR(Context(), source.get(), input, target.get(), output,
                                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION));
    }

    const QByteArray m_bytes;
    const ProfileKind m_kind;
    std::mutex m_mutex;
    std::vector<std::pair<std::uint64_t, Transform>> m_transforms;
    GreyLevels m_levels;
    bool m_levelsTried = false;
    std::unique_ptr<MatrixShaper> m_shaper;
};

// Profiles by their bytes. A batch sees a handful (the camera's, Adobe RGB,
// a few from the web); past the limit the table starts afresh, and entries a
// thread is still using live on through its shared pointer.
std::shared_ptr<ProfileEntry> Entry(const QByteArray& bytes)
{
    constexpr qsizetype kMaxEntries = 32;
    static std::mutex mutex;
    static QHash<QByteArray, std::shared_ptr<ProfileEntry>> entries;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (auto found = entries.constFind(bytes); found != entries.constEnd())
            return found.value();
    }
    // Classifying opens the profile; done outside the lock so that one large
    // profile does not hold up the other threads.
    auto entry = std::make_shared<ProfileEntry>(bytes);
    std::lock_guard<std::mutex> lock(mutex);
    if (entries.size() >= kMaxEntries)
        entries.clear();
    return entries.emplace(bytes, std::move(entry)).value();
}

// FreeImage marks CMYK samples (asked for with JPEG_CMYK or TIFF_CMYK) in its
// profile record; read there rather than through FreeImage_GetColorType,
// which scans every pixel of a 32-bit bitmap for its alpha.
bool IsCmykBitmap(FIBITMAP* image)
{
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
    return (FreeImage_GetICCProfile(image)->flags & FIICC_COLOR_IS_CMYK)
           && ((type == FIT_BITMAP && FreeImage_GetBPP(image) == 32) || type == FIT_RGBA16);
}

// Every line of the bitmap in place (lines lie a pitch apart, bottom first).
void TransformLines(cmsHTRANSFORM transform, FIBITMAP* image)
{
    BYTE* bits = FreeImage_GetBits(image);
    const cmsUInt32Number pitch = FreeImage_GetPitch(image);
    cmsDoTransformLineStride(transform, bits, bits, FreeImage_GetWidth(image), FreeImage_GetHeight(image), pitch, pitch,
                             0, 0);
}

// A converted bitmap's embedded profile would no longer describe it.
Bitmap Converted(Bitmap image)
{
    FreeImage_DestroyICCProfile(image.get());
    return image;
}

// Palette entries (RGBQUAD, pixel byte order) through an RGB profile, or
// through a grey one when every entry is a grey.
bool ConvertPalette(FIBITMAP* image, ProfileEntry& entry)
{
    RGBQUAD* palette = FreeImage_GetPalette(image);
    const unsigned count = FreeImage_GetColorsUsed(image);
    if (!palette || count == 0)
        return false;
    if (entry.Kind() == ProfileKind::Rgb) {
        cmsHTRANSFORM transform = entry.TransformTo(kFormat32, kFormat32);
        if (!transform)
            return false;
        cmsDoTransform(transform, palette, palette, count);
        return true;
    }
    const bool grey = std::all_of(palette, palette + count, [](const RGBQUAD& q) {
        return q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue;
    });
    const GreyLevels* levels = grey ? entry.Levels() : nullptr;
    if (!levels)
        return false;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned level = (*levels)[palette[i].rgbRed * 257u];
        const auto v = static_cast<BYTE>((level * 255u + 32767u) / 65535u);
        palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = v;
    }
    return true;
}

void ConvertGrey16(FIBITMAP* image, const GreyLevels& levels)
{
    const unsigned width = FreeImage_GetWidth(image);
    for (unsigned y = 0, height = FreeImage_GetHeight(image); y < height; ++y) {
        auto* line = reinterpret_cast<WORD*>(FreeImage_GetScanLine(image, static_cast<int>(y)));
        for (unsigned x = 0; x < width; ++x)
            line[x] = levels[line[x]];
    }
}

// A new RGB bitmap of the same size and depth (8 or 16 bits per channel), with
// the source's resolution and metadata (EXIF orientation and the like).
Bitmap RgbLike(FIBITMAP* source, bool sixteen)
{
    const int width = static_cast<int>(FreeImage_GetWidth(source));
    const int height = static_cast<int>(FreeImage_GetHeight(source));
    Bitmap made(sixteen ? FreeImage_AllocateT(FIT_RGB16, width, height)
                        : FreeImage_Allocate(width, height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!made)
        return nullptr;
    FreeImage_SetDotsPerMeterX(made.get(), FreeImage_GetDotsPerMeterX(source));
    FreeImage_SetDotsPerMeterY(made.get(), FreeImage_GetDotsPerMeterY(source));
    FreeImage_CloneMetadata(made.get(), source);
    return made;
}

// CMYK ink amounts without a usable profile: the plain formula FreeImage's own
// JPEG reader applies (each colour's absence of ink times the absence of black),
// so a CMYK bitmap never reaches a surface as if it were RGB.
template <typename Sample, typename Pixel>
void PlainCmykLine(const Sample* cmyk, Pixel* rgb, unsigned width, unsigned maximum)
{
    for (unsigned x = 0; x < width; ++x, cmyk += 4) {
        const unsigned white = maximum - cmyk[3];
        const auto channel = [&](Sample ink) { return static_cast<Sample>((maximum - ink) * white / maximum); };
        if constexpr (sizeof(Sample) == 1) {
            rgb[x * 3 + FI_RGBA_RED] = channel(cmyk[0]);
            rgb[x * 3 + FI_RGBA_GREEN] = channel(cmyk[1]);
            rgb[x * 3 + FI_RGBA_BLUE] = channel(cmyk[2]);
        } else {
            rgb[x] = FIRGB16{channel(cmyk[0]), channel(cmyk[1]), channel(cmyk[2])};
        }
    }
}

Bitmap ConvertCmyk(Bitmap image, ProfileEntry* entry)
{
    FIBITMAP* source = image.get();
    const bool sixteen = FreeImage_GetImageType(source) == FIT_RGBA16;
    Bitmap rgb = RgbLike(source, sixteen);
    if (!rgb)
        return image;
    cmsHTRANSFORM transform = entry && entry->Kind() == ProfileKind::Cmyk
                                  ? entry->TransformTo(sixteen ? TYPE_CMYK_16 : TYPE_CMYK_8, sixteen ? TYPE_RGB_16 : kFormat24)
                                  : nullptr;
    const unsigned width = FreeImage_GetWidth(source);
    const unsigned height = FreeImage_GetHeight(source);
    if (transform) {
        cmsDoTransformLineStride(transform, FreeImage_GetBits(source), FreeImage_GetBits(rgb.get()), width, height,
                                 FreeImage_GetPitch(source), FreeImage_GetPitch(rgb.get()), 0, 0);
        return rgb;
    }
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = FreeImage_GetScanLine(source, static_cast<int>(y));
        BYTE* out = FreeImage_GetScanLine(rgb.get(), static_cast<int>(y));
        if (sixteen)
            PlainCmykLine(reinterpret_cast<const WORD*>(in), reinterpret_cast<FIRGB16*>(out), width, 65535);
        else
            PlainCmykLine(in, out, width, 255);
    }
    return rgb;
}

// 24/32-bit and 16-bit RGB(A) through the fast path; false for other types.
bool ConvertByShaper(FIBITMAP* image, const MatrixShaper& shaper)
{
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
    const unsigned bpp = FreeImage_GetBPP(image);
    const bool eight = type == FIT_BITMAP && (bpp == 24 || bpp == 32);
    if (!eight && type != FIT_RGB16 && type != FIT_RGBA16)
        return false;
    const unsigned width = FreeImage_GetWidth(image);
    for (unsigned y = 0, height = FreeImage_GetHeight(image); y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(image, static_cast<int>(y));
        if (eight)
            shaper.Convert8(line, width, bpp / 8);
        else
            shaper.Convert16(reinterpret_cast<WORD*>(line), width, type == FIT_RGB16 ? 3 : 4);
    }
    return true;
}

} // namespace

Bitmap ConvertToSrgb(Bitmap image, const QByteArray& iccProfile)
{
    if (!image || !FreeImage_HasPixels(image.get()))
        return image;
    const std::shared_ptr<ProfileEntry> entry = iccProfile.isEmpty() ? nullptr : Entry(iccProfile);
    if (IsCmykBitmap(image.get()))
        return ConvertCmyk(std::move(image), entry.get());
    if (!entry)
        return image;
    const ProfileKind kind = entry->Kind();
    if (kind != ProfileKind::Rgb && kind != ProfileKind::Grey)
        return image;
    const bool rgb = kind == ProfileKind::Rgb;

    FIBITMAP* bitmap = image.get();
    if (const MatrixShaper* shaper = entry->Shaper(); shaper && ConvertByShaper(bitmap, *shaper))
        return Converted(std::move(image));
    cmsUInt32Number layout = 0;
    switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP:
        switch (FreeImage_GetBPP(bitmap)) {
        case 1:
        case 4:
        case 8:
            return ConvertPalette(bitmap, *entry) ? Converted(std::move(image)) : std::move(image);
        case 24:
            layout = rgb ? kFormat24 : 0;
            break;
        case 32:
            layout = rgb ? kFormat32 : 0;
            break;
        default:
            break;
        }
        break;
    case FIT_RGB16:
        layout = rgb ? TYPE_RGB_16 : 0;
        break;
    case FIT_RGBA16:
        layout = rgb ? TYPE_RGBA_16 : 0;
        break;
    case FIT_RGBF:
        layout = rgb ? TYPE_RGB_FLT : 0;
        break;
    case FIT_RGBAF:
        layout = rgb ? TYPE_RGBA_FLT : 0;
        break;
    case FIT_UINT16:
        if (const GreyLevels* levels = entry->Levels()) {
            ConvertGrey16(bitmap, *levels);
            return Converted(std::move(image));
        }
        return image;
    case FIT_FLOAT:
        layout = rgb ? 0 : TYPE_GRAY_FLT;
        break;
    default:
        break;
    }
    if (layout == 0)
        return image;
    cmsHTRANSFORM transform = entry->TransformTo(layout, layout);
    if (!transform)
        return image;
    TransformLines(transform, bitmap);
    return Converted(std::move(image));
}

bool IsCmykProfile(const QByteArray& iccProfile)
{
    if (iccProfile.isEmpty())
        return false;
    const std::shared_ptr<ProfileEntry> entry = Entry(iccProfile);
    return entry->Kind() == ProfileKind::Cmyk && entry->TransformTo(TYPE_CMYK_8, kFormat24) != nullptr;
}

} // namespace pixquill
