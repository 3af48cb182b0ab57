#pragma once

// The formats a thumbnail can be written in, one row each. The window's
// format list, the command line's --format, the extension of an output name
// and the saver's conversion are all read from this table, so a new output
// format is a new row at the end (the rows before it keep their index) and
// its encoder in the saver. Pure data: safe from any thread.

#include <array>
#include <optional>

#include <QString>

#include "codec/MFreeImage_2.h"

namespace pixquill {

// What the saver does to the captured 32-bit thumbnail before encoding it.
enum class FormatConversion {
    AsCaptured,        // 32 bits per pixel, the fourth byte 0 as captured
    AsCapturedOpaque,  // 32 bits per pixel, the fourth byte 255: readers take it for alpha
    To24Bits,          // 24 bits per pixel
    To24BitsWuPalette, // 24 bits, then Wu's quantiser to an 8-bit palette
};

// FreeImage's TIFF_NONE save flag: no compression.
inline constexpr int kSaveFlagsTiffUncompressed = 0x0800;

struct OutputFormatEntry {
    const char* Text;      // the list entry, shown as is
    const char* Name;      // on the command line: --format NAME
    int FormatCode;        // FreeImage format code passed to the saver
    const char* Extension; // with its dot
    FormatConversion Conversion;
    int SaveFlags = 0;     // FreeImage's save flags for the encoder
    // Lossy formats: the encoder quality 1..100 used when none is asked for
    // (chosen from size against picture quality on real photos, see
    // bench/RESULTS.md); 0: the format has no quality.
    int DefaultQuality = 0;
};

// The lossy formats' default qualities. JPEG's is FreeImage's own default,
// so naming it changes no byte of the JPEG thumbnails made without it.
inline constexpr int kJpegDefaultQuality = 75;
inline constexpr int kWebpDefaultQuality = 80;
inline constexpr int kAvifDefaultQuality = 60;
inline constexpr int kJxlDefaultQuality = 75;

// In list order, which is not FreeImage's numbering.
inline constexpr std::array kOutputFormatTable = std::to_array<OutputFormatEntry>({
    {"Windows or OS2 BMP(*.bmp)", "bmp", kFifBmp, ".bmp", FormatConversion::AsCaptured},
    {"Compuserve GIF(*.gif)", "gif", kFifGif, ".gif", FormatConversion::To24BitsWuPalette},
    {"Icon File(*.ico)", "ico", kFifIco, ".ico", FormatConversion::To24Bits},
    {"JPEG(*.jpg)", "jpg", kFifJpeg, ".jpg", FormatConversion::To24Bits, 0, kJpegDefaultQuality},
    {"Portable Network Graphics(*.png)", "png", kFifPng, ".png", FormatConversion::To24Bits},
    {"Truevision Targa(*.tga)", "tga", kFifTarga, ".tga", FormatConversion::AsCapturedOpaque},
    {"Tagged Image File Format(*.tif)", "tif", kFifTiff, ".tif", FormatConversion::To24Bits,
     kSaveFlagsTiffUncompressed},
    // For web pages. WebP is FreeImage's own; AVIF (libheif's AV1 encoder) and
    // JPEG XL (libjxl) carry codes of our own, outside FreeImage's numbers.
    {"WebP(*.webp)", "webp", kFifWebp, ".webp", FormatConversion::To24Bits, 0, kWebpDefaultQuality},
    {"AV1 Image File Format(*.avif)", "avif", kOwnFormatAvif, ".avif", FormatConversion::To24Bits, 0,
     kAvifDefaultQuality},
    {"JPEG XL(*.jxl)", "jxl", kOwnFormatJxl, ".jxl", FormatConversion::To24Bits, 0, kJxlDefaultQuality},
});

inline constexpr int kOutputFormatCount = static_cast<int>(kOutputFormatTable.size());
inline constexpr int kOutputFormatJpeg = 3; // selected at start-up

// The output format list in list order.
const std::array<OutputFormatEntry, kOutputFormatCount>& OutputFormats();

// The entry for a list index; nothing when no entry is selected (-1) or the
// index is outside the list: then there is no extension and nothing is written.
std::optional<OutputFormatEntry> OutputFormatAt(int index);

// The entry the saver is asked for by FreeImage code; nothing for a code no
// row has (the saver then writes the capture as it is, if FreeImage can).
std::optional<OutputFormatEntry> OutputFormatOfCode(int formatCode);

// The quality the encoder is given: `asked` when it is 1..100, otherwise the
// format's default; 0 for a format without a quality.
int EncoderQuality(const OutputFormatEntry& entry, int asked);

// The extension to append for a list index: empty when no entry is selected.
QString OutputExtensionAt(int index);

} // namespace pixquill
