// HDR pictures (PQ and HLG) on their way to an SDR thumbnail: whole HEIC,
// AVIF and JPEG XL files made here with their libraries, whose diffuse white
// must come out white, darker light keep its share of white and highlights
// be brighter still.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

#include <QColor>
#include <QFile>
#include <QTemporaryDir>

#include <jxl/encode.h>
#include <libheif/heif.h>

#include "codec/HdrToSdr.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

// Reference signals of ITU-R BT.2408 and BT.2100: the diffuse white of
// 203 cd/m², 100 cd/m² and a 1000 cd/m² highlight, as PQ and as HLG on its
// nominal 1000 cd/m² display.
struct Signals {
    double White, Grey, Highlight;
};
constexpr Signals kPq {0.5807, 0.5081, 0.7518};
constexpr Signals kHlg {0.75, 0.6297, 1.0};

const Signals& SignalsOf(int transfer)
{
    return transfer == kTransferPq ? kPq : kHlg;
}

// The curve made into a profile's table never falls back (BT.2390's knee is
// a Hermite spline that would overshoot with another knee start), and the
// picture's brightest light is white.
TEST(ToneMapTable, RisesEverywhereForEveryPeak)
{
    for (const int transfer : {kTransferPq, kTransferHlg}) {
        for (const double peak : {0.3, SignalsOf(transfer).White, SignalsOf(transfer).Highlight, 1.0}) {
            const std::vector<std::uint16_t> table = HdrToSdrTable(transfer, peak);
            ASSERT_FALSE(table.empty());
            for (std::size_t i = 1; i < table.size(); ++i)
                ASSERT_GE(table[i], table[i - 1]) << "transfer " << transfer << " peak " << peak << " at " << i;
            EXPECT_EQ(table.back(), 65535);
        }
    }
}

// --- Whole files -------------------------------------------------------------

// Patches of 16 x 16: diffuse white, 100 cd/m² grey, and the third either a
// highlight or white again; 16-bit samples of the signals.
constexpr int kPatch = 16;

std::vector<std::uint16_t> PatchSamples(const Signals& s, bool highlight, int bits)
{
    const double top = (1 << bits) - 1;
    const double patches[3] = {s.White, s.Grey, highlight ? s.Highlight : s.White};
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < kPatch; ++y)
        for (const double signal : patches)
            for (int x = 0; x < kPatch; ++x)
                for (int c = 0; c < 3; ++c)
                    samples.push_back(static_cast<std::uint16_t>(signal * top + 0.5));
    return samples;
}

QByteArray HeifOf(heif_compression_format compression, int transfer, bool highlight)
{
    const int width = 3 * kPatch;
    heif_image* image = nullptr;
    heif_image_create(width, kPatch, heif_colorspace_RGB, heif_chroma_interleaved_RRGGBB_LE, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, kPatch, 10);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const std::vector<std::uint16_t> samples = PatchSamples(SignalsOf(transfer), highlight, 10);
    for (int y = 0; y < kPatch; ++y)
        for (int i = 0; i < width * 3; ++i) {
            const std::uint16_t v = samples[std::size_t(y * width * 3 + i)];
            plane[y * stride + 2 * i] = std::uint8_t(v & 0xFF);
            plane[y * stride + 2 * i + 1] = std::uint8_t(v >> 8);
        }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    nclx->color_primaries = heif_color_primaries_ITU_R_BT_2020_2_and_2100_0;
    nclx->transfer_characteristics = heif_transfer_characteristics(transfer);
    nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance;
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(image, nclx);

    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, compression, &encoder);
    QByteArray bytes;
    if (encoder) {
        heif_encoder_set_lossy_quality(encoder, 95);
        if (compression == heif_compression_AV1) {
            // libheif asks libaom for its profile 2 at 10 bits, which is 4:2:2.
            heif_encoder_set_parameter_string(encoder, "chroma", "422");
            heif_encoder_set_parameter_integer(encoder, "speed", 9);
        }
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->output_nclx_profile = nclx;
        options->macOS_compatibility_workaround_no_nclx_profile = 0; // or libheif writes no colour box
        heif_context_encode_image(context, image, encoder, options, nullptr);
        heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                               static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
                               return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                           }};
        heif_context_write(context, &writer, &bytes);
        heif_encoding_options_free(options);
        heif_encoder_release(encoder);
    }
    heif_nclx_color_profile_free(nclx);
    heif_context_free(context);
    heif_image_release(image);
    return bytes;
}

