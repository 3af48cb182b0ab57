#pragma once

// JPEG XL files, read with libjxl. What comes out is the first frame as
// shown (all layers merged, turned upright by the stored orientation) as a
// FreeImage bitmap in the colours the decoder produced, with an ICC profile
// whenever those colours are not sRGB. Thread-safe: every call has a decoder
// of its own. Nothing is ever printed.

#include <cstdint>
#include <span>
#include <string_view>

#include "codec/DecodedImage.h"
#include "codec/DecoderTable.h"

namespace pixquill {

// True when the file begins with a bare JPEG XL codestream (FF 0A) or the
// JPEG XL container's signature box.
bool LooksLikeJxl(const ByteReader& read);

// Decodes the image. Images declaring more than 2^28 pixels are refused
// ("image too large") before any pixel is decoded. Colour images of up to 8
// bits per sample come out as 24-bit bitmaps (32 with alpha); deeper ones and
// float ones as FIT_RGB16 / FIT_RGBA16 (float samples clamped to 0..1 and
// scaled to 16 bits). Grey images stay grey: an 8-bit bitmap with a grey
// palette or FIT_UINT16, their alpha dropped, as FreeImage has no grey type
// with alpha; so their ICC profile, a grey one, still fits the samples.
// Lossy images (stored as XYB) are asked of the decoder in sRGB: it turns them
// into any colour space itself, and sRGB is where the picture is headed.
DecodedImage DecodeJxl(const ByteReader& read, std::int64_t size);

// The decoder table's row: the content check, the extension (jxl) and the
// decoder (JPEG XL files hold no smaller picture: the hints change nothing).
bool RecognisedAsJxl(const ByteReader& read, std::int64_t size);
std::span<const std::string_view> JxlExtensions();
DecodedImage DecodeJxlRow(const ByteReader& read, std::int64_t size, const DecodeHints& hints);

} // namespace pixquill
