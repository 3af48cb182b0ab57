#pragma once

// AVIF thumbnails through libheif's AV1 encoder (aom, linked into libheif:
// nothing is loaded at save time). The speed is set so that a 400 x 300
// thumbnail is encoded in well under 100 ms on one core, and the encoder
// keeps to the calling thread, so parallel batch workers do not oversubscribe
// the cores (bench/RESULTS.md has the measurements). Any thread; one encoder
// per call.

#include "codec/MFreeImage_2.h"

namespace pixquill {

class FileStream;
struct KeptMetadata;

// aom's speed, 0 (slowest, smallest) to 9; libheif's default is 6.
inline constexpr int kAvifEncoderSpeed = 8;

// Writes the 24-bit bitmap into the stream's empty file as an sRGB AVIF at
// quality 1..100, with the metadata given (libheif's Exif and XMP items).
// False when the encoder refuses (its words go to
// LibraryMessages) or the system refused a write (stream.Error()).
bool EncodeAvif(FileStream& stream, FIBITMAP* bitmap, int quality, const KeptMetadata& metadata);

} // namespace pixquill