// lossless keeps the PQ or HLG samples; otherwise libjxl stores them as XYB.
QByteArray JxlOf(int transfer, bool highlight, bool lossless)
{
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = 3 * kPatch;
    info.ysize = kPatch;
    info.bits_per_sample = 16;
    info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
    JxlEncoderSetBasicInfo(encoder, &info);
    JxlColorEncoding encoding {};
    encoding.color_space = JXL_COLOR_SPACE_RGB;
    encoding.white_point = JXL_WHITE_POINT_D65;
    encoding.primaries = JXL_PRIMARIES_2100;
    encoding.transfer_function = JxlTransferFunction(transfer);
    encoding.rendering_intent = JXL_RENDERING_INTENT_RELATIVE;
    JxlEncoderSetColorEncoding(encoder, &encoding);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    if (lossless)
        JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    const std::vector<std::uint16_t> samples = PatchSamples(SignalsOf(transfer), highlight, 16);
    const JxlPixelFormat format {3, JXL_TYPE_UINT16, JXL_NATIVE_ENDIAN, 0};
    JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size() * sizeof(std::uint16_t));
    JxlEncoderCloseInput(encoder);
    QByteArray bytes(1 << 16, '\0');
    auto* next = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::size_t available = std::size_t(bytes.size());
    const bool done = JxlEncoderProcessOutput(encoder, &next, &available) == JXL_ENC_SUCCESS;
    JxlEncoderDestroy(encoder);
    return done ? bytes.left(bytes.size() - qsizetype(available)) : QByteArray();
}

enum class Container { Heic, Avif, JxlLossless, JxlXyb };

struct FileCase {
    const char* Name;
    Container Kind;
    int Transfer;
    bool Highlight;
    int WhiteAtLeast; // each channel of the diffuse white patch, of 255
};

std::ostream& operator<<(std::ostream& os, const FileCase& c) { return os << c.Name; }

class HdrFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(HdrFiles, ShowDiffuseWhiteAsWhite)
{
    const FileCase& c = GetParam();
    QByteArray bytes;
    switch (c.Kind) {
    case Container::Heic: bytes = HeifOf(heif_compression_HEVC, c.Transfer, c.Highlight); break;
    case Container::Avif: bytes = HeifOf(heif_compression_AV1, c.Transfer, c.Highlight); break;
    case Container::JxlLossless: bytes = JxlOf(c.Transfer, c.Highlight, true); break;
    case Container::JxlXyb: bytes = JxlOf(c.Transfer, c.Highlight, false); break;
    }
    ASSERT_FALSE(bytes.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hdr.bin"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    Surface surface;
    const LoadResult loaded = LoadImageToSurface(path, surface);
    ASSERT_TRUE(loaded.ok) << loaded.error.toStdString();
    const QImage& shown = surface.Image();
    const auto at = [&shown](int patch) { return shown.pixel(patch * kPatch + kPatch / 2, kPatch / 2); };
    const QRgb white = at(0);
    for (const int channel : {qRed(white), qGreen(white), qBlue(white)})
        EXPECT_GE(channel, c.WhiteAtLeast) << "white " << QColor(white).name().toStdString();
    // 100 cd/m² stays half of SDR white's light (sRGB 186) and neutral.
    const QRgb grey = at(1);
    EXPECT_NEAR(qGreen(grey), 186, 8);
    EXPECT_NEAR(qRed(grey), qGreen(grey), 4);
    EXPECT_NEAR(qBlue(grey), qGreen(grey), 4);
    if (c.Highlight) {
        EXPECT_GE(qGreen(at(2)), 250);
        EXPECT_GT(qGreen(at(2)), qGreen(white));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HdrFiles,
    ::testing::Values(FileCase{"HeicPq", Container::Heic, kTransferPq, false, 248},
                      FileCase{"HeicHlg", Container::Heic, kTransferHlg, false, 248},
                      FileCase{"AvifPqWithHighlight", Container::Avif, kTransferPq, true, 215},
                      FileCase{"AvifHlgWithHighlight", Container::Avif, kTransferHlg, true, 215},
                      FileCase{"JxlPq", Container::JxlLossless, kTransferPq, false, 248},
                      FileCase{"JxlHlg", Container::JxlLossless, kTransferHlg, false, 248},
                      FileCase{"JxlXybPq", Container::JxlXyb, kTransferPq, false, 245}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
