#pragma once

// Owners of libheif's objects, each released once by libheif's own function
// for it. For the codec's libheif sources only.

#include <memory>

#include <libheif/heif.h>

namespace pixquill {

template <auto Release>
struct HeifRelease {
    template <typename T>
    void operator()(T* object) const noexcept { Release(object); }
};

using HeifContextPtr = std::unique_ptr<heif_context, HeifRelease<heif_context_free>>;
using HeifHandlePtr = std::unique_ptr<heif_image_handle, HeifRelease<heif_image_handle_release>>;
using HeifImagePtr = std::unique_ptr<heif_image, HeifRelease<heif_image_release>>;
using HeifEncoderPtr = std::unique_ptr<heif_encoder, HeifRelease<heif_encoder_release>>;
using HeifDecodingOptionsPtr = std::unique_ptr<heif_decoding_options, HeifRelease<heif_decoding_options_free>>;
using HeifEncodingOptionsPtr = std::unique_ptr<heif_encoding_options, HeifRelease<heif_encoding_options_free>>;
using HeifNclxPtr = std::unique_ptr<heif_color_profile_nclx, HeifRelease<heif_nclx_color_profile_free>>;

} // namespace pixquill
