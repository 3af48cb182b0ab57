#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <FreeImage.h>
#include <jxl/encode.h>
#include <lcms2.h>
#include <libheif/heif.h>

#include "codec/HeifDecoder.h"
#include "codec/JxlDecoder.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

ByteReader MemoryReader(const QByteArray& bytes)
{
    return [bytes](std::int64_t offset, void* out, std::int64_t size) -> std::int64_t {
        const std::int64_t n = std::clamp<std::int64_t>(bytes.size() - offset, 0, size);
        if (n > 0)
            std::memcpy(out, bytes.constData() + offset, std::size_t(n));
        return n;
    };
}

// The colour at (x, y), top row 0, as 8 bits a channel (deep samples give
// their high byte).
QRgb PixelAt(FIBITMAP* bitmap, int x, int y)
{
    const BYTE* line = FreeImage_GetScanLine(bitmap, FreeImage_GetHeight(bitmap) - 1 - y);
    switch (FreeImage_GetImageType(bitmap)) {
    case FIT_RGB16:
    case FIT_RGBA16: {
        const int channels = FreeImage_GetImageType(bitmap) == FIT_RGB16 ? 3 : 4;
        const auto* p = reinterpret_cast<const WORD*>(line) + x * channels;
        return qRgb(p[0] >> 8, p[1] >> 8, p[2] >> 8);
    }
    case FIT_UINT16: {
        const int v = reinterpret_cast<const WORD*>(line)[x] >> 8;
        return qRgb(v, v, v);
    }
    default:
        if (FreeImage_GetBPP(bitmap) == 8) {
            const RGBQUAD c = FreeImage_GetPalette(bitmap)[line[x]];
            return qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue);
        }
        const BYTE* p = line + x * int(FreeImage_GetBPP(bitmap) / 8);
        return qRgb(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]);
    }
}

// --- files made by the libraries' own encoders ---------------------------

QImage Quadrants() { return test::QuadrantImage(64, 48); }

QByteArray RunEncoder(const QString& program, QStringList arguments, const QImage& image, const QString& suffix)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("in.png"));
    const QString out = dir.filePath(QStringLiteral("out.") + suffix);
    if (!image.save(png))
        return {};
    arguments << png << out;
    if (program == QLatin1String("heif-enc"))
        arguments.insert(arguments.size() - 1, QStringLiteral("-o"));
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return test::ReadFileBytes(out);
}

struct HeifSpec {
    int Orientation = 1;
    int Bits = 8;
    bool Alpha = false;
    int ThumbnailBox = 0;    // a thumbnail image fitting this square
    QSize OtherThumbnail {}; // or one of another picture and aspect
    QByteArray Icc {};
    int Primaries = 0;       // nclx written when set
    int Transfer = 2;
};

heif_image* HeifImage(const QImage& picture, int bits, bool alpha)
{
    const heif_chroma chroma = bits > 8 ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                        : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* image = nullptr;
    heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, chroma, &image);
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(), bits);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA64);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* in = reinterpret_cast<const quint16*>(rgba.constScanLine(y));
        std::uint8_t* out = plane + y * stride;
        for (int x = 0; x < picture.width(); ++x) {
            for (int c = 0; c < channels; ++c) {
                const int v = in[4 * x + c] >> (16 - bits);
                if (bits > 8) {
                    out[2 * (channels * x + c)] = std::uint8_t(v);
                    out[2 * (channels * x + c) + 1] = std::uint8_t(v >> 8);
                } else {
                    out[channels * x + c] = std::uint8_t(v);
                }
            }
        }
    }
    return image;
}

