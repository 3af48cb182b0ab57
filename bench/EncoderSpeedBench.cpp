// The encoders' speed settings against time and size: each PNG given (for
// bench/RESULTS.md, 400 x 300 crops of the benchmark photos) is encoded as
// AVIF by libheif's AV1 encoder at quality 60, one thread, for each aom speed
// 6 (libheif's default) to 9, and as JPEG XL by libjxl at distance 1.45 (the
// quality 75 of the thumbnails), no parallel runner, for each effort 3 to 7
// (7 is libjxl's default): the same calls the saver makes. Time is CPU time of
// the thread, best of 3 per file; printed: mean and largest per file, and
// the files' total bytes.
//
//   pixquill_encoder_speed_bench PNG...

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <QGuiApplication>
#include <QImage>

#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <libheif/heif.h>

#include "bench/ThreadClock.h"

using pixquill::bench::ThreadMilliseconds;

namespace {

heif_error CountBytes(heif_context*, const void*, size_t size, void* total)
{
    *static_cast<std::size_t*>(total) += size;
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

std::size_t EncodeAvif(const QImage& rgb, int speed)
{
    heif_image* image = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + y * stride, rgb.constScanLine(y), std::size_t(rgb.width()) * 3);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_AV1, &encoder);
    heif_encoder_set_lossy_quality(encoder, 60);
    heif_encoder_set_parameter_integer(encoder, "speed", speed);
    heif_encoder_set_parameter_integer(encoder, "threads", 1);
    heif_context_encode_image(context, image, encoder, nullptr, nullptr);
    std::size_t bytes = 0;
    heif_writer writer {1, &CountBytes};
    heif_context_write(context, &writer, &bytes);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(image);
    return bytes;
}

std::size_t EncodeJxl(const QImage& rgb, int effort)
{
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(rgb.width());
    info.ysize = std::uint32_t(rgb.height());
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.uses_original_profile = JXL_FALSE;
    JxlEncoderSetBasicInfo(encoder.get(), &info);
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    JxlEncoderSetColorEncoding(encoder.get(), &srgb);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    JxlEncoderSetFrameDistance(settings, 1.45f);
    JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, effort);
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < rgb.height(); ++y)
        pixels.insert(pixels.end(), rgb.constScanLine(y), rgb.constScanLine(y) + rgb.width() * 3);
    const JxlPixelFormat format {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size());
    JxlEncoderCloseInput(encoder.get());
    std::vector<std::uint8_t> chunk(64 * 1024);
    std::size_t bytes = 0;
    for (;;) {
        std::uint8_t* next = chunk.data();
        std::size_t room = chunk.size();
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder.get(), &next, &room);
        bytes += std::size_t(next - chunk.data());
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            return bytes;
    }
}

void Measure(const char* what, int setting, const std::vector<QImage>& images,
             const std::function<std::size_t(const QImage&, int)>& encode)
{
    double total = 0;
    double largest = 0;
    std::size_t bytes = 0;
    for (const QImage& image : images) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            const double start = ThreadMilliseconds();
            bytes += run == 0 ? encode(image, setting) : (encode(image, setting), 0);
            best = std::min(best, ThreadMilliseconds() - start);
        }
        total += best;
        largest = std::max(largest, best);
    }
    std::printf("%s %d\tmean %.1f ms\tlargest %.1f ms\t%zu bytes\n", what, setting,
                total / double(images.size()), largest, bytes);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    std::vector<QImage> images;
    for (int i = 1; i < argc; ++i)
        images.push_back(QImage(QString::fromLocal8Bit(argv[i])).convertToFormat(QImage::Format_RGB888));
    if (images.empty()) {
        std::fprintf(stderr, "usage: pixquill_encoder_speed_bench PNG...\n");
        return 2;
    }
    for (int speed = 6; speed <= 9; ++speed)
        Measure("avif speed", speed, images, EncodeAvif);
    for (int effort = 3; effort <= 7; ++effort)
        Measure("jxl effort", effort, images, EncodeJxl);
    return 0;
}
