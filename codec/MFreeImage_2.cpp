#include "MFreeImage_2.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include <QCoreApplication>
#include <QFile>
#include <QPainter>

#include <FreeImage.h>

#include "codec/AtomicSave.h"
#include "codec/Capture32.h"
#include "codec/ColourProfile.h"
#include "codec/DecoderTable.h"
#include "codec/Encoders.h"
#include "codec/FileStream.h"
#include "codec/HeifDecoder.h"
#include "codec/InputSource.h"
#include "codec/KeptMetadata.h"
#include "codec/LibraryMessages.h"
#include "codec/OutputFormats.h"
#include "codec/RowReader.h"
#include "codec/Rounding.h"
#include "codec/Surface.h"
#include "codec/SystemError.h"

namespace pixquill {

void BitmapDeleter::operator()(FIBITMAP* bitmap) const noexcept
{
    if (bitmap)
        FreeImage_Unload(bitmap);
}

namespace {

int Fail(QString* reason, int status, const QString& why)
{
    if (reason)
        *reason = why;
    return status;
}

} // namespace

QString SaveTemporaryPrefix(qint64 processId)
{
    return QStringLiteral(".pixquill-%1-").arg(processId);
}

LoadResult LoadImageToSurface(const QString& path, Surface& picLoad)
{
    ThumbnailLoad loaded = LoadImageForThumbnail(path, picLoad, {});
    return {loaded.ok, std::move(loaded.error)};
}

ThumbnailLoad LoadImageForThumbnail(const QString& path, Surface& picLoad, const ThumbnailRequest& request)
{
    ThumbnailLoad result;
    // File names reach the decoders as the file system's own bytes.
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<InputSource> file = OpenRegularFile(name, result.error);
    if (!file)
        return result;

    // What the libraries say while a decoder is found and runs stays here.
    const LibraryMessages messages;
    DecodeHints hints;
    hints.Extension = ExtensionOf(name);
    hints.ReducedScale = request.ReducedScale;
    const DecoderRow* decoder = FindDecoder(file->Reader(), file->Size(), hints.Extension);
    if (!decoder) {
        result.error = QStringLiteral("unrecognised image format");
        return result;
    }
    // The thumbnail's size from the header's: a row that holds a smaller
    // picture may then hand that out.
    UprightSize full;
    if (request.SizeFor && decoder->Header) {
        full = decoder->Header(file->Reader(), file->Size());
        if (full.Known()) {
            const QSize wanted = request.SizeFor(full.Width, full.Height);
            hints.Width = std::max(0, wanted.width());
            hints.Height = std::max(0, wanted.height());
        }
    }
    if (request.OnlySmaller && (hints.Width <= 0 || hints.Height <= 0)) {
        result.error = QStringLiteral("the file holds no smaller picture");
        return result;
    }
    hints.OnlySmaller = request.OnlySmaller;
    DecodedImage decoded = decoder->Decode(file->Reader(), file->Size(), hints);
    file.reset();
    if (!decoded.Image) {
        result.error = decoded.Error.isEmpty() ? QStringLiteral("cannot decode the image") : std::move(decoded.Error);
        return result;
    }

    // The picture in the colours its profile describes, as sRGB, before
    // anything below reads it; 16-bit pictures are converted before they are
    // reduced to 8 bits. Without a profile, or with an sRGB one, nothing
    // changes. An 8-bit picture on its way to a thumbnail may wait: the
    // conversion then costs the thumbnail's pixels, not the photo's.
    if (request.ColourAfterReduction && ConvertsAfterReduction(decoded.Image.get(), decoded.IccProfile))
        result.ColourProfile = decoded.IccProfile;
    else
        decoded.Image = ConvertToSrgb(std::move(decoded.Image), decoded.IccProfile);
    if (!decoded.Image) {
        result.error = QStringLiteral("cannot convert the image's colours");
        return result;
    }

    result.Warning = std::move(decoded.Warning);
    FIBITMAP* bitmap = decoded.Image.get();

    const unsigned w = FreeImage_GetWidth(bitmap);
    const unsigned h = FreeImage_GetHeight(bitmap);
    if (TooLarge(w, h) || w > static_cast<unsigned>(std::numeric_limits<int>::max())
        || h > static_cast<unsigned>(std::numeric_limits<int>::max())) {
        result.error = QStringLiteral("image too large");
        return result;
    }
    const RowReader reader(bitmap);
    if (!reader.Ok()) {
        result.error = QStringLiteral("unsupported pixel type");
        return result;
    }

    // The new picture is made in full before the surface takes it, so that a
    // failure for lack of memory leaves the surface as it was; where the
    // surface already holds an image of this size that nothing shares, the
    // copy goes straight into it: nothing to allocate, so nothing to fail,
    // and no second image of the size held at once.
    const int width = static_cast<int>(w);
    const int height = static_cast<int>(h);
    // A picture smaller than the header's image in both directions is one
    // the row chose for the thumbnail; anything else is the image itself.
    result.Reduced = full.Known() && width <= full.Width && height <= full.Height
                     && (width < full.Width || height < full.Height);
    result.FullWidth = result.Reduced ? full.Width : width;
    result.FullHeight = result.Reduced ? full.Height : height;
    QImage& current = picLoad.Image();
    if (picLoad.BorderWidth() == 0 && current.width() == width && current.height() == height
        && current.format() == QImage::Format_RGB32 && current.isDetached()) {
        CopyBlock(reader, 0, 0, width, height, current, 0, 0);
        result.ok = true;
        return result;
    }
    if (picLoad.IsScratch()) {
        picLoad.ResizeForOverwrite(width + 2 * picLoad.BorderWidth(), height + 2 * picLoad.BorderWidth());
        QImage& fresh = picLoad.Image();
        if (fresh.width() != width || fresh.height() != height) {
            result.error = QStringLiteral("not enough memory for the image");
            return result;
        }
        CopyBlock(reader, 0, 0, width, height, fresh, 0, 0);
        result.ok = true;
        return result;
    }
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        result.error = QStringLiteral("not enough memory for the image");
        return result;
    }
    CopyBlock(reader, 0, 0, width, height, image, 0, 0);
    decoded.Image.reset();
    picLoad.AdoptImage(std::move(image));
    result.ok = true;
    return result;
}