QByteArray EncodeHeic(const QImage& picture, const HeifSpec& spec)
{
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = HeifImage(picture, spec.Bits, spec.Alpha);
    if (!spec.Icc.isEmpty())
        heif_image_set_raw_color_profile(image, "prof", spec.Icc.constData(), std::size_t(spec.Icc.size()));
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(spec.Orientation);
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (spec.Primaries) {
        heif_nclx_color_profile_set_color_primaries(nclx, std::uint16_t(spec.Primaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, std::uint16_t(spec.Transfer));
        heif_nclx_color_profile_set_matrix_coefficients(nclx, 6);
        heif_image_set_nclx_color_profile(image, nclx);
        options->output_nclx_profile = nclx;
        options->macOS_compatibility_workaround_no_nclx_profile = 0;
    }
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context, image, encoder, options, &handle);
    heif_image_handle* thumbnail = nullptr;
    if (spec.ThumbnailBox > 0)
        heif_context_encode_thumbnail(context, image, handle, encoder, options, spec.ThumbnailBox, &thumbnail);
    if (spec.OtherThumbnail.isValid()) {
        heif_image* other = HeifImage(test::GradientImage(spec.OtherThumbnail.width(), spec.OtherThumbnail.height()), 8, false);
        heif_context_encode_image(context, other, encoder, nullptr, &thumbnail);
        heif_context_assign_thumbnail(context, handle, thumbnail);
        heif_image_release(other);
    }
    QByteArray bytes;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                           static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(context, &writer, &bytes);
    heif_image_handle_release(thumbnail);
    heif_image_handle_release(handle);
    heif_nclx_color_profile_free(nclx);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

struct JxlSpec {
    int Orientation = 1;
    int Bits = 8;
    bool Float = false;
    bool Alpha = false;
    bool Grey = false;
    bool Lossless = true;
    QByteArray Icc {};
};

QByteArray EncodeJxl(const QImage& picture, const JxlSpec& spec)
{
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(picture.width());
    info.ysize = std::uint32_t(picture.height());
    info.bits_per_sample = spec.Float ? 32 : std::uint32_t(spec.Bits);
    info.exponent_bits_per_sample = spec.Float ? 8 : 0;
    info.num_color_channels = spec.Grey ? 1 : 3;
    info.num_extra_channels = spec.Alpha ? 1 : 0;
    info.alpha_bits = spec.Alpha ? info.bits_per_sample : 0;
    info.alpha_exponent_bits = spec.Alpha ? info.exponent_bits_per_sample : 0;
    info.orientation = JxlOrientation(spec.Orientation);
    info.uses_original_profile = spec.Lossless;
    JxlEncoderSetBasicInfo(encoder, &info);
    if (spec.Icc.isEmpty()) {
        JxlColorEncoding srgb;
        JxlColorEncodingSetToSRGB(&srgb, spec.Grey);
        JxlEncoderSetColorEncoding(encoder, &srgb);
    } else {
        JxlEncoderSetICCProfile(encoder, reinterpret_cast<const std::uint8_t*>(spec.Icc.constData()), std::size_t(spec.Icc.size()));
    }
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    if (spec.Lossless)
        JxlEncoderSetFrameLossless(settings, JXL_TRUE);

    const std::uint32_t channels = info.num_color_channels + info.num_extra_channels;
    const JxlPixelFormat format{channels, spec.Float ? JXL_TYPE_FLOAT : spec.Bits > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
                                JXL_NATIVE_ENDIAN, 0};
    std::vector<float> samples;
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb c = rgba.pixel(x, y);
            if (spec.Grey)
                samples.push_back(qGray(c) / 255.0f);
            else
                samples.insert(samples.end(), {qRed(c) / 255.0f, qGreen(c) / 255.0f, qBlue(c) / 255.0f});
            if (spec.Alpha)
                samples.push_back(qAlpha(c) / 255.0f);
        }
    }
    QByteArray pixels;
    for (const float s : samples) {
        if (spec.Float)
            pixels.append(reinterpret_cast<const char*>(&s), 4);
        else if (spec.Bits > 8) {
            const quint16 v = quint16(s * 65535.0f + 0.5f);
            pixels.append(reinterpret_cast<const char*>(&v), 2);
        } else
            pixels.append(char(quint8(s * 255.0f + 0.5f)));
    }
    JxlEncoderAddImageFrame(settings, &format, pixels.constData(), std::size_t(pixels.size()));
    JxlEncoderCloseInput(encoder);
    QByteArray bytes(4096, '\0');
    std::uint8_t* next = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::size_t available = std::size_t(bytes.size());
    while (JxlEncoderProcessOutput(encoder, &next, &available) == JXL_ENC_NEED_MORE_OUTPUT) {
        const qsizetype used = qsizetype(next - reinterpret_cast<std::uint8_t*>(bytes.data()));
        bytes.resize(bytes.size() * 2);
        next = reinterpret_cast<std::uint8_t*>(bytes.data()) + used;
        available = std::size_t(bytes.size() - used);
    }
    bytes.resize(qsizetype(next - reinterpret_cast<std::uint8_t*>(bytes.data())));
    JxlEncoderDestroy(encoder);
    return bytes;
}

