#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include <QColorSpace>
#include <QColorTransform>
#include <QImage>
#include <QTemporaryDir>

#include <FreeImage.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <tiffio.h>

#include "codec/ColourProfile.h"
#include "codec/LibraryMessages.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

// --- Profiles made here with LittleCMS ----------------------------------------

QByteArray Saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    QByteArray bytes;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(static_cast<qsizetype>(size));
        cmsSaveProfileToMem(profile, bytes.data(), &size);
    }
    cmsCloseProfile(profile);
    return bytes;
}

// An RGB matrix profile and the same colours as Qt describes them, Qt being
// the independent judge of where a colour should land in sRGB.
struct RgbSpace {
    const char* Name;
    QPointF White, Red, Green, Blue;
    float Gamma; // 0: sRGB's curve

    QByteArray Icc() const
    {
        const cmsCIExyY white {White.x(), White.y(), 1.0};
        const cmsCIExyYTRIPLE primaries {{Red.x(), Red.y(), 1.0}, {Green.x(), Green.y(), 1.0}, {Blue.x(), Blue.y(), 1.0}};
        const double srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
        cmsToneCurve* curve = Gamma > 0 ? cmsBuildGamma(nullptr, Gamma) : cmsBuildParametricToneCurve(nullptr, 4, srgb);
        cmsToneCurve* curves[3] = {curve, curve, curve};
        QByteArray bytes = Saved(cmsCreateRGBProfile(&white, &primaries, curves));
        cmsFreeToneCurve(curve);
        return bytes;
    }
    QColorTransform ToSrgb() const
    {
        const QColorSpace space(White, Red, Green, Blue,
                                Gamma > 0 ? QColorSpace::TransferFunction::Gamma : QColorSpace::TransferFunction::SRgb, Gamma);
        return space.transformationToColorSpace(QColorSpace::SRgb);
    }
};

const QPointF kD65(0.3127, 0.3290);
// Stored red means sRGB's green and the other way round.
const RgbSpace kSwapped {"Swapped", kD65, {0.30, 0.60}, {0.64, 0.33}, {0.15, 0.06}, 0};
const RgbSpace kAdobe {"AdobeLike", kD65, {0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}, 563.0f / 256.0f};
const RgbSpace kProPhoto {"ProPhotoLike", {0.3457, 0.3585}, {0.7347, 0.2653}, {0.1596, 0.8404}, {0.0366, 0.0001}, 1.8f};

QByteArray SrgbIcc()
{
    return Saved(cmsCreate_sRGBProfile());
}

// sRGB as version 2 profiles carry it: a D65 media white and 1024-entry
// curves rather than the formula.
QByteArray SrgbVersion2Icc()
{
    std::vector<cmsUInt16Number> table(1024);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double v = static_cast<double>(i) / 1023.0;
        table[i] = static_cast<cmsUInt16Number>(std::lround(65535 * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4))));
    }
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data());
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const cmsCIExyY white {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsSetProfileVersion(profile, 2.1);
    const cmsCIEXYZ d65 {0.9505, 1.0, 1.0890};
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, &d65);
    return Saved(profile);
}

QByteArray LinearGreyIcc()
{
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    QByteArray bytes = Saved(cmsCreateGrayProfile(cmsD50_xyY(), linear));
    cmsFreeToneCurve(linear);
    return bytes;
}

