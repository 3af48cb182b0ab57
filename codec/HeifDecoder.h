#pragma once

// HEIC/HEIF and AVIF files, read with libheif (its HEVC and AV1 decoders).
// What comes out is the file's primary image, upright as its stored rotation
// and mirroring say, as a FreeImage bitmap in the colours the file stored,
// with an ICC profile whenever those colours are not sRGB. Thread-safe: every
// call has a libheif context of its own. Nothing is ever printed; libheif's
// words go into the error.

#include <cstdint>
#include <span>
#include <string_view>

#include <QByteArray>
#include <QString>

#include "codec/DecodedImage.h"
#include "codec/DecoderTable.h"

namespace pixquill {

// True when the file begins with an ISO-BMFF 'ftyp' box whose major or
// compatible brands name a HEIF, HEIC or AVIF image (heic heix hevc hevx heim
// heis mif1 msf1 avif avis). Reads the box alone, at most a few hundred bytes.
bool LooksLikeHeif(const ByteReader& read);

// Registers libheif's decoders and encoders, once per process; every use of
// libheif here calls it first. A decode worker calls it before its lock-down.
void InitialiseHeif();

struct HeifInfo {
    bool Ok = false;
    int Width = 0;  // the primary image's size as it is shown: rotation applied
    int Height = 0;
    QString Error;  // why the file could not be read; empty when Ok
};

// The primary image's upright size from the file's boxes, no pixel decoded.
// The size is reported as declared, however large; the caller refuses it.
HeifInfo ReadHeifInfo(const ByteReader& read, std::int64_t size);

// Decodes the primary image, turned upright. 8-bit images come out as 24-bit
// bitmaps (32 with alpha), deeper ones as FIT_RGB16 / FIT_RGBA16 scaled to
// the full 16-bit range. Images declaring more than 2^28 pixels are refused
// ("image too large") before any pixel is decoded.
// With a wanted size (both sides > 0), a thumbnail image the file carries is
// decoded instead when it is at least twice the wanted size in both
// directions and has the primary image's aspect within 1 %; the caller
// then keeps the primary image's size (ReadHeifInfo) for its output.
// With onlySmaller, a file without such a thumbnail gives nothing (no
// picture, no error) instead of its primary image.
DecodedImage DecodeHeif(const ByteReader& read, std::int64_t size, int wantedWidth = 0,
                        int wantedHeight = 0, bool onlySmaller = false);

// The decoder table's row: the content check, the extensions (heic heif hif
// avif), the header step (ReadHeifInfo's size) and the decoder with the
// thumbnail wanted in the hints.
bool RecognisedAsHeif(const ByteReader& read, std::int64_t size);
std::span<const std::string_view> HeifExtensions();
UprightSize HeifUprightSize(const ByteReader& read, std::int64_t size);
DecodedImage DecodeHeifRow(const ByteReader& read, std::int64_t size, const DecodeHints& hints);

// ReadHeifInfo of a file by name: nothing decoded, Ok false for anything
// that is not a readable HEIF or AVIF file.
HeifInfo ReadHeifInfo(const QString& path);

// An ICC profile for colours described by ITU-T H.273 code points (HEIF's
// and AV1's nclx description, JPEG XL's colour encoding): the primaries with
// their white point and the transfer as a tone curve. PQ and HLG pictures are
// tone-mapped into SDR from their brightest encoded component, peakSignal
// (HdrToSdr). Empty for sRGB (primaries 1 with transfer 13; an unspecified
// side, 2, counts as sRGB's) and for what we do not know (the log curves,
// unlisted primaries): those pictures are taken as sRGB.
QByteArray IccProfileFromNclx(int primaries, int transfer, double peakSignal = 1.0);

} // namespace pixquill
