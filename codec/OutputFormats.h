#pragma once

// The formats a thumbnail can be written in, one row each. The window's
// format list, the command line's --format and --quality, the extension of an
// output name, the saver's conversion and its encoder are all read from this
// table, so a new output format is a new row at the end (the rows before it
// keep their index). Pure data: safe from any thread.

#include <array>
#include <optional>

#include <QString>

struct FIBITMAP;

namespace pixquill {

class FileStream;
struct KeptMetadata;
struct OutputFormatEntry;

// What the saver does to the captured 32-bit thumbnail before encoding it.
enum class FormatConversion {
    AsCaptured,        // 32 bits per pixel, the fourth byte 0 as captured
    AsCapturedOpaque,  // 32 bits per pixel, the fourth byte 255: readers take it for alpha
    To24Bits,          // 24 bits per pixel
    To24BitsWuPalette, // 24 bits, then Wu's quantiser to an 8-bit palette
};

// Writes the converted bitmap into the stream's empty file in the row's
// format. `quality` is settled already (EncoderQuality): 1..100 for a lossy
// format, 0 for the others; `metadata` goes into the file (empty for the
// rows that carry none). False when the encoder refuses (its words are
// with LibraryMessages) or the system refused a write (stream.Error()).
// Encoders write only into the stream: never a file of their own.
using FormatEncoder = bool (*)(FileStream& stream, FIBITMAP* bitmap, const OutputFormatEntry& format, int quality,
                               const KeptMetadata& metadata);

struct OutputFormatEntry {
    const char* Text;      // the list entry, shown as is
    const char* Name;      // on the command line: --format NAME
    const char* Extension; // with its dot
    FormatConversion Conversion;
    FormatEncoder Encoder;
    // FreeImage's format code, for the rows FreeImage writes; -1 otherwise.
    int FreeImageFormat = -1;
    int SaveFlags = 0; // FreeImage's save flags for the encoder
    // Lossy formats: the encoder quality 1..100 used when none is asked for
    // (chosen from size against picture quality on real photos, see
    // bench/RESULTS.md); 0: the format has no quality.
    int DefaultQuality = 0;
    // The largest width and height the format holds (0: any) and what its
    // files are called in the reason for a larger thumbnail ("icons are at
    // most 256 × 256"), refused before anything is written.
    int MaxSide = 0;
    const char* Plural = nullptr;
    // Whether its files carry the metadata --keep takes over (EXIF and XMP).
    bool CarriesMetadata = false;

    // Runs the row's encoder with the quality asked for (see EncoderQuality)
    // and, for a row that carries them, the metadata.
    bool Encode(FileStream& stream, FIBITMAP* bitmap, int askedQuality, const KeptMetadata& metadata) const;
};

// The lossy formats' default qualities. JPEG's is FreeImage's own default,
// so naming it changes no byte of the JPEG thumbnails made without it.
inline constexpr int kJpegDefaultQuality = 75;
inline constexpr int kWebpDefaultQuality = 80;
inline constexpr int kAvifDefaultQuality = 60;
inline constexpr int kJxlDefaultQuality = 75;

inline constexpr int kOutputFormatCount = 10;
inline constexpr int kOutputFormatJpeg = 3; // selected at start-up

// The output format list in list order, which is not FreeImage's numbering.
const std::array<OutputFormatEntry, kOutputFormatCount>& OutputFormats();

// The entry for a list index; nothing when no entry is selected (-1) or the
// index is outside the list: then there is no extension and nothing is written.
std::optional<OutputFormatEntry> OutputFormatAt(int index);

// The quality the encoder is given: `asked` when it is 1..100, otherwise the
// format's default; 0 for a format without a quality.
int EncoderQuality(const OutputFormatEntry& entry, int asked);

// The extension to append for a list index: empty when no entry is selected.
QString OutputExtensionAt(int index);

} // namespace pixquill
