#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include <QColorSpace>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <FreeImage.h>
#include <jxl/encode.h>
#include <lcms2.h>
#include <libheif/heif.h>

#include "codec/HeifDecoder.h"
#include "codec/JxlDecoder.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/codec/CodecTestFiles.h"
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

QImage Quadrants(QImage::Format format = QImage::Format_RGB32)
{
    QImage image = test::QuadrantImage(64, 48).convertToFormat(format);
    for (int y = 0; image.hasAlphaChannel() && y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) // translucent, colours unchanged
            image.setPixel(x, y, (image.pixel(x, y) & 0xffffffu) | 0xc8000000u);
    }
    return image;
}

QImage InDisplayP3()
{
    QImage image = Quadrants();
    image.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    return image;
}

// The picture saved as PNG (with its colour space as an ICC profile), then
// encoded by the program; empty when the program failed.
QByteArray Encoded(const QString& program, QStringList arguments, const QImage& image, const QString& suffix)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("in.png"));
    const QString out = dir.filePath(QStringLiteral("out.") + suffix);
    if (!image.save(png))
        return {};
    arguments << png;
    if (program == QLatin1String("heif-enc"))
        arguments << QStringLiteral("-o");
    arguments << out;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return test::ReadFileBytes(out);
}

struct HeifRecipe {
    int Orientation = 1;
    int ThumbnailBox = 0;   // a thumbnail image fitting this square
    QSize OtherThumbnail {}; // or one of another picture and aspect
};

heif_image* HeifImage(const QImage& picture)
{
    heif_image* image = nullptr;
    heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(plane + y * stride, rgb.constScanLine(y), std::size_t(3 * picture.width()));
    return image;
}

// HEVC through libheif, for what heif-enc cannot be asked: a stored
// orientation, a thumbnail of another picture.
QByteArray EncodeHeic(const QImage& picture, const HeifRecipe& recipe)
{
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = HeifImage(picture);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(recipe.Orientation);
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context, image, encoder, options, &handle);
    heif_image_handle* thumbnail = nullptr;
    if (recipe.ThumbnailBox > 0)
        heif_context_encode_thumbnail(context, image, handle, encoder, options, recipe.ThumbnailBox, &thumbnail);
    if (recipe.OtherThumbnail.isValid()) {
        heif_image* other = HeifImage(test::GradientImage(recipe.OtherThumbnail.width(), recipe.OtherThumbnail.height()));
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
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

// Lossless JPEG XL through libjxl, with a stored orientation and 8-bit or
// float samples.
QByteArray EncodeJxl(const QImage& picture, int orientation, bool floats = false)
{
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(picture.width());
    info.ysize = std::uint32_t(picture.height());
    info.bits_per_sample = floats ? 32 : 8;
    info.exponent_bits_per_sample = floats ? 8 : 0;
    info.orientation = JxlOrientation(orientation);
    info.uses_original_profile = JXL_TRUE;
    JxlEncoderSetBasicInfo(encoder, &info);
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    JxlEncoderSetColorEncoding(encoder, &srgb);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    std::vector<float> samples;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (const int c : {qRed(picture.pixel(x, y)), qGreen(picture.pixel(x, y)), qBlue(picture.pixel(x, y))})
                samples.push_back(float(c) / 255.0f);
    const JxlPixelFormat format{3, JXL_TYPE_FLOAT, JXL_NATIVE_ENDIAN, 0};
    JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size() * sizeof(float));
    JxlEncoderCloseInput(encoder);
    QByteArray bytes(1 << 20, '\0');
    auto* next = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::size_t available = std::size_t(bytes.size());
    const bool done = JxlEncoderProcessOutput(encoder, &next, &available) == JXL_ENC_SUCCESS;
    bytes.resize(done ? bytes.size() - qsizetype(available) : 0);
    JxlEncoderDestroy(encoder);
    return bytes;
}

DecodedImage Decode(const QByteArray& file, int wantedWidth = 0, int wantedHeight = 0)
{
    return LooksLikeJxl(MemoryReader(file)) ? DecodeJxl(MemoryReader(file), file.size())
                                            : DecodeHeif(MemoryReader(file), file.size(), wantedWidth, wantedHeight);
}

QSize SizeOf(FIBITMAP* bitmap)
{
    return QSize(int(FreeImage_GetWidth(bitmap)), int(FreeImage_GetHeight(bitmap)));
}

// --- each format: size, depth, quadrant colours, colour profile -----------

struct Made {
    const char* Name;
    std::function<QByteArray()> Make;
    FREE_IMAGE_TYPE Type = FIT_BITMAP;
    unsigned Bpp = 24;
    bool HasProfile = false;
    int Tolerance = 24;
    bool Grey = false;
};
void PrintTo(const Made& made, std::ostream* os) { *os << made.Name; }