const QByteArray& DisplayP3() // an ICC profile that is not sRGB
{
    static const QByteArray icc = IccProfileFromNclx(12, 13);
    return icc;
}

DecodedImage Decode(const QByteArray& file, int wantedWidth = 0, int wantedHeight = 0)
{
    return LooksLikeJxl(MemoryReader(file)) ? DecodeJxl(MemoryReader(file), file.size())
                                            : DecodeHeif(MemoryReader(file), file.size(), wantedWidth, wantedHeight);
}

// --- each format, size, quadrant colours and colour profile --------------

struct Made {
    const char* Name;
    std::function<QByteArray()> Make;
    bool HasProfile;
    int Tolerance;
};
void PrintTo(const Made& made, std::ostream* os) { *os << made.Name; }

class MadeFileTest : public ::testing::TestWithParam<Made> {};

TEST_P(MadeFileTest, DecodesUprightWithItsColoursAndProfile)
{
    const QByteArray file = GetParam().Make();
    ASSERT_FALSE(file.isEmpty());
    test::StderrCapture stderrCapture;
    const DecodedImage decoded = Decode(file);
    EXPECT_EQ("", stderrCapture.Take().toStdString());
    ASSERT_TRUE(decoded.Image) << decoded.Error.toStdString();
    EXPECT_TRUE(decoded.Error.isEmpty());
    FIBITMAP* bitmap = decoded.Image.get();
    ASSERT_EQ(QSize(64, 48), QSize(int(FreeImage_GetWidth(bitmap)), int(FreeImage_GetHeight(bitmap))));
    const QImage expected = Quadrants();
    for (const QPoint at : {QPoint(12, 10), QPoint(52, 10), QPoint(12, 38), QPoint(52, 38)})
        EXPECT_LE(test::ColourDistance(expected.pixel(at), PixelAt(bitmap, at.x(), at.y())), GetParam().Tolerance) << at.x() << "," << at.y();
    EXPECT_EQ(GetParam().HasProfile, !decoded.IccProfile.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Encoders, MadeFileTest, ::testing::Values(
    Made{"heif-enc HEVC", [] { return RunEncoder("heif-enc", {}, Quadrants(), "heic"); }, false, 24},
    Made{"heif-enc AV1", [] { return RunEncoder("heif-enc", {"-A"}, Quadrants(), "avif"); }, false, 24},
    Made{"avifenc", [] { return RunEncoder("avifenc", {}, Quadrants(), "avif"); }, false, 24},
    Made{"avifenc Display P3 nclx", [] { return RunEncoder("avifenc", {"--cicp", "12/13/6"}, Quadrants(), "avif"); }, true, 24},
    Made{"avifenc BT.709 nclx", [] { return RunEncoder("avifenc", {"--cicp", "1/1/1"}, Quadrants(), "avif"); }, true, 24},
    Made{"cjxl lossless", [] { return RunEncoder("cjxl", {"-d", "0"}, Quadrants(), "jxl"); }, false, 0},
    Made{"cjxl lossy", [] { return RunEncoder("cjxl", {"-d", "1"}, Quadrants(), "jxl"); }, false, 24},
    Made{"HEVC with ICC", [] { return EncodeHeic(Quadrants(), {.Icc = DisplayP3()}); }, true, 24},
    Made{"HEVC Display P3 nclx", [] { return EncodeHeic(Quadrants(), {.Primaries = 12, .Transfer = 13}); }, true, 24},
    Made{"HEVC sRGB nclx", [] { return EncodeHeic(Quadrants(), {.Primaries = 1, .Transfer = 13}); }, false, 24},
    Made{"HEVC PQ nclx", [] { return EncodeHeic(Quadrants(), {.Primaries = 9, .Transfer = 16}); }, false, 24},
    Made{"JXL lossless with ICC", [] { return EncodeJxl(Quadrants(), {.Icc = DisplayP3()}); }, true, 0},
    Made{"JXL lossy with ICC, asked as sRGB", [] { return EncodeJxl(Quadrants(), {.Lossless = false, .Icc = DisplayP3()}); }, false, 48}));

// --- stored orientation --------------------------------------------------

enum Corner { TopLeft, TopRight, BottomLeft, BottomRight };

struct Turn {
    int Orientation;
    Corner Red;   // where the stored top-left quadrant is shown
    Corner Green; // where the stored top-right one is
};
void PrintTo(const Turn& turn, std::ostream* os) { *os << "orientation " << turn.Orientation; }

class OrientationTest : public ::testing::TestWithParam<std::tuple<bool, Turn>> {};

TEST_P(OrientationTest, StoredTurnAndMirrorAreApplied)
{
    const auto [jxl, turn] = GetParam();
    const QByteArray file = jxl ? EncodeJxl(Quadrants(), {.Orientation = turn.Orientation})
                                : EncodeHeic(Quadrants(), {.Orientation = turn.Orientation});
    const DecodedImage decoded = Decode(file);
    ASSERT_TRUE(decoded.Image) << decoded.Error.toStdString();
    const QSize upright = turn.Orientation >= 5 ? QSize(48, 64) : QSize(64, 48);
    FIBITMAP* bitmap = decoded.Image.get();
    ASSERT_EQ(upright, QSize(int(FreeImage_GetWidth(bitmap)), int(FreeImage_GetHeight(bitmap))));
    if (!jxl) {
        const HeifInfo info = ReadHeifInfo(MemoryReader(file), file.size());
        EXPECT_TRUE(info.Ok);
        EXPECT_EQ(upright, QSize(info.Width, info.Height));
    }
    const auto colourAt = [&](Corner corner) {
        const int x = corner == TopLeft || corner == BottomLeft ? 4 : upright.width() - 5;
        const int y = corner == TopLeft || corner == TopRight ? 4 : upright.height() - 5;
        return PixelAt(bitmap, x, y);
    };
    EXPECT_LE(test::ColourDistance(qRgb(255, 0, 0), colourAt(turn.Red)), 24);
    EXPECT_LE(test::ColourDistance(qRgb(0, 255, 0), colourAt(turn.Green)), 24);
}

INSTANTIATE_TEST_SUITE_P(Turns, OrientationTest, ::testing::Combine(::testing::Bool(), ::testing::Values(
    Turn{1, TopLeft, TopRight}, Turn{2, TopRight, TopLeft}, Turn{3, BottomRight, BottomLeft},
    Turn{4, BottomLeft, BottomRight}, Turn{5, TopLeft, BottomLeft}, Turn{6, TopRight, BottomRight},
    Turn{7, BottomRight, TopRight}, Turn{8, BottomLeft, TopLeft})));

// --- sample depth, alpha and grey -----------------------------------------

struct Depth {
    const char* Name;
    std::function<QByteArray()> Make;
    FREE_IMAGE_TYPE Type;
    unsigned Bpp;
    bool Grey = false;
};
void PrintTo(const Depth& depth, std::ostream* os) { *os << depth.Name; }

class DepthTest : public ::testing::TestWithParam<Depth> {};

TEST_P(DepthTest, KeepsTheDepthAndFillsTheRange)
{
    const DecodedImage decoded = Decode(GetParam().Make());
    ASSERT_TRUE(decoded.Image) << decoded.Error.toStdString();
    FIBITMAP* bitmap = decoded.Image.get();
    EXPECT_EQ(GetParam().Type, FreeImage_GetImageType(bitmap));
    EXPECT_EQ(GetParam().Bpp, FreeImage_GetBPP(bitmap));
    // Bright samples reach the top of the range, whatever the stored depth.
    const QRgb white = PixelAt(bitmap, 52, 38);
    const QRgb red = PixelAt(bitmap, 12, 10);
    EXPECT_GE(qRed(white), 240);
    if (GetParam().Grey) {
        EXPECT_NEAR(qGray(255, 0, 0), qRed(red), 4);
    } else {
        EXPECT_GE(qRed(red), 240);
        EXPECT_LE(qGreen(red), 16);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, DepthTest, ::testing::Values(
    Depth{"HEVC 10-bit", [] { return EncodeHeic(Quadrants(), {.Bits = 10}); }, FIT_RGB16, 48},
    Depth{"HEVC 12-bit", [] { return EncodeHeic(Quadrants(), {.Bits = 12}); }, FIT_RGB16, 48},
    Depth{"HEVC alpha", [] { return EncodeHeic(Quadrants(), {.Alpha = true}); }, FIT_BITMAP, 32},
    Depth{"HEVC 10-bit alpha", [] { return EncodeHeic(Quadrants(), {.Bits = 10, .Alpha = true}); }, FIT_RGBA16, 64},
    Depth{"avifenc 10-bit", [] { return RunEncoder("avifenc", {"-d", "10"}, Quadrants(), "avif"); }, FIT_RGB16, 48},
    Depth{"JXL 16-bit", [] { return EncodeJxl(Quadrants(), {.Bits = 16}); }, FIT_RGB16, 48},
    Depth{"JXL float", [] { return EncodeJxl(Quadrants(), {.Float = true}); }, FIT_RGB16, 48},
    Depth{"JXL alpha", [] { return EncodeJxl(Quadrants(), {.Alpha = true}); }, FIT_BITMAP, 32},
    Depth{"JXL grey", [] { return EncodeJxl(Quadrants(), {.Grey = true}); }, FIT_BITMAP, 8, true},
    Depth{"JXL 16-bit grey", [] { return EncodeJxl(Quadrants(), {.Bits = 16, .Grey = true}); }, FIT_UINT16, 16, true}));

// --- the thumbnail a HEIF file carries -----------------------------------

struct ThumbnailCase {
    const char* Name;
    HeifSpec Spec;
    QSize Wanted;
    QSize Decoded;
    QRgb BottomLeft = qRgb(0, 0, 255);
};
void PrintTo(const ThumbnailCase& c, std::ostream* os) { *os << c.Name; }

class ThumbnailTest : public ::testing::TestWithParam<ThumbnailCase> {};

TEST_P(ThumbnailTest, TakenOnlyWhenTwiceTheWantedSizeWithTheSameAspect)
{
    const QByteArray file = EncodeHeic(test::QuadrantImage(256, 192), GetParam().Spec);
    const DecodedImage decoded = Decode(file, GetParam().Wanted.width(), GetParam().Wanted.height());
    ASSERT_TRUE(decoded.Image) << decoded.Error.toStdString();
    EXPECT_EQ(GetParam().Decoded, QSize(int(FreeImage_GetWidth(decoded.Image.get())), int(FreeImage_GetHeight(decoded.Image.get()))));
    EXPECT_LE(test::ColourDistance(GetParam().BottomLeft, PixelAt(decoded.Image.get(), 2, GetParam().Decoded.height() - 3)), 40);
}

INSTANTIATE_TEST_SUITE_P(Choices, ThumbnailTest, ::testing::Values(
    ThumbnailCase{"no wanted size", {.ThumbnailBox = 128}, {}, {256, 192}},
    ThumbnailCase{"exactly twice", {.ThumbnailBox = 128}, {64, 48}, {128, 96}},
    ThumbnailCase{"a pixel short", {.ThumbnailBox = 128}, {65, 48}, {256, 192}},
    ThumbnailCase{"another aspect", {.OtherThumbnail = {128, 64}}, {32, 24}, {256, 192}},
    ThumbnailCase{"turned with the image", {.Orientation = 6, .ThumbnailBox = 128}, {48, 64}, {96, 128}, qRgb(255, 255, 255)}));

// --- nclx descriptions as ICC profiles ------------------------------------

struct Nclx {
    int Primaries;
    int Transfer;
    QRgb Input;
    QRgb Srgb; // what the profile makes of Input in sRGB; 0 for no profile
};
void PrintTo(const Nclx& n, std::ostream* os) { *os << n.Primaries << "/" << n.Transfer; }

class NclxProfileTest : public ::testing::TestWithParam<Nclx> {};

TEST_P(NclxProfileTest, DescribesThePrimariesAndTransfer)
{
    const QByteArray icc = IccProfileFromNclx(GetParam().Primaries, GetParam().Transfer);
    ASSERT_EQ(GetParam().Srgb == 0, icc.isEmpty());
    if (icc.isEmpty())
        return;
    cmsHPROFILE profile = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(profile, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    ASSERT_NE(nullptr, transform);
    const std::uint8_t in[3] = {std::uint8_t(qRed(GetParam().Input)), std::uint8_t(qGreen(GetParam().Input)), std::uint8_t(qBlue(GetParam().Input))};
    std::uint8_t out[3] = {};
    cmsDoTransform(transform, in, out, 1);
    EXPECT_LE(test::ColourDistance(GetParam().Srgb, qRgb(out[0], out[1], out[2])), 3)
        << int(out[0]) << "," << int(out[1]) << "," << int(out[2]);
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(profile);
}

INSTANTIATE_TEST_SUITE_P(CodePoints, NclxProfileTest, ::testing::Values(
    Nclx{1, 13, 0, 0}, Nclx{2, 2, 0, 0}, Nclx{1, 2, 0, 0}, Nclx{2, 13, 0, 0},
    Nclx{9, 16, 0, 0}, Nclx{9, 18, 0, 0}, Nclx{99, 13, 0, 0}, Nclx{12, 99, 0, 0},
    Nclx{1, 8, qRgb(128, 128, 128), qRgb(188, 188, 188)},  // linear
    Nclx{1, 4, qRgb(128, 128, 128), qRgb(129, 129, 129)},  // gamma 2.2
    Nclx{1, 1, qRgb(128, 128, 128), qRgb(140, 140, 140)},  // BT.709
    Nclx{12, 13, qRgb(234, 51, 35), qRgb(255, 0, 0)},      // sRGB red in Display P3
    Nclx{9, 1, qRgb(202, 59, 19), qRgb(255, 0, 0)}));      // sRGB red in BT.2020

// --- hostile files ---------------------------------------------------------

// The header of a bare JPEG XL codestream declaring width x width pixels
// (18-bit size, 1:1 ratio, default metadata), bits written low bit first.
QByteArray JxlHeaderDeclaring(std::uint32_t width)
{
    QByteArray bytes("\xff\x0a", 2);
    std::vector<bool> bits{false, false, true}; // not a multiple of 8; size in 18 bits
    for (int i = 0; i < 18; ++i)
        bits.push_back((width - 1) >> i & 1);
    bits.insert(bits.end(), {true, false, false, true}); // ratio 1:1; all-default metadata
    bytes.append(qsizetype((bits.size() + 7) / 8 + 32), '\0');
    for (std::size_t i = 0; i < bits.size(); ++i)
        bytes[2 + qsizetype(i / 8)] = char(bytes[2 + qsizetype(i / 8)] | bits[i] << (i % 8));
    return bytes;
}

// The file with every ispe box declaring width x width pixels.
QByteArray HeifDeclaring(QByteArray file, std::uint32_t width)
{
    for (qsizetype at = file.indexOf("ispe"); at >= 0; at = file.indexOf("ispe", at + 1)) {
        for (int i = 0; i < 8; ++i) // version and flags, then width and height
            file[at + 8 + i] = char(width >> (24 - 8 * (i % 4)));
    }
    return file;
}

QByteArray WithNoise(QByteArray file, qsizetype keep)
{
    QRandomGenerator random(17);
    for (qsizetype i = keep; i < file.size(); ++i)
        file[i] = char(random.generate());
    return file;
}

struct Hostile {
    const char* Name;
    std::function<QByteArray(const QByteArray& heic, const QByteArray& avif, const QByteArray& jxl)> Make;
    const char* Error; // the reason begins with this
};
void PrintTo(const Hostile& h, std::ostream* os) { *os << h.Name; }

class HostileFileTest : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileFileTest, RefusedWithAReasonAndNothingPrinted)
{
    static const QByteArray heic = RunEncoder("heif-enc", {}, Quadrants(), "heic");
    static const QByteArray avif = RunEncoder("avifenc", {}, Quadrants(), "avif");
    static const QByteArray jxl = RunEncoder("cjxl", {"-d", "1"}, Quadrants(), "jxl");
    ASSERT_FALSE(heic.isEmpty() || avif.isEmpty() || jxl.isEmpty());
    const QByteArray file = GetParam().Make(heic, avif, jxl);
    test::StderrCapture stderrCapture;
    const DecodedImage decoded = LooksLikeJxl(MemoryReader(file)) || !LooksLikeHeif(MemoryReader(file))
                                     ? DecodeJxl(MemoryReader(file), file.size())
                                     : DecodeHeif(MemoryReader(file), file.size(), 8, 8);
    EXPECT_EQ("", stderrCapture.Take().toStdString());
    EXPECT_FALSE(decoded.Image);
    EXPECT_TRUE(decoded.Error.startsWith(QLatin1String(GetParam().Error))) << decoded.Error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFileTest, ::testing::Values(
    Hostile{"empty", [](auto&, auto&, auto&) { return QByteArray(); }, "cannot decode the image"},
    Hostile{"HEIC cut in half", [](auto& h, auto&, auto&) { return h.left(h.size() / 2); }, "cannot decode the image ("},
    Hostile{"HEIC cut in its boxes", [](auto& h, auto&, auto&) { return h.left(200); }, "cannot decode the image ("},
    Hostile{"HEIC header then noise", [](auto& h, auto&, auto&) { return WithNoise(h, 40); }, "cannot decode the image ("},
    Hostile{"HEIC declaring 100000 x 100000", [](auto& h, auto&, auto&) { return HeifDeclaring(h, 100000); }, "image too large"},
    Hostile{"AVIF cut in half", [](auto&, auto& a, auto&) { return a.left(a.size() / 2); }, "cannot decode the image ("},
    Hostile{"AVIF header then noise", [](auto&, auto& a, auto&) { return WithNoise(a, 40); }, "cannot decode the image ("},
    Hostile{"AVIF declaring 100000 x 100000", [](auto&, auto& a, auto&) { return HeifDeclaring(a, 100000); }, "image too large"},
    Hostile{"JXL cut in half", [](auto&, auto&, auto& j) { return j.left(j.size() / 2); }, "cannot decode the image ("},
    Hostile{"JXL header then noise", [](auto&, auto&, auto& j) { return WithNoise(j, 12); }, "cannot decode the image ("},
    Hostile{"JXL declaring 100000 x 100000", [](auto&, auto&, auto&) { return JxlHeaderDeclaring(100000); }, "image too large"}));

TEST(HeifInfoTest, ReportsAHostileSizeAsDeclared)
{
    const QByteArray file = HeifDeclaring(RunEncoder("heif-enc", {}, Quadrants(), "heic"), 100000);
    const HeifInfo info = ReadHeifInfo(MemoryReader(file), file.size());
    EXPECT_TRUE(info.Ok) << info.Error.toStdString();
    EXPECT_EQ(QSize(100000, 100000), QSize(info.Width, info.Height));
}

struct Sniff {
    QByteArray Start;
    bool Heif;
    bool Jxl;
};
void PrintTo(const Sniff& s, std::ostream* os) { *os << s.Start.toHex().toStdString(); }

class SniffTest : public ::testing::TestWithParam<Sniff> {};

TEST_P(SniffTest, TellsTheFormatsByContent)
{
    EXPECT_EQ(GetParam().Heif, LooksLikeHeif(MemoryReader(GetParam().Start)));
    EXPECT_EQ(GetParam().Jxl, LooksLikeJxl(MemoryReader(GetParam().Start)));
}

QByteArray Ftyp(const QByteArray& brands) // major, minor version, compatible brands
{
    QByteArray box = QByteArray("\0\0\0", 3) + char(8 + brands.size()) + "ftyp" + brands;
    return box + QByteArray(8, '\0');
}

INSTANTIATE_TEST_SUITE_P(Starts, SniffTest, ::testing::Values(
    Sniff{Ftyp(QByteArray("heic\0\0\0\0mif1", 12)), true, false},
    Sniff{Ftyp(QByteArray("avif\0\0\0\0", 8)), true, false},
    Sniff{Ftyp(QByteArray("isom\0\0\0\0mp41avis", 16)), true, false}, // a compatible brand names it
    Sniff{Ftyp(QByteArray("isom\0\0\0\0mp41", 12)), false, false},    // an MP4 video
    Sniff{Ftyp(QByteArray("crx \0\0\0\0", 8)), false, false},
    Sniff{QByteArray("\0\0\0\x0cJXL \r\n\x87\n", 12), false, true},
    Sniff{QByteArray("\xff\x0a\xfa", 3), false, true},
    Sniff{QByteArray("\xff\xd8\xff\xe0", 4), false, false},
    Sniff{QByteArray(), false, false}));

} // namespace
} // namespace pixquill
