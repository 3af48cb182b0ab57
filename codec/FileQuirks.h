#pragma once

// Files FreeImage 3.18 gets wrong, and what the loader does about them
// before FreeImage sees them. Two kinds:
//
// - Valid files it refuses or misreads, handed to it again in a form it
//   reads right: BMP files with the larger info headers (V2 to V5, as most
//   current writers produce) or with an end-of-line code closing their
//   run-length data, headerless DIB files, uncompressed PCX files, cursor
//   files (which it does not recognise at all).
//   The pixels stay the same bytes; only the wrapping changes.
// - Damaged files that make its decoders write or read outside their
//   buffers (run-length PSD and TGA data that overruns its rows or is cut
//   short) and X bitmaps cut short, on which its reader never returns:
//   found here and refused.
//
// The checks read through a ByteReader and work without FreeImage. The
// FreeImage decoder applies them through the four stages at the end of this
// file, in the order given there, and calls nothing else of it.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

#include "codec/ImageHeader.h"

struct FIBITMAP;

namespace pixquill {

// ---------------------------------------------------------------------- BMP

// The size a BMP file (or a headerless DIB) declares; the height as its
// magnitude (negative heights mean rows stored top-down).
std::optional<DeclaredSize> ReadBmpSize(const ByteReader& read, bool headerless = false);

// True when the file starts with a BMP file header whose info header is one
// of the larger kinds (52, 56, 108 or 124 bytes).
bool HasLargeBmpInfoHeader(const ByteReader& read);

// True for run-length BMP data with an end-of-line code right before the
// end-of-bitmap code, which FreeImage refuses ("Error encountered while
// decoding RLE8 BMP data") although most writers put one there.
bool HasFinalEndOfLine(const ByteReader& read, std::int64_t fileSize);

// True when the content looks like a DIB without its file header: an info
// header of 40, 52, 56, 108 or 124 bytes, one plane, a usual bit depth.
bool IsHeaderlessDib(const ByteReader& read);

// The same image as a BMP file with a plain 40-byte info header, its colour
// masks and palette behind it, rows bottom-up, run-length data without a
// final end-of-line code. `headerless` reads a DIB
// without its file header. Nothing when the header makes no sense.
std::optional<QByteArray> PlainBmp(const ByteReader& read, std::int64_t fileSize, bool headerless = false);

// ---------------------------------------------------------------------- CUR

// Bytes to lay over a file's own at an offset.
struct BytePatch {
    std::int64_t Offset = 0;
    QByteArray Bytes;
};

// For a cursor file: the patches that make it the icon file it otherwise is
// (directory type 1 instead of 2; the hot spot, kept where an icon keeps
// planes and bit count, replaced by "one plane, depth from the bitmap").
// Empty for anything else.
std::vector<BytePatch> IconPatchesForCursor(const ByteReader& read);

// ---------------------------------------------------------------------- PCX

// True for a PCX file whose rows are stored without run-length coding.
bool IsUncompressedPcx(const ByteReader& read);

// The same PCX with its rows run-length coded (which is all FreeImage reads);
// what follows the rows (the 256-colour palette) is kept. Nothing when the
// header makes no sense or the rows are cut short.
std::optional<QByteArray> RleCodedPcx(const ByteReader& read, std::int64_t fileSize);

// ---------------------------------------------------------------------- PSD

// False when the image data is cut short, or when run-length coded data
// would make a row longer than the image is wide; true when it is sound or
// coded in a way not checked here.
bool PsdImageDataFits(const ByteReader& read, std::int64_t fileSize);

// The palette of an indexed-colour PSD (256 reds, 256 greens, 256 blues),
// which FreeImage does not apply; nothing for other colour modes.
std::optional<std::array<std::uint8_t, 768>> PsdIndexedPalette(const ByteReader& read);

// ---------------------------------------------------------------------- TGA

// False when TGA image data, raw or run-length coded, ends before the last
// pixel (FreeImage would read past its buffers, or draw zeros for the rest);
// true when it is complete or of a kind not checked here.
bool TgaImageDataFits(const ByteReader& read, std::int64_t fileSize);

// ---------------------------------------------------------------------- XBM

// False when an X bitmap holds fewer data values than its declared size
// needs, or ends before its closing brace: FreeImage's reader then waits
// for the rest for ever.
bool XbmDataFits(const ByteReader& read);

// ----------------------------------------------------- the order they apply in
//
// 1. QuirksBeforeDetection, before FreeImage looks at the content: a cursor
//    is read as the icon it otherwise is.
// 2. QuirksBeforeSizeCheck, once the content was detected (or not): content
//    nobody recognised that is a headerless DIB becomes a BMP; a BMP that
//    declares too large an image is refused from its own header, and one
//    FreeImage misreads is rebuilt as a plain BMP. Only then does the
//    extension count, for content still unknown.
// 3. QuirksBeforeDecode, once the declared size is known to be sound (these
//    walk through the image data, which costs its size): damaged PSD, TGA
//    and X bitmap data is refused, an uncompressed PCX rebuilt run-length
//    coded.
// 4. QuirksAfterDecode, on the decoded bitmap: an indexed PSD gets its own
//    palette.
// Formats are FreeImage's format codes (FREE_IMAGE_FORMAT, -1 unknown).

// What a stage decided about the file.
struct QuirkFix {
    int Format = -1;                   // the format to decode it as
    QString Refusal;                   // not empty: refuse the file, for this reason
    std::optional<QByteArray> Rebuilt; // decode these bytes in place of the file's
};

// The file as FreeImage should see it: `read` itself, or a view of it with
// patches laid over.
ByteReader QuirksBeforeDetection(const ByteReader& read);

QuirkFix QuirksBeforeSizeCheck(int format, const ByteReader& read, std::int64_t fileSize);

QuirkFix QuirksBeforeDecode(int format, const ByteReader& read, std::int64_t fileSize);

void QuirksAfterDecode(int format, const ByteReader& read, FIBITMAP* bitmap);

} // namespace pixquill