int DrawBitmapToDC(FIBITMAP* bitmap, QImage& dc, int width, int height)
{
    if (!bitmap || dc.isNull())
        return 0;
    const RowReader reader(bitmap);
    if (!reader.Ok())
        return 0;
    return CopyBlock(reader, 0, 0, width, height, dc, 0, 0);
}

int PaintBitmapToDC(QImage* dc, FIBITMAP* bitmap, int x, int y, int width, int height, int srcX, int srcY,
                    int srcWidth, int srcHeight)
{
    if (!dc || dc->isNull() || !bitmap)
        return 0;
    const RowReader reader(bitmap);
    if (!reader.Ok())
        return 0;
    if (srcWidth == 0)
        srcWidth = reader.Width();
    if (width == 0)
        width = srcWidth;
    if (srcHeight == 0)
        srcHeight = reader.Height();
    if (height == 0)
        height = srcHeight;
    // Mirroring by negative sizes is not supported: nothing is drawn.
    if (width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0)
        return 0;

    if (width == srcWidth && height == srcHeight) {
        CopyBlock(reader, srcX, srcY, srcWidth, srcHeight, *dc, x, y);
        return 0;
    }

    // Stretch: only the part of the source rectangle inside the bitmap is
    // read; its share of the destination rectangle follows proportionally.
    const QRect wanted(srcX, srcY, srcWidth, srcHeight);
    const QRect inside = wanted.intersected(QRect(0, 0, reader.Width(), reader.Height()));
    if (inside.isEmpty())
        return 0;
    QImage part(inside.width(), inside.height(), QImage::Format_RGB32);
    if (part.isNull())
        return 0;
    for (int row = 0; row < inside.height(); ++row)
        reader.ReadRow(inside.y() + row, inside.x(), inside.width(), reinterpret_cast<QRgb*>(part.scanLine(row)));
    const double sx = static_cast<double>(width) / srcWidth;
    const double sy = static_cast<double>(height) / srcHeight;
    const QRectF target(x + (inside.x() - srcX) * sx, y + (inside.y() - srcY) * sy, inside.width() * sx,
                        inside.height() * sy);
    QPainter painter(dc);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(target, part);
    return 0;
}

