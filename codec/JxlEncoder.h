#pragma once

// JPEG XL thumbnails through libjxl's encoder, on the calling thread (no
// parallel runner: the batch runs one encoder per core already), at an
// effort that keeps a thumbnail's encoding in the tens of milliseconds
// (bench/RESULTS.md). Any thread; one encoder per call.

#include "codec/MFreeImage_2.h"

namespace pixquill {

class FileStream;
struct KeptMetadata;

// libjxl's effort, 1 (fastest) to 9; its default is 7.
inline constexpr int kJxlEncoderEffort = 7;

// The Butteraugli distance for a quality 1..100, as libjxl's own command-line
// encoder maps them: 90 is 1.0 ("visually lossless"), lower is smaller.
float JxlDistanceForQuality(int quality);

// Writes the 24-bit bitmap into the stream's empty file as a lossy sRGB JPEG
// XL codestream at quality 1..100; with metadata, a JPEG XL container with
// its "Exif" and "xml " boxes. False when the encoder refuses (its words
// go to LibraryMessages) or the system refused a write (stream.Error()).
bool EncodeJxl(FileStream& stream, FIBITMAP* bitmap, int quality, const KeptMetadata& metadata);

} // namespace pixquill
