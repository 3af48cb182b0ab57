#include "codec/AvifEncoder.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <FreeImage.h>
#include <libheif/heif.h>

#include "codec/Encoders.h"
#include "codec/FileStream.h"
#include "codec/HeifOwners.h"
#include "codec/KeptMetadata.h"
#include "codec/LibraryMessages.h"

namespace pixquill {
namespace {

// Keeps libheif's words for the reason; true when all went well.
bool Succeeded(const heif_error& error)
{
    if (error.code == heif_error_Ok)
        return true;
    LibraryMessages::Add(error.message ? std::string(error.message) : std::string("AV1 encoder error"));
    return false;
}

heif_error WriteToStream(heif_context*, const void* data, size_t size, void* userdata)
{
    if (static_cast<FileStream*>(userdata)->Write(static_cast<const char*>(data), size))
        return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
    return {heif_error_Encoding_error, heif_suberror_Cannot_write_output_data, "cannot write the file"};
}

} // namespace

bool EncodeAvif(FileStream& stream, FIBITMAP* bitmap, int quality, const KeptMetadata& metadata)
{
    const std::vector<std::uint8_t> rgb = PackedRgbRows(bitmap);
    const int width = static_cast<int>(FreeImage_GetWidth(bitmap));
    const int height = static_cast<int>(FreeImage_GetHeight(bitmap));
    if (rgb.empty())
        return false;

    heif_image* rawImage = nullptr;
    if (!Succeeded(heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &rawImage)))
        return false;
    const HeifImagePtr image(rawImage);
    if (!Succeeded(heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8)))
        return false;
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return false;
    const std::size_t rowBytes = std::size_t(width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(plane + std::size_t(y) * std::size_t(stride), rgb.data() + std::size_t(y) * rowBytes, rowBytes);

    const HeifContextPtr context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (!context || !Succeeded(heif_context_get_encoder_for_format(context.get(), heif_compression_AV1, &rawEncoder)))
        return false;
    const HeifEncoderPtr encoder(rawEncoder);
    // One thread: the batch runs one encoder per core already.
    if (!Succeeded(heif_encoder_set_lossy_quality(encoder.get(), quality))
        || !Succeeded(heif_encoder_set_parameter_integer(encoder.get(), "speed", kAvifEncoderSpeed))
        || !Succeeded(heif_encoder_set_parameter_integer(encoder.get(), "threads", 1)))
        return false;

    // Thumbnails are sRGB; say so in the file, with the matrix the pixels
    // are converted by, so every reader turns them back the same way.
    const HeifNclxPtr nclx(heif_nclx_color_profile_alloc());
    const HeifEncodingOptionsPtr options(heif_encoding_options_alloc());
    if (!nclx || !options)
        return false;
    nclx->color_primaries = heif_color_primaries_ITU_R_BT_709_5;
    nclx->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
    nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    nclx->full_range_flag = 1;
    // libheif 1.15 converts by the options' description but writes the
    // image's own into the file: give both.
    options->output_nclx_profile = nclx.get();
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    heif_image_handle* rawHandle = nullptr;
    if (!Succeeded(heif_image_set_nclx_color_profile(image.get(), nclx.get()))
        || !Succeeded(heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), &rawHandle)))
        return false;
    const HeifHandlePtr handle(rawHandle);
    // libheif finds the TIFF header in the EXIF it is given and writes the
    // offset to it that the Exif item begins with.
    if (!metadata.Exif.isEmpty()
        && !Succeeded(heif_context_add_exif_metadata(context.get(), handle.get(), metadata.Exif.constData(),
                                                     int(metadata.Exif.size()))))
        return false;
    if (!metadata.Xmp.isEmpty()
        && !Succeeded(heif_context_add_XMP_metadata(context.get(), handle.get(), metadata.Xmp.constData(),
                                                    int(metadata.Xmp.size()))))
        return false;

    heif_writer writer {1, &WriteToStream};
    if (!Succeeded(heif_context_write(context.get(), &writer, &stream)))
        return false;
    return stream.Flush();
}

} // namespace pixquill
