#pragma once

// Camera RAW files (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2 and the others
// LibRaw reads), through LibRaw's thread-safe library. What comes out for a
// thumbnail is the camera's own embedded preview whenever it is large enough
// and shows the whole picture, and otherwise the raw data rendered by LibRaw
// (camera white balance, sRGB, 8 bits), half-size when that is enough.
// Either is upright. Thread-safe: every call has a LibRaw object of its own.
// Nothing is ever printed; LibRaw's words go into the error.

#include <cstdint>
#include <span>
#include <string_view>

#include "codec/DecodedImage.h"
#include "codec/DecoderTable.h"

namespace pixquill {

// True for content LibRaw reads that another decoder would misread: the
// formats with a signature of their own (CR2, CR3, CRW, RAF, ORF, RW2, X3F,
// MRW, Phase One), and TIFF-structured files that carry raw data (a
// DNGVersion tag, a CFA or LinearRaw image in the first directories, or a
// camera's Make that LibRaw identifies). Plain TIFFs are not recognised.
bool RecognisedAsRaw(const ByteReader& read, std::int64_t size);

// The extensions taken by name when the content said nothing: the common
// camera ones and every other one LibRaw is known by.
std::span<const std::string_view> RawExtensions();

// The whole picture's size as LibRaw would render it, turned as the camera
// recorded; read from the file's metadata, no pixel decoded. The size is
// reported as declared, however large; the decode refuses it.
UprightSize RawUprightSize(const ByteReader& read, std::int64_t size);

// The picture for the hints' thumbnail (0 x 0, for a preview box or a
// full-screen view: the largest preview, whatever its size, when it shows
// the whole picture, else the raw data in full):
// - the embedded preview, when it is at least twice the thumbnail in both
//   directions and has the whole picture's aspect within 1 %; a JPEG preview
//   is decoded as any JPEG, with its ICC profile, turned by its own EXIF
//   orientation when it has one and by the RAW's otherwise;
// - else the raw data: half-size when that still gives twice the thumbnail,
//   else in full; a 24-bit (8-bit grey for a monochrome sensor) bitmap, upright,
//   in sRGB and without a profile.
// Refused before any pixel is decoded: more than kMaxPixels declared for the
// raw data or the picture ("image too large"). A file LibRaw cannot read, or
// whose raw data ends early or is damaged, gives "cannot decode the image
// (LibRaw's words)".
DecodedImage DecodeRaw(const ByteReader& read, std::int64_t size, const DecodeHints& hints);

// FreeImage carries a RAW reader of its own, an older LibRaw's rendering
// that comes out darker than the camera's; switched off once for the
// process, so that no content guess of FreeImage's reaches it.
void SwitchOffFreeImageRaw();

} // namespace pixquill
