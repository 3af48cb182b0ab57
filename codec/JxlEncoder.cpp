#include "codec/JxlEncoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include <QByteArray>

#include <FreeImage.h>
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>

#include "codec/Encoders.h"
#include "codec/FileStream.h"
#include "codec/KeptMetadata.h"
#include "codec/LibraryMessages.h"

namespace pixquill {
namespace {

// libjxl gives a code, not words.
bool Succeeded(JxlEncoder* encoder, JxlEncoderStatus status)
{
    if (status == JXL_ENC_SUCCESS)
        return true;
    switch (JxlEncoderGetError(encoder)) {
    case JXL_ENC_ERR_OOM: LibraryMessages::Add("JPEG XL encoder: out of memory"); break;
    case JXL_ENC_ERR_BAD_INPUT: LibraryMessages::Add("JPEG XL encoder: bad input"); break;
    case JXL_ENC_ERR_NOT_SUPPORTED: LibraryMessages::Add("JPEG XL encoder: not supported"); break;
    default: LibraryMessages::Add("JPEG XL encoder error"); break;
    }
    return false;
}

} // namespace

float JxlDistanceForQuality(int quality)
{
    const double q = std::clamp(quality, 1, 100);
    const double distance = q >= 30 ? 0.1 + (100 - q) * 0.09 : 6.4 + std::pow(2.5, (30 - q) / 5.0) / 6.25;
    return static_cast<float>(std::min(distance, 15.0)); // the encoder's largest
}

bool EncodeJxl(FileStream& stream, FIBITMAP* bitmap, int quality, const KeptMetadata& metadata)
{
    const std::vector<std::uint8_t> rgb = PackedRgbRows(bitmap);
    if (rgb.empty())
        return false;
    const JxlEncoderPtr owner = JxlEncoderMake(nullptr);
    JxlEncoder* encoder = owner.get();
    if (!encoder)
        return false;
    // Boxes make the file a container; without metadata it stays a bare
    // codestream.
    if (!metadata.IsEmpty() && !Succeeded(encoder, JxlEncoderUseBoxes(encoder)))
        return false;

    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = FreeImage_GetWidth(bitmap);
    info.ysize = FreeImage_GetHeight(bitmap);
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.uses_original_profile = JXL_FALSE; // lossy: the encoder's own colour space inside
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    if (!Succeeded(encoder, JxlEncoderSetBasicInfo(encoder, &info))
        || !Succeeded(encoder, JxlEncoderSetColorEncoding(encoder, &srgb)))
        return false;

    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    const JxlPixelFormat format {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (!settings || !Succeeded(encoder, JxlEncoderSetFrameDistance(settings, JxlDistanceForQuality(quality)))
        || !Succeeded(encoder, JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT,
                                                                kJxlEncoderEffort))
        || !Succeeded(encoder, JxlEncoderAddImageFrame(settings, &format, rgb.data(), rgb.size())))
        return false;
    if (!metadata.Exif.isEmpty()) {
        // The box begins with the offset of the TIFF header: right after it.
        const QByteArray exif = QByteArray(4, '\0') + metadata.Exif;
        if (!Succeeded(encoder, JxlEncoderAddBox(encoder, "Exif",
                                                 reinterpret_cast<const std::uint8_t*>(exif.constData()),
                                                 std::size_t(exif.size()), JXL_FALSE)))
            return false;
    }
    if (!metadata.Xmp.isEmpty()
        && !Succeeded(encoder, JxlEncoderAddBox(encoder, "xml ",
                                                reinterpret_cast<const std::uint8_t*>(metadata.Xmp.constData()),
                                                std::size_t(metadata.Xmp.size()), JXL_FALSE)))
        return false;
    JxlEncoderCloseInput(encoder);

    std::array<std::uint8_t, 64 * 1024> chunk;
    for (;;) {
        std::uint8_t* next = chunk.data();
        std::size_t room = chunk.size();
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &room);
        const auto produced = static_cast<std::size_t>(next - chunk.data());
        if (produced > 0 && !stream.Write(reinterpret_cast<const char*>(chunk.data()), produced))
            return false;
        if (status == JXL_ENC_NEED_MORE_OUTPUT)
            continue;
        if (!Succeeded(encoder, status))
            return false;
        return stream.Flush();
    }
}

} // namespace pixquill
