#pragma once

// Decoding a JPEG at a reduced scale: libjpeg can hand out 1/2, 1/4 or 1/8 of
// the image almost for the price of reading the file, which is most of what a
// small thumbnail of a large photo needs.

#include <cstdint>
#include <span>
#include <string_view>

#include <QString>

#include "codec/ByteReader.h"
#include "codec/DecoderTable.h"
#include "codec/MFreeImage_2.h"

namespace pixquill {

struct JpegHeader {
    bool Ok = false;   // a JPEG whose header FreeImage could read
    int Width = 0;     // the upright size: EXIF orientations 5 to 8 swap the stored sides
    int Height = 0;
    int StoredWidth = 0;
    int StoredHeight = 0;
    int Orientation = 1; // EXIF orientation, 1 to 8 (1 when there is none)
    bool OrientationTagged = false; // the EXIF block gives one, 1 included
};

// The size and EXIF orientation of a JPEG from its markers alone, without
// decoding anything; Ok is false for anything that is not a JPEG with a
// frame header.
JpegHeader ReadJpegHeader(const ByteReader& read);
// The same for a file by name (only a regular file is opened).
JpegHeader ReadJpegHeader(const QString& path);

// The reduced decoding scale for a thumbnail: the largest of 8, 4 and 2 whose
// decoded image (each stored side divided by it, rounded up) is still at
// least twice the thumbnail in both directions, or 1 (decode in full). All
// sizes upright; a thumbnail side below 1 gives 1.
int ChooseJpegScale(const JpegHeader& header, int thumbWidth, int thumbHeight);

// Decodes the JPEG at 1/scale (1, 2, 4 or 8), upright, with the same
// accurate decoding as the full loader; refused when the header is not Ok,
// declares too large an image, or disagrees with the decoded size.
DecodedImage DecodeJpegAtScale(const ByteReader& read, std::int64_t size, const JpegHeader& header, int scale);

// The decoder table's JPEG row: content starting with a start-of-image
// marker, FreeImage's JPEG extensions, the header step (ReadJpegHeader's
// upright size), and a decode that reduces the scale when the hints allow it
// and want a thumbnail that ChooseJpegScale allows for, and otherwise
// decodes in full through FreeImage's row.
bool RecognisedAsJpeg(const ByteReader& read, std::int64_t size);
std::span<const std::string_view> JpegExtensions();
UprightSize JpegUprightSize(const ByteReader& read, std::int64_t size);
DecodedImage DecodeJpeg(const ByteReader& read, std::int64_t size, const DecodeHints& hints);

} // namespace pixquill
