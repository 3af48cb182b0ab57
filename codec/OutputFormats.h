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
};

// In list order, which is not FreeImage's numbering.
inline constexpr std::array kOutputFormatTable = std::to_array<OutputFormatEntry>({
    {"Windows or OS2 BMP(*.bmp)", "bmp", kFifBmp, ".bmp", FormatConversion::AsCaptured},
    {"Compuserve GIF(*.gif)", "gif", kFifGif, ".gif", FormatConversion::To24BitsWuPalette},
    {"Icon File(*.ico)", "ico", kFifIco, ".ico", FormatConversion::To24Bits},
    {"JPEG(*.jpg)", "jpg", kFifJpeg, ".jpg", FormatConversion::To24Bits},
    {"Portable Network Graphics(*.png)", "png", kFifPng, ".png", FormatConversion::To24Bits},
    {"Truevision Targa(*.tga)", "tga", kFifTarga, ".tga", FormatConversion::AsCapturedOpaque},
    {"Tagged Image File Format(*.tif)", "tif", kFifTiff, ".tif", FormatConversion::To24Bits,
     kSaveFlagsTiffUncompressed},
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

// The extension to append for a list index: empty when no entry is selected.
QString OutputExtensionAt(int index);

} // namespace pixquill
