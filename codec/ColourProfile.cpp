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

// Grey on sRGB's tone curve, the white of the profile connection space: what
// grey pictures are converted to, so that they stay one channel.
struct CurveDeleter {
    void operator()(cmsToneCurve* curve) const noexcept { cmsFreeToneCurve(curve); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveDeleter>;

// sRGB's tone curve (IEC 61966-2.1) as LittleCMS's parametric type 4.
Curve SrgbCurve()
{
    const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    return Curve(cmsBuildParametricToneCurve(Context(), 4, parameters));
}

Profile SrgbGreyProfile()
{
    const Curve curve = SrgbCurve();
    if (!curve)
        return nullptr;
    return Profile(cmsCreateGrayProfileTHR(Context(), cmsD50_xyY(), curve.get()));
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
    static const Curve srgbInverse = [] {
        const Curve srgb = SrgbCurve();
        return Curve(srgb ? cmsReverseToneCurve(srgb.get()) : nullptr);
    }();
    if (!curve || !srgbInverse)
        return false;
    for (int i = 0; i <= 255; i += 3) {
        const double encoded = i / 255.0;
        const float linear = std::clamp(cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(encoded)), 0.0f, 1.0f);
        const double shown = cmsEvalToneCurveFloat(srgbInverse.get(), linear);
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

// One profile seen in a file: what it is and the transforms made from it so
// far, each made on first use and then shared by every thread (a LittleCMS
// transform only reads its own state while it runs).
class ProfileEntry {
public:
    explicit ProfileEntry(const QByteArray& bytes)
        : m_bytes(TrimmedProfile(bytes))
        , m_kind(m_bytes.isEmpty() ? ProfileKind::Unusable : Classify(m_bytes))
    {
    }

    ProfileKind Kind() const { return m_kind; }

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

Bitmap ConvertCmyk(Bitmap image, ProfileEntry* entry)
{
    FIBITMAP* source = image.get();
    const bool sixteen = FreeImage_GetImageType(source) == FIT_RGBA16;
    cmsHTRANSFORM transform = entry && entry->Kind() == ProfileKind::Cmyk
                                  ? entry->TransformTo(sixteen ? TYPE_CMYK_16 : TYPE_CMYK_8, sixteen ? TYPE_RGB_16 : kFormat24)
                                  : nullptr;
    // Ink amounts are no colours: without a transform there is nothing to show.
    Bitmap rgb = transform ? RgbLike(source, sixteen) : nullptr;
    if (!rgb)
        return nullptr;
    cmsDoTransformLineStride(transform, FreeImage_GetBits(source), FreeImage_GetBits(rgb.get()),
                             FreeImage_GetWidth(source), FreeImage_GetHeight(source), FreeImage_GetPitch(source),
                             FreeImage_GetPitch(rgb.get()), 0, 0);
    return rgb;
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

bool ConvertsAfterReduction(FIBITMAP* image, const QByteArray& iccProfile)
{
    if (!image || iccProfile.isEmpty() || FreeImage_GetImageType(image) != FIT_BITMAP || IsCmykBitmap(image))
        return false;
    const unsigned bpp = FreeImage_GetBPP(image);
    return (bpp == 24 || bpp == 32) && Entry(iccProfile)->Kind() == ProfileKind::Rgb;
}

void ConvertPictureToSrgb(QImage& picture, const QByteArray& iccProfile)
{
    if (picture.isNull() || iccProfile.isEmpty())
        return;
    const std::shared_ptr<ProfileEntry> entry = Entry(iccProfile);
    if (entry->Kind() != ProfileKind::Rgb)
        return;
    // QImage's 32-bit pixels are one native-endian word, 0xAARRGGBB.
    constexpr cmsUInt32Number kPictureFormat = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TYPE_BGRA_8 : TYPE_ARGB_8;
    cmsHTRANSFORM transform = entry->TransformTo(kPictureFormat, kPictureFormat);
    if (!transform)
        return;
    if (picture.format() != QImage::Format_RGB32 && picture.format() != QImage::Format_ARGB32)
        picture = picture.convertToFormat(QImage::Format_RGB32);
    uchar* bits = picture.bits(); // detaches a shared picture
    const auto pitch = static_cast<cmsUInt32Number>(picture.bytesPerLine());
    cmsDoTransformLineStride(transform, bits, bits, static_cast<cmsUInt32Number>(picture.width()),
                             static_cast<cmsUInt32Number>(picture.height()), pitch, pitch, 0, 0);
}

bool IsCmykProfile(const QByteArray& iccProfile)
{
    if (iccProfile.isEmpty())
        return false;
    const std::shared_ptr<ProfileEntry> entry = Entry(iccProfile);
    return entry->Kind() == ProfileKind::Cmyk && entry->TransformTo(TYPE_CMYK_8, kFormat24) != nullptr;
}

} // namespace pixquill