Bitmap RescaleBitmap(Bitmap& source, std::int32_t width, std::int32_t height, bool releaseSource, int filter)
{
    if (!source)
        return std::move(source);
    const double sourceWidth = FreeImage_GetWidth(source.get());
    const double sourceHeight = FreeImage_GetHeight(source.get());

    std::optional<std::int32_t> newWidth;
    std::optional<std::int32_t> newHeight;
    if (width > 0 && height > 0) {
        newWidth = width;
        newHeight = height;
    } else if (width > 0) {
        newWidth = width;
        newHeight = RoundToInt32(width / (sourceWidth / sourceHeight));
    } else if (height > 0) {
        newWidth = RoundToInt32(sourceWidth / sourceHeight * height);
        newHeight = height;
    }

    FIBITMAP* made = nullptr;
    // FreeImage's filters are 0 (box) to 5 (Lanczos 3); a side that rounds to
    // nothing or does not fit leaves the source as it is.
    if (newWidth && newHeight && *newWidth > 0 && *newHeight > 0 && filter >= FILTER_BOX
        && filter <= FILTER_LANCZOS3) {
        made = FreeImage_Rescale(source.get(), *newWidth, *newHeight, static_cast<FREE_IMAGE_FILTER>(filter));
    }
    if (!made)
        return std::move(source);
    if (releaseSource)
        source.reset();
    return Bitmap(made);
}