// Inks that take their share of white away, black taking all three: cyan ink
// leaves sRGB's cyan. Sampled into a CMYK-to-Lab table, as printer profiles are.
// With swappedInks the first two inks trade places (the first leaves magenta),
// which no formula that knows no profile would guess.
QByteArray InkIcc(bool swappedInks)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    struct Cargo {
        cmsHTRANSFORM ToLab;
        bool Swapped;
    } cargo {cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0), swappedInks};
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(table, [](const cmsUInt16Number in[], cmsUInt16Number out[], void* data) -> cmsInt32Number {
        const auto& inks = *static_cast<const Cargo*>(data);
        const double white = 1.0 - in[3] / 65535.0;
        const int first = inks.Swapped ? 1 : 0;
        const double rgb[3] = {(1.0 - in[first] / 65535.0) * white, (1.0 - in[1 - first] / 65535.0) * white,
                               (1.0 - in[2] / 65535.0) * white};
        cmsCIELab colour;
        cmsDoTransform(inks.ToLab, rgb, &colour, 1);
        cmsFloat2LabEncoded(out, &colour);
        return TRUE;
    }, &cargo, 0);
    cmsDeleteTransform(cargo.ToLab);
    // An A-to-B table needs its curves on both sides; identities here.
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipeline);
    return Saved(profile);
}

QByteArray CmykIcc()
{
    return InkIcc(false);
}

QByteArray WithDeclaredSize(QByteArray icc, quint32 size)
{
    for (int i = 0; i < 4; ++i)
        icc[i] = static_cast<char>(size >> (24 - 8 * i));
    return icc;
}

// --- Bitmaps -------------------------------------------------------------------

// Float goes through LittleCMS, the others through the matrix-and-curves path.
enum class Layout { Rgb8, Rgba8, Rgb16, Rgba16, RgbFloat };
constexpr quint16 kAlpha = 0x4321; // must come out as it went in

