#pragma once

// FreeImage's row of the decoder table: every format FreeImage 3.18 reads,
// with the size guards and the fixes for the files it gets wrong
// (FileQuirks).

#include <cstdint>
#include <span>
#include <string_view>

#include <QByteArray>

#include "codec/DecoderTable.h"

namespace pixquill {

// Content FreeImage recognises (a cursor included), or a headerless DIB.
bool RecognisedByFreeImage(const ByteReader& read, std::int64_t size);

// Every extension and format name FreeImage knows, in its own order.
std::span<const std::string_view> FreeImageExtensions();

// Detects the format (content, then hints.Extension), checks the declared
// size before anything the size of the image is allocated (FreeImage's
// header-only load where the format has one, ImageHeader or the JPEG markers
// where it has not), applies the FileQuirks stages in their order and
// decodes; JPEG accurately and turned upright by its EXIF orientation. The
// wanted size is not used: FreeImage decodes in full.
DecodedImage DecodeWithFreeImage(const ByteReader& read, std::int64_t size, const DecodeHints& hints);

// A copy of the ICC profile FreeImage read with the bitmap; empty when none.
QByteArray IccProfileOf(FIBITMAP* bitmap);

} // namespace pixquill