Bitmap BitmapFromPicture(const QImage& picture)
{
    if (picture.isNull())
        return {};
    const int width = picture.width();
    const int height = picture.height();
    switch (picture.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8: {
        Bitmap bitmap(FreeImage_Allocate(width, height, 8));
        if (!bitmap)
            return {};
        RGBQUAD* palette = FreeImage_GetPalette(bitmap.get());
        const QList<QRgb> table = picture.colorTable();
        for (int i = 0; i < 256; ++i) {
            const QRgb c = picture.format() == QImage::Format_Grayscale8 ? qRgb(i, i, i)
                : i < table.size()                                       ? table[i]
                                                                         : qRgb(0, 0, 0);
            palette[i].rgbRed = static_cast<BYTE>(qRed(c));
            palette[i].rgbGreen = static_cast<BYTE>(qGreen(c));
            palette[i].rgbBlue = static_cast<BYTE>(qBlue(c));
            palette[i].rgbReserved = 0;
        }
        for (int y = 0; y < height; ++y)
            std::memcpy(FreeImage_GetScanLine(bitmap.get(), height - 1 - y), picture.constScanLine(y),
                        static_cast<std::size_t>(width));
        return bitmap;
    }
    case QImage::Format_RGB888:
    case QImage::Format_BGR888: {
        Bitmap bitmap(FreeImage_Allocate(width, height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
        if (!bitmap)
            return {};
        const bool rgbOrder = picture.format() == QImage::Format_RGB888;
        for (int y = 0; y < height; ++y) {
            const uchar* in = picture.constScanLine(y);
            BYTE* out = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
            for (int x = 0; x < width; ++x, in += 3, out += 3) {
                out[FI_RGBA_RED] = rgbOrder ? in[0] : in[2];
                out[FI_RGBA_GREEN] = in[1];
                out[FI_RGBA_BLUE] = rgbOrder ? in[2] : in[0];
            }
        }
        return bitmap;
    }
    default:
        // The surfaces' own format (RGB32) and everything else: 32 bits with
        // the fourth byte 0, as a screen bitmap reads back.
        return Capture32(picture, 0);
    }
}

CapturedBitmap CaptureThumbnail(Surface& picThumb)
{
    picThumb.SetPictureFromImage();
    CapturedBitmap captured;
    const QImage& picture = picThumb.Picture();
    captured.Bitmap = Capture32(picture, 0);
    if (captured.Bitmap) {
        captured.Width = picture.width();
        captured.Height = picture.height();
    }
    return captured;
}

namespace {

// Both sequentially consistent: a save counts itself in before it looks at
// the refusal, and RefuseFurtherSaves sets the refusal before it counts, so
// no save can slip between the two.
std::atomic<bool> g_savesRefused{false};
std::atomic<int> g_savesInProgress{0};

class SaveInProgress {
public:
    SaveInProgress() { ++g_savesInProgress; }
    ~SaveInProgress() { --g_savesInProgress; }
    SaveInProgress(const SaveInProgress&) = delete;
    SaveInProgress& operator=(const SaveInProgress&) = delete;
};

} // namespace

void RefuseFurtherSaves()
{
    g_savesRefused = true;
    while (g_savesInProgress.load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int SaveThumbnail(Surface& picThumb, const QString& path, const OutputFormatEntry& format, QString* reason,
                  int quality, PendingRename* kept, const KeptMetadata* metadata)
{
    if (reason)
        reason->clear();
    const SaveInProgress inProgress;
    if (g_savesRefused)
        return Fail(reason, kSaveFailed, QStringLiteral("saving was stopped"));
    CapturedBitmap captured = CaptureThumbnail(picThumb);
    if (!captured.Bitmap)
        return Fail(reason, kSaveNoCapture, QStringLiteral("the thumbnail is empty"));

    if (format.MaxSide > 0 && (captured.Width > format.MaxSide || captured.Height > format.MaxSide))
        return Fail(reason, kSaveFailed,
                    QStringLiteral("%1 are at most %2 × %2").arg(QLatin1String(format.Plural)).arg(format.MaxSide));

    LibraryMessages messages;
    Bitmap current = ConvertForFormat(std::move(captured.Bitmap), format.Conversion);
    if (!current)
        return Fail(reason, kSaveConversionFailed,
                    messages.Explain(QStringLiteral("cannot convert the image for this format")));

    // Everything goes to a temporary file beside the target, put in place
    // with one rename: a failed save never leaves a partial file and never
    // damages the file it would have replaced.
    AtomicSave save(path);
    QString why;
    if (!save.Begin(SaveTemporaryPrefix(QCoreApplication::applicationPid()), why))
        return Fail(reason, kSaveFailed, why);

    messages.Clear();
    FileStream stream(save.Descriptor());
    const bool encoded = format.Encode(stream, current.get(), quality, metadata ? *metadata : KeptMetadata{});
    current.reset();
    if (stream.Error())
        return Fail(reason, kSaveFailed,
                    QStringLiteral("cannot write the file (") + SystemError(stream.Error()) + QLatin1Char(')'));
    if (!encoded)
        return Fail(reason, kSaveFailed, messages.Explain(QStringLiteral("cannot write the file")));
    if (kept) {
        *kept = save.Keep(why);
        if (!kept->IsSet())
            return Fail(reason, kSaveFailed, why);
    } else if (!save.Commit(why)) {
        return Fail(reason, kSaveFailed, why);
    }
    return kSaveWritten;
}

void PrepareLibrariesForSandbox()
{
    InitialiseHeif();
    PrepareMetadataLibrary();
    (void)SystemError(EACCES);
    // The time zone, read once and kept (a TIFF's or an EXIF block's date).
    tzset();
}

} // namespace pixquill