Bitmap RowOf(Layout layout, const std::vector<QRgb>& colours)
{
    const int n = static_cast<int>(colours.size());
    const bool sixteen = layout == Layout::Rgb16 || layout == Layout::Rgba16;
    const FREE_IMAGE_TYPE type = layout == Layout::RgbFloat ? FIT_RGBF : !sixteen ? FIT_BITMAP : layout == Layout::Rgb16 ? FIT_RGB16 : FIT_RGBA16;
    Bitmap b(FreeImage_AllocateT(type, n, 1, layout == Layout::Rgb8 ? 24 : 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    BYTE* line = FreeImage_GetScanLine(b.get(), 0);
    for (int x = 0; x < n; ++x) {
        const QRgb c = colours[x];
        if (layout == Layout::RgbFloat)
            reinterpret_cast<FIRGBF*>(line)[x] = FIRGBF{float(qRed(c)) / 255.0f, float(qGreen(c)) / 255.0f, float(qBlue(c)) / 255.0f};
        else if (layout == Layout::Rgb16)
            reinterpret_cast<FIRGB16*>(line)[x] = FIRGB16{WORD(qRed(c) * 257), WORD(qGreen(c) * 257), WORD(qBlue(c) * 257)};
        else if (layout == Layout::Rgba16)
            reinterpret_cast<FIRGBA16*>(line)[x] = FIRGBA16{WORD(qRed(c) * 257), WORD(qGreen(c) * 257), WORD(qBlue(c) * 257), kAlpha};
        else {
            BYTE* p = line + x * (layout == Layout::Rgb8 ? 3 : 4);
            p[FI_RGBA_RED] = BYTE(qRed(c));
            p[FI_RGBA_GREEN] = BYTE(qGreen(c));
            p[FI_RGBA_BLUE] = BYTE(qBlue(c));
            if (layout == Layout::Rgba8)
                p[FI_RGBA_ALPHA] = BYTE(kAlpha);
        }
    }
    return b;
}

// Pixel x as 16-bit channels; alpha is what the bitmap holds, or kAlpha when it has none.
QRgba64 PixelAt(FIBITMAP* b, Layout layout, int x)
{
    const BYTE* line = FreeImage_GetScanLine(b, 0);
    switch (layout) {
    case Layout::RgbFloat: {
        const FIRGBF p = reinterpret_cast<const FIRGBF*>(line)[x];
        const auto word = [](float v) { return quint16(std::lround(std::clamp(v, 0.0f, 1.0f) * 65535)); };
        return qRgba64(word(p.red), word(p.green), word(p.blue), kAlpha);
    }
    case Layout::Rgb16: {
        const FIRGB16 p = reinterpret_cast<const FIRGB16*>(line)[x];
        return qRgba64(p.red, p.green, p.blue, kAlpha);
    }
    case Layout::Rgba16: {
        const FIRGBA16 p = reinterpret_cast<const FIRGBA16*>(line)[x];
        return qRgba64(p.red, p.green, p.blue, p.alpha);
    }
    default: {
        const BYTE* p = line + x * (layout == Layout::Rgb8 ? 3 : 4);
        return qRgba64(p[FI_RGBA_RED] * 257, p[FI_RGBA_GREEN] * 257, p[FI_RGBA_BLUE] * 257,
                       layout == Layout::Rgba8 ? p[FI_RGBA_ALPHA] : kAlpha);
    }
    }
}

QByteArray AllBits(FIBITMAP* b)
{
    return QByteArray(reinterpret_cast<const char*>(FreeImage_GetBits(b)),
                      static_cast<qsizetype>(FreeImage_GetPitch(b)) * FreeImage_GetHeight(b));
}

// Saturated and middling colours, black and white: a backwards or channel-swapped
// transform misses most of them.
const std::vector<QRgb> kColours {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(40, 60, 220), qRgb(200, 120, 60),
                                  qRgb(90, 170, 110), qRgb(128, 128, 128), qRgb(0, 0, 0), qRgb(255, 255, 255)};

// --- RGB profiles: converted in place, as Qt would convert them ----------------

class RgbConversionTest : public ::testing::TestWithParam<std::tuple<RgbSpace, Layout>> {};

TEST_P(RgbConversionTest, GivesTheSrgbColoursInTheSameLayout)
{
    const auto& [space, layout] = GetParam();
    const bool sixteen = layout == Layout::Rgb16 || layout == Layout::Rgba16;
    Bitmap stored = RowOf(layout, kColours);
    FIBITMAP* handle = stored.get();
    EXPECT_FALSE(IsCmykProfile(space.Icc()));
    const Bitmap converted = ConvertToSrgb(std::move(stored), space.Icc());
    ASSERT_EQ(converted.get(), handle); // in place
    const QColorTransform toSrgb = space.ToSrgb();
    for (int x = 0; x < static_cast<int>(kColours.size()); ++x) {
        const QRgba64 got = PixelAt(converted.get(), layout, x);
        const QRgba64 want = toSrgb.map(QRgba64::fromArgb32(kColours[x]));
        const int tolerance = 257; // one 8-bit level
        SCOPED_TRACE(testing::Message() << "colour " << x);
        EXPECT_NEAR(got.red(), want.red(), tolerance);
        EXPECT_NEAR(got.green(), want.green(), tolerance);
        EXPECT_NEAR(got.blue(), want.blue(), tolerance);
        EXPECT_EQ(got.alpha() & (sixteen ? 0xFFFF : 0xFF), kAlpha & (sixteen ? 0xFFFF : 0xFF));
    }
}

std::string SpaceAndLayout(const ::testing::TestParamInfo<RgbConversionTest::ParamType>& testInfo)
{
    const char* layouts[] = {"Rgb8", "Rgba8", "Rgb16", "Rgba16", "RgbFloat"};
    return std::string(std::get<0>(testInfo.param).Name) + layouts[static_cast<int>(std::get<1>(testInfo.param))];
}

INSTANTIATE_TEST_SUITE_P(Spaces, RgbConversionTest,
                         ::testing::Combine(::testing::Values(kSwapped, kAdobe, kProPhoto),
                                            ::testing::Values(Layout::Rgb8, Layout::Rgba8, Layout::Rgb16, Layout::Rgba16,
                                                              Layout::RgbFloat)),
                         SpaceAndLayout);

// --- Profiles that leave the picture alone --------------------------------------

struct UnchangedCase {
    const char* Name;
    std::function<QByteArray()> Icc;
    bool Cmyk = false;
};

class UnchangedTest : public ::testing::TestWithParam<UnchangedCase> {};

TEST_P(UnchangedTest, SameHandleSameBytesNothingPrinted)
{
    const QByteArray icc = GetParam().Icc();
    Bitmap stored = RowOf(Layout::Rgb8, kColours);
    FIBITMAP* handle = stored.get();
    const QByteArray before = AllBits(handle);
    test::StderrCapture stderrCapture;
    const Bitmap result = ConvertToSrgb(std::move(stored), icc);
    const bool cmyk = IsCmykProfile(icc);
    EXPECT_EQ(stderrCapture.Take(), QByteArray());
    ASSERT_EQ(result.get(), handle);
    EXPECT_EQ(AllBits(handle), before);
    EXPECT_EQ(cmyk, GetParam().Cmyk);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, UnchangedTest,
    ::testing::Values(
        UnchangedCase {"Untagged", [] { return QByteArray(); }},
        UnchangedCase {"LittleCmsSrgb", SrgbIcc},
        UnchangedCase {"Version2Srgb", SrgbVersion2Icc},
        UnchangedCase {"Noise", [] { return QByteArray(600, '\x5a'); }},
        UnchangedCase {"HeaderOnly", [] { return kSwapped.Icc().left(128); }},
        UnchangedCase {"SizeClaimsMore", [] { const QByteArray icc = kSwapped.Icc(); return WithDeclaredSize(icc, quint32(icc.size()) + 4096); }},
        UnchangedCase {"SizeBelowHeader", [] { return WithDeclaredSize(kSwapped.Icc(), 64); }},
        UnchangedCase {"CmykOnRgb", CmykIcc, true},
        UnchangedCase {"DeviceLink", [] { return Saved(cmsCreateInkLimitingDeviceLink(cmsSigCmykData, 250)); }}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// --- Grey: levels on the profile's curve become levels on sRGB's ----------------

class GreyTest : public ::testing::TestWithParam<bool> {};

TEST_P(GreyTest, LinearLevelsComeOutOnTheSrgbCurve)
{
    const bool sixteen = GetParam();
    const std::vector<int> levels {0, 16, 64, 128, 200, 255};
    const int n = static_cast<int>(levels.size());
    Bitmap grey(sixteen ? FreeImage_AllocateT(FIT_UINT16, n, 1) : FreeImage_Allocate(n, 1, 8));
    BYTE* line = FreeImage_GetScanLine(grey.get(), 0);
    RGBQUAD* palette = FreeImage_GetPalette(grey.get());
    for (int i = 0; i < 256 && !sixteen; ++i)
        palette[i] = RGBQUAD {BYTE(i), BYTE(i), BYTE(i), 0};
    for (int x = 0; x < n; ++x) {
        if (sixteen)
            reinterpret_cast<WORD*>(line)[x] = WORD(levels[x] * 257);
        else
            line[x] = BYTE(levels[x]);
    }
    const Bitmap result = ConvertToSrgb(std::move(grey), LinearGreyIcc());
    ASSERT_EQ(FreeImage_GetImageType(result.get()), sixteen ? FIT_UINT16 : FIT_BITMAP);
    line = FreeImage_GetScanLine(result.get(), 0);
    for (int x = 0; x < n; ++x) {
        const double linear = levels[x] / 255.0;
        const double want = 255.0 * (linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055);
        const double got = sixteen ? reinterpret_cast<const WORD*>(line)[x] / 257.0 : FreeImage_GetPalette(result.get())[line[x]].rgbGreen;
        EXPECT_NEAR(got, want, 1.0) << "level " << levels[x];
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, GreyTest, ::testing::Values(false, true),
                         [](const auto& testInfo) { return testInfo.param ? "Grey16" : "Palette8"; });

// --- Files through FreeImage ----------------------------------------------------

QByteArray IccOf(FIBITMAP* b)
{
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(b);
    return icc && icc->data ? QByteArray(static_cast<const char*>(icc->data), icc->size) : QByteArray();
}

// FreeImage 3.18 (Debian's) decodes the pixels of such a PNG but hands no
// profile for it (FreeImage_GetICCProfile is empty for PNG files, while JPEG
// and TIFF files get theirs), so the profile is read from the file by Qt here.
TEST(ColourFileTest, PngTaggedByQtComesBackInItsOriginalColours)
{
    QImage stored(static_cast<int>(kColours.size()), 1, QImage::Format_RGB32);
    for (int x = 0; x < stored.width(); ++x) // red and green swapped, as the profile says
        stored.setPixel(x, 0, qRgb(qGreen(kColours[x]), qRed(kColours[x]), qBlue(kColours[x])));
    stored.setColorSpace(QColorSpace::fromIccProfile(kSwapped.Icc()));
    QTemporaryDir dir;
    const QString path = dir.filePath("tagged.png");
    ASSERT_TRUE(stored.save(path));

    Bitmap loaded(FreeImage_Load(FIF_PNG, path.toLocal8Bit().constData(), 0));
    ASSERT_TRUE(loaded);
    const QByteArray icc = QImage(path).colorSpace().iccProfile();
    ASSERT_EQ(icc, kSwapped.Icc());
    const Bitmap converted = ConvertToSrgb(std::move(loaded), icc);
    const Layout layout = FreeImage_GetBPP(converted.get()) == 32 ? Layout::Rgba8 : Layout::Rgb8;
    for (int x = 0; x < stored.width(); ++x) {
        const QRgb got = PixelAt(converted.get(), layout, x).toArgb32();
        EXPECT_LE(test::ColourDistance(got, kColours[x]), 1) << x;
    }
}

// Ink amounts (0 = none), one 8 x 8 block each so that JPEG keeps them, and
// the sRGB colour the profile above gives them.
struct Ink {
    BYTE C, M, Y, K;
    QRgb Srgb;
};
const std::vector<Ink> kInks {{0, 0, 0, 0, qRgb(255, 255, 255)},   {255, 0, 0, 0, qRgb(0, 255, 255)},
                              {0, 255, 0, 0, qRgb(255, 0, 255)},   {0, 0, 255, 0, qRgb(255, 255, 0)},
                              {0, 255, 255, 0, qRgb(255, 0, 0)},   {255, 0, 255, 0, qRgb(0, 255, 0)},
                              {0, 0, 0, 255, qRgb(0, 0, 0)}};
constexpr int kBlock = 8;

std::vector<BYTE> InkRow(bool inverted)
{
    std::vector<BYTE> row;
    for (const Ink& ink : kInks)
        for (int i = 0; i < kBlock; ++i)
            for (BYTE v : {ink.C, ink.M, ink.Y, ink.K})
                row.push_back(inverted ? BYTE(255 - v) : v);
    return row;
}

// Written as Adobe's programs write CMYK JPEGs: an APP14 marker and inverted samples.
void WriteCmykJpeg(const QString& path, const QByteArray& icc)
{
    FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
    jpeg_compress_struct c {};
    jpeg_error_mgr errors {};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = static_cast<JDIMENSION>(kInks.size() * kBlock);
    c.image_height = kBlock;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    c.write_Adobe_marker = TRUE;
    jpeg_start_compress(&c, TRUE);
    jpeg_write_icc_profile(&c, reinterpret_cast<const JOCTET*>(icc.constData()), static_cast<unsigned>(icc.size()));
    std::vector<BYTE> row = InkRow(true);
    for (int y = 0; y < kBlock; ++y) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

// Without a profile (an empty one) the file carries no ICC tag at all.
void WriteCmykTiff(const QString& path, const QByteArray& icc)
{
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(kInks.size() * kBlock));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(kBlock));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (!icc.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc.size()), icc.constData());
    std::vector<BYTE> row = InkRow(false);
    for (int y = 0; y < kBlock; ++y)
        TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    TIFFClose(tiff);
}

class CmykFileTest : public ::testing::TestWithParam<bool> {};

TEST_P(CmykFileTest, InksComeOutAsTheProfileSays)
{
    const bool jpeg = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(jpeg ? "cmyk.jpg" : "cmyk.tif");
    jpeg ? WriteCmykJpeg(path, CmykIcc()) : WriteCmykTiff(path, CmykIcc());
    const LibraryMessages quiet; // FreeImage's TIFF reader talks about EXIF tags it knows
    Bitmap loaded(FreeImage_Load(jpeg ? FIF_JPEG : FIF_TIFF, path.toLocal8Bit().constData(), jpeg ? JPEG_CMYK : TIFF_CMYK));
    ASSERT_TRUE(loaded);
    ASSERT_EQ(FreeImage_GetColorType(loaded.get()), FIC_CMYK);
    const QByteArray icc = IccOf(loaded.get());
    ASSERT_TRUE(IsCmykProfile(icc));
    const Bitmap rgb = ConvertToSrgb(std::move(loaded), icc);
    ASSERT_EQ(FreeImage_GetBPP(rgb.get()), 24u);
    const BYTE* line = FreeImage_GetScanLine(rgb.get(), 0);
    for (std::size_t i = 0; i < kInks.size(); ++i) {
        const BYTE* p = line + (i * kBlock + kBlock / 2) * 3;
        const QRgb want = kInks[i].Srgb;
        SCOPED_TRACE(testing::Message() << "ink " << i);
        EXPECT_NEAR(p[FI_RGBA_RED], qRed(want), 3);
        EXPECT_NEAR(p[FI_RGBA_GREEN], qGreen(want), 3);
        EXPECT_NEAR(p[FI_RGBA_BLUE], qBlue(want), 3);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, CmykFileTest, ::testing::Values(true, false),
                         [](const auto& testInfo) { return testInfo.param ? "AdobeJpeg" : "Tiff"; });

// The same inks through the whole loader, as a thumbnail run reads them, with
// a profile whose first two inks trade places. Without a profile there is
// nothing to say what the inks look like: the plain formula (white less each
// ink and black) stands.
enum class CmykProfile { None, Swapped };

struct CmykLoadCase {
    const char* Name;
    void (*Write)(const QString& path, const QByteArray& icc);
    CmykProfile Profile;
};

std::ostream& operator<<(std::ostream& os, const CmykLoadCase& c) { return os << c.Name; }

class CmykLoadTest : public ::testing::TestWithParam<CmykLoadCase> {};

TEST_P(CmykLoadTest, InksShowAsTheFileDescribesThem)
{
    const CmykLoadCase& c = GetParam();
    const bool swapped = c.Profile == CmykProfile::Swapped;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("inks.bin"));
    c.Write(path, swapped ? InkIcc(true) : QByteArray());
    Surface surface;
    test::StderrCapture stderrCapture;
    const LoadResult loaded = LoadImageToSurface(path, surface);
    ASSERT_TRUE(loaded.ok) << loaded.error.toStdString();
    EXPECT_TRUE(stderrCapture.Take().isEmpty());
    for (std::size_t i = 0; i < kInks.size(); ++i) {
        const Ink& ink = kInks[i];
        const auto left = [&ink](BYTE amount) { return (255 - amount) * (255 - ink.K) / 255; };
        const QRgb want = swapped ? qRgb(left(ink.M), left(ink.C), left(ink.Y)) : qRgb(left(ink.C), left(ink.M), left(ink.Y));
        const QRgb got = surface.Image().pixel(static_cast<int>(i) * kBlock + kBlock / 2, kBlock / 2);
        EXPECT_LE(test::ColourDistance(got, want), 4) << "ink " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CmykLoadTest,
                         ::testing::Values(CmykLoadCase{"JpegWithProfile", WriteCmykJpeg, CmykProfile::Swapped},
                                           CmykLoadCase{"TiffWithProfile", WriteCmykTiff, CmykProfile::Swapped},
                                           CmykLoadCase{"TiffWithoutProfile", WriteCmykTiff, CmykProfile::None}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