class MadeFileTest : public ::testing::TestWithParam<Made> {};

TEST_P(MadeFileTest, DecodesWithItsDepthColoursAndProfile)
{
    const QByteArray file = GetParam().Make();
    ASSERT_FALSE(file.isEmpty());
    test::StderrCapture stderrCapture;
    const DecodedImage decoded = Decode(file);
    EXPECT_EQ("", stderrCapture.Take().toStdString());
    ASSERT_TRUE(decoded.Image) << decoded.Error.toStdString();
    EXPECT_TRUE(decoded.Error.isEmpty());
    FIBITMAP* bitmap = decoded.Image.get();
    ASSERT_EQ(QSize(64, 48), SizeOf(bitmap));
    EXPECT_EQ(GetParam().Type, FreeImage_GetImageType(bitmap));
    EXPECT_EQ(GetParam().Bpp, FreeImage_GetBPP(bitmap));
    // Deep samples fill the 16-bit range: their high byte is the colour.
    const QImage expected = Quadrants(GetParam().Grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    for (const QPoint at : {QPoint(12, 10), QPoint(52, 10), QPoint(12, 38), QPoint(52, 38)})
        EXPECT_LE(test::ColourDistance(expected.pixel(at), PixelAt(bitmap, at.x(), at.y())), GetParam().Tolerance)
            << at.x() << "," << at.y();
    EXPECT_EQ(GetParam().HasProfile, !decoded.IccProfile.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Encoders, MadeFileTest, ::testing::Values(
    Made{"HEVC", [] { return Encoded("heif-enc", {}, Quadrants(), "heic"); }},
    Made{"HEVC 10-bit", [] { return Encoded("heif-enc", {"-b", "10"}, Quadrants(QImage::Format_RGBX64), "heic"); }, FIT_RGB16, 48},
    Made{"HEVC alpha", [] { return Encoded("heif-enc", {}, Quadrants(QImage::Format_ARGB32), "heic"); }, FIT_BITMAP, 32},
    Made{"HEVC 10-bit alpha", [] { return Encoded("heif-enc", {"-b", "10"}, Quadrants(QImage::Format_RGBA64), "heic"); }, FIT_RGBA16, 64},
    Made{"HEVC with ICC", [] { return Encoded("heif-enc", {}, InDisplayP3(), "heic"); }, FIT_BITMAP, 24, true},
    Made{"AV1 by avifenc", [] { return Encoded("avifenc", {}, Quadrants(), "avif"); }},
    Made{"AV1 10-bit", [] { return Encoded("avifenc", {"-d", "10"}, Quadrants(), "avif"); }, FIT_RGB16, 48},
    Made{"AV1 Display P3 nclx", [] { return Encoded("avifenc", {"--cicp", "12/13/6"}, Quadrants(), "avif"); }, FIT_BITMAP, 24, true},
    Made{"AV1 BT.709 nclx", [] { return Encoded("avifenc", {"--cicp", "1/1/1"}, Quadrants(), "avif"); }, FIT_BITMAP, 24, true},
    Made{"JXL lossless", [] { return Encoded("cjxl", {"-d", "0"}, Quadrants(), "jxl"); }, FIT_BITMAP, 24, false, 0},
    Made{"JXL lossy", [] { return Encoded("cjxl", {"-d", "1"}, Quadrants(), "jxl"); }},
    Made{"JXL 16-bit", [] { return Encoded("cjxl", {"-d", "0"}, Quadrants(QImage::Format_RGBX64), "jxl"); }, FIT_RGB16, 48, false, 0},
    Made{"JXL float", [] { return EncodeJxl(Quadrants(), 1, true); }, FIT_RGB16, 48, false, 1},
    Made{"JXL alpha", [] { return Encoded("cjxl", {"-d", "0"}, Quadrants(QImage::Format_ARGB32), "jxl"); }, FIT_BITMAP, 32, false, 0},
    Made{"JXL grey", [] { return Encoded("cjxl", {"-d", "0"}, Quadrants(QImage::Format_Grayscale8), "jxl"); }, FIT_BITMAP, 8, false, 1, true},
    Made{"JXL 16-bit grey", [] { return Encoded("cjxl", {"-d", "0"}, Quadrants(QImage::Format_Grayscale16), "jxl"); }, FIT_UINT16, 16, false, 1, true},
    Made{"JXL lossless with ICC", [] { return Encoded("cjxl", {"-d", "0"}, InDisplayP3(), "jxl"); }, FIT_BITMAP, 24, true, 0},
    Made{"JXL lossy with ICC, asked as sRGB", [] { return Encoded("cjxl", {"-d", "1"}, InDisplayP3(), "jxl"); }, FIT_BITMAP, 24, false, 48}));

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
    const QByteArray file = jxl ? EncodeJxl(Quadrants(), turn.Orientation)
                                : EncodeHeic(Quadrants(), {.Orientation = turn.Orientation});
    const DecodedImage decoded = Decode(file);
    ASSERT_TRUE(decoded.Image) << decoded.Error.toStdString();
    const QSize upright = turn.Orientation >= 5 ? QSize(48, 64) : QSize(64, 48);
    FIBITMAP* bitmap = decoded.Image.get();
    ASSERT_EQ(upright, SizeOf(bitmap));
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

// --- the thumbnail a HEIF file carries -----------------------------------

struct ThumbnailCase {
    const char* Name;
    HeifRecipe Recipe;
    QSize Wanted;
    QSize Decoded;
    std::optional<QRgb> BottomLeft = qRgb(0, 0, 255);
    QSize Primary{256, 192};
};
void PrintTo(const ThumbnailCase& c, std::ostream* os) { *os << c.Name; }

class ThumbnailTest : public ::testing::TestWithParam<ThumbnailCase> {};

TEST_P(ThumbnailTest, TakenOnlyWhenTwiceTheWantedSizeWithTheSameAspect)
{
    const QSize primary = GetParam().Primary;
    const QByteArray file = EncodeHeic(test::QuadrantImage(primary.width(), primary.height()), GetParam().Recipe);
    const DecodedImage decoded = Decode(file, GetParam().Wanted.width(), GetParam().Wanted.height());
    ASSERT_TRUE(decoded.Image) << decoded.Error.toStdString();
    EXPECT_EQ(GetParam().Decoded, SizeOf(decoded.Image.get()));
    // (A thumbnail of another picture is told by its size alone.)
    if (GetParam().BottomLeft) {
        EXPECT_LE(test::ColourDistance(*GetParam().BottomLeft,
                                       PixelAt(decoded.Image.get(), 2, GetParam().Decoded.height() - 3)), 40);
    }
}

INSTANTIATE_TEST_SUITE_P(Choices, ThumbnailTest, ::testing::Values(
    ThumbnailCase{"no wanted size", {.ThumbnailBox = 128}, {}, {256, 192}},
    ThumbnailCase{"exactly twice", {.ThumbnailBox = 128}, {64, 48}, {128, 96}},
    ThumbnailCase{"a pixel short", {.ThumbnailBox = 128}, {65, 48}, {256, 192}},
    ThumbnailCase{"another aspect", {.OtherThumbnail = {128, 64}}, {32, 24}, {256, 192}},
    ThumbnailCase{"rounded down to even sides", {.ThumbnailBox = 256}, {64, 48}, {256, 190}, qRgb(0, 0, 255), {512, 382}},
    ThumbnailCase{"turned with the image", {.Orientation = 6, .ThumbnailBox = 128}, {48, 64}, {96, 128}, qRgb(255, 255, 255)}));

// On the road to a thumbnail the header's size is what the thumbnail's size
// comes from, and the surface holds the thumbnail item it asked for.
TEST(ThumbnailRoad, DrawsFromTheItemAndKeepsTheWholeImagesSize)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("phone.heic");
    ASSERT_TRUE(test::WriteFileBytes(path, EncodeHeic(test::QuadrantImage(256, 192), {.ThumbnailBox = 128})));
    QSize asked;
    ThumbnailRequest request;
    request.SizeFor = [&asked](int width, int height) {
        asked = QSize(width, height);
        return QSize(width / 5, height / 5);
    };
    Surface surface;
    const ThumbnailLoad loaded = LoadImageForThumbnail(path, surface, request);
    ASSERT_TRUE(loaded.ok) << loaded.error.toStdString();
    EXPECT_EQ(asked, QSize(256, 192));
    EXPECT_TRUE(loaded.Reduced);
    EXPECT_EQ(QSize(loaded.FullWidth, loaded.FullHeight), QSize(256, 192));
    EXPECT_EQ(surface.Image().size(), QSize(128, 96));
}

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
    Nclx{99, 13, 0, 0}, Nclx{12, 99, 0, 0},
    // PQ and HLG are tone-mapped: the top of their range, the brightest a
    // picture can hold, is SDR white.
    Nclx{9, 16, qRgb(255, 255, 255), qRgb(255, 255, 255)}, Nclx{9, 18, qRgb(255, 255, 255), qRgb(255, 255, 255)},
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
    static const QByteArray heic = Encoded("heif-enc", {}, Quadrants(), "heic");
    static const QByteArray avif = Encoded("avifenc", {}, Quadrants(), "avif");
    static const QByteArray jxl = Encoded("cjxl", {"-d", "1"}, Quadrants(), "jxl");
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
    Sniff{QByteArray("\0\0\0\x0cJXL \r\n\x87\n", 12), false, true},
    Sniff{QByteArray("\xff\x0a\xfa", 3), false, true},
    Sniff{QByteArray(), false, false}));

} // namespace
} // namespace pixquill
