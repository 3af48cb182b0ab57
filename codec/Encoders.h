#pragma once

// Turning a captured thumbnail into a file's bytes: the conversion each
// output format needs, and FreeImage's encoders writing into a FileStream.

#include <cstdint>
#include <vector>

#include "codec/MFreeImage_2.h"

namespace pixquill {

class FileStream;

// The 32-bit capture converted for the format (a FreeImage format code) and
// the encoder flags that go with it, as the format's row in OutputFormats
// says. For JPEG and WebP the flags carry the encoder quality: `quality` when
// it is 1..100, otherwise the format's default. Null when a conversion failed
// (FreeImage's words are then with LibraryMessages).
Bitmap ConvertForFormat(Bitmap captured, int format, int quality, int& flags);

// Writes the bitmap into the stream's empty file in the given format; false
// when FreeImage refuses or the system refused a write (stream.Error()).
bool EncodeInto(FileStream& stream, int format, FIBITMAP* bitmap, int flags);

// An icon: FreeImage writes icons only for square sides 16 to 256; any other
// size up to 256 x 256 becomes a PNG-compressed icon, encoded by FreeImage's
// PNG writer.
bool EncodeIcon(FileStream& stream, FIBITMAP* bitmap);

// A 24-bit bitmap's pixels as packed red, green, blue bytes, top row first,
// for the encoders of other libraries; empty for any other depth.
std::vector<std::uint8_t> PackedRgbRows(FIBITMAP* bitmap);

} // namespace pixquill
