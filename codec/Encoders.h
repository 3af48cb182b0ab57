#pragma once

// Turning a captured thumbnail into a file's bytes: the conversion an output
// format's row asks for, and FreeImage's encoders writing into a FileStream.

#include <cstdint>
#include <vector>

#include "codec/MFreeImage_2.h"
#include "codec/OutputFormats.h"

namespace pixquill {

class FileStream;

// The 32-bit capture converted as a format's row says. Null when the
// conversion failed (FreeImage's words are then with LibraryMessages).
Bitmap ConvertForFormat(Bitmap captured, FormatConversion conversion);

// Writes the bitmap into the stream's empty file in the given format; false
// when FreeImage refuses or the system refused a write (stream.Error()).
bool EncodeInto(FileStream& stream, int format, FIBITMAP* bitmap, int flags);

// The encoder of the rows FreeImage writes: FreeImage's writer for the row's
// FreeImageFormat, with its SaveFlags; its lossy writers (JPEG, WebP) take
// the quality as their flags instead. The metadata is then written into the
// finished file by Exiv2.
bool EncodeWithFreeImage(FileStream& stream, FIBITMAP* bitmap, const OutputFormatEntry& format, int quality,
                         const KeptMetadata& metadata);

// An icon: FreeImage writes icons only for square sides 16 to 256; any other
// size up to 256 x 256 becomes a PNG-compressed icon, encoded by FreeImage's
// PNG writer.
bool EncodeIcon(FileStream& stream, FIBITMAP* bitmap);

// A 24-bit bitmap's pixels as packed red, green, blue bytes, top row first,
// for the encoders of other libraries; empty for any other depth.
std::vector<std::uint8_t> PackedRgbRows(FIBITMAP* bitmap);

} // namespace pixquill
