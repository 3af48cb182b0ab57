#pragma once

// The image codec adapter: the only place where files are decoded and encoded
// and where FreeImage bitmaps meet drawing surfaces. FreeImage's own header is
// included by codec sources only; callers see an opaque handle.

#include <cstdint>
#include <functional>
#include <memory>

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

struct FIBITMAP;

namespace pixquill {

class PendingRename;
struct KeptMetadata;

class Surface;
struct OutputFormatEntry;

struct BitmapDeleter {
    void operator()(FIBITMAP* bitmap) const noexcept; // FreeImage_Unload
};
// Owns one FreeImage bitmap; released exactly once, when the owner goes.
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

// Save statuses.
inline constexpr int kSaveWritten = 0;
inline constexpr int kSaveNoCapture = 14;
inline constexpr int kSaveConversionFailed = 5;
inline constexpr int kSaveFailed = 6;

struct LoadResult {
    bool ok = false;
    QString error; // why nothing was loaded; empty when ok
};

// What LoadImageForThumbnail put on the surface.
struct ThumbnailLoad : LoadResult {
    // The whole image's size as shown (its header's, or the picture's when
    // the header did not say), from which the thumbnail's size is worked out.
    std::int32_t FullWidth = 0;
    std::int32_t FullHeight = 0;
    // True when the surface holds a smaller picture of it.
    bool Reduced = false;
    // The colour profile still to be applied: the surface holds the file's
    // own numbers, and the caller converts the thumbnail drawn from them
    // (ConvertPictureToSrgb). Empty when the surface is sRGB already.
    QByteArray ColourProfile;
    // One line on what the decoder's library warned of while it decoded the
    // picture all the same (a file cut short, damaged data); empty when none.
    QString Warning;
};

// What a thumbnail needs of a file.
struct ThumbnailRequest {
    // The thumbnail's size (upright) for a whole image of the given upright
    // size, by the job's resize rules.
    std::function<QSize(int fullWidth, int fullHeight)> SizeFor;
    // A reduced-scale JPEG decode is acceptable (the command line's --fast).
    bool ReducedScale = false;
    // Only a smaller picture the file holds is wanted (a quick look): the
    // load fails, with nothing decoded, when there is none.
    bool OnlySmaller = false;
    // An 8-bit picture's colours may be converted after it was reduced: the
    // load surface then keeps the file's numbers (LoadResult::ColourProfile).
    // Deeper pictures are always converted before, so that nothing is lost
    // to 8-bit rounding.
    bool ColourAfterReduction = false;
};

// Detects the format (content first, then extension), decodes the file and
// draws it 1:1 into the surface, resized to the image. A failed load leaves the
// surface's size and content untouched; the result says why ("file not found",
// "broken symbolic link", "is a folder", "not a regular file", "file cannot be
// read (...)", "empty file", "unrecognised image format", "image too large",
// "cannot decode the image (...)" with the decoder's own words, "not enough
// memory for the image", ...). Only regular files are opened: a FIFO or a
// socket is refused without being touched. Images of more than 2^28 pixels
// are refused from their header, before any pixel is decoded. Files FreeImage
// 3.18 misreads or crashes on are rebuilt or refused first (FileQuirks). JPEG
// files are turned upright by their EXIF orientation. Bitmaps with more than 8
// bits per channel, palettes or float samples draw as 8-bit colour. Thread-safe
// for different surfaces; what the libraries say goes into the reason, never
// to stderr.
LoadResult LoadImageToSurface(const QString& path, Surface& picLoad);

// LoadImageToSurface for a thumbnail: the decoder's header step gives the
// image's size, request.SizeFor the thumbnail's, and a decoder that holds a
// smaller picture at least twice that size in both directions and of the
// image's aspect (a HEIF or AVIF thumbnail item, a camera's preview; with
// request.ReducedScale a JPEG decoded at 1/2 to 1/8) may load that instead.
ThumbnailLoad LoadImageForThumbnail(const QString& path, Surface& picLoad, const ThumbnailRequest& request);

// Copies the bitmap 1:1 into the image, its top-left pixel at (0, 0), clipped
// to both; stored colours are copied, alpha is ignored. Returns the number of
// rows drawn (0 when nothing was).
int DrawBitmapToDC(FIBITMAP* bitmap, QImage& dc, int width, int height);

// Draws the bitmap (or a part of it) into a rectangle of the image, stretching
// when the rectangles differ; a size of 0 stands for the whole bitmap.
// Does nothing when dc or bitmap is missing. Returns 0.
int PaintBitmapToDC(QImage* dc, FIBITMAP* bitmap, int x, int y, int width, int height,
                    int srcX, int srcY, int srcWidth, int srcHeight);

// Rescales with FreeImage filter 0..5. A size of 0 or less counts as not given
// (the other side follows the aspect ratio; neither given: no new bitmap).
// Returns the bitmap the caller owns afterwards: the rescaled one (source
// released when releaseSource is set), or the source itself, moved out of
// `source`, when no rescaled bitmap was made.
Bitmap RescaleBitmap(Bitmap& source, std::int32_t width, std::int32_t height, bool releaseSource,
                     int filter);

// A FreeImage copy of a picture, keeping its bits per pixel. Null on failure.
Bitmap BitmapFromPicture(const QImage& picture);

struct CapturedBitmap {
    pixquill::Bitmap Bitmap; // 32 bits per pixel, fourth byte 0; null when the capture failed
    std::int32_t Width = 0; // 0 when the capture failed
    std::int32_t Height = 0;
};

// Makes the thumbnail surface's drawing its picture and captures it at 32 bits.
CapturedBitmap CaptureThumbnail(Surface& picThumb);

// Captures the thumbnail surface, converts it as the format's row says and
// writes it with the row's encoder atomically to path: the file is written beside the target under a temporary
// hidden name and renamed over it only when complete, so a failed save leaves
// no new file and never damages an existing one. Returns kSaveWritten,
// kSaveNoCapture, kSaveConversionFailed or kSaveFailed (also for a thumbnail
// larger than the row's MaxSide and for a read-only existing file); `reason`, when given,
// receives a short explanation of a failure and is emptied on success. When
// the system refused something (a full disk, a missing folder, a name too
// long) the reason ends with its own words: "cannot write the file (File too
// large)". quality 1..100 is the encoder quality of the lossy formats (JPEG,
// WebP, AVIF, JPEG XL); any other value gives the format's default
// (OutputFormats), and the other formats ignore it. Given `kept`, the file
// written in full is not renamed but handed out there, for the caller to put
// in place at its turn (the status is kSaveWritten all the same). Given
// `metadata`, a format that carries metadata gets it written into the file
// (the others ignore it); a failure to write it fails the save.
int SaveThumbnail(Surface& picThumb, const QString& path, const OutputFormatEntry& format,
                  QString* reason = nullptr, int quality = 0, PendingRename* kept = nullptr,
                  const KeptMetadata* metadata = nullptr);

// For a process about to end at once with saves still running on other
// threads: every SaveThumbnail that starts from now on fails ("saving was
// stopped") without touching the disk, and the call returns once the saves
// already under way have finished (renamed into place or removed), so that
// ending the process then leaves no temporary file. Cannot be undone.
void RefuseFurtherSaves();

// Loads now whatever the image libraries would otherwise load from files on
// first use (libheif's plugins, the C library's message catalogue for the
// system's words in reasons), for a decode worker about to lose the right
// to open files. Idempotent.
void PrepareLibrariesForSandbox();

// The temporary files of a save are named this prefix, a random part and
// ".tmp". The prefix names the process writing them, so that what a process
// that died mid-save left behind can be told from the files other processes
// are still writing.
QString SaveTemporaryPrefix(qint64 processId);

} // namespace pixquill
