#include "MFreeImage_2.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRandomGenerator>

#include <FreeImage.h>

#include "codec/IcoWriter.h"
#include "codec/ReducedJpeg.h"
#include "codec/Rounding.h"
#include "codec/Surface.h"

namespace pixquill {

void BitmapDeleter::operator()(FIBITMAP* bitmap) const noexcept
{
    if (bitmap)
        FreeImage_Unload(bitmap);
}

namespace {

// Headers that declare more pixels than this are refused before decoding: at
// four bytes per pixel on the surface that is already a gigabyte.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// FreeImage reports details through one process-wide callback; each thread
// keeps the last message it caused, so a failure can say why.
thread_local std::string t_lastMessage;

void OnFreeImageMessage(FREE_IMAGE_FORMAT, const char* message)
{
    t_lastMessage = message ? message : "";
}

void ResetFreeImageMessage()
{
    static std::once_flag installed;
    std::call_once(installed, [] { FreeImage_SetOutputMessage(OnFreeImageMessage); });
    t_lastMessage.clear();
}

// "what" followed by FreeImage's own words, when it said anything.
QString WithFreeImageMessage(const QString& what)
{
    if (t_lastMessage.empty())
        return what;
    return what + QStringLiteral(" (") + QString::fromLocal8Bit(t_lastMessage.c_str()) + QLatin1Char(')');
}

std::uint8_t FloatToByte(float value)
{
    if (!(value > 0.0f)) // also NaN
        return 0;
    if (value >= 1.0f)
        return 255;
    return static_cast<std::uint8_t>(RoundHalfEven(static_cast<double>(value) * 255.0));
}

// Reads any bitmap FreeImage hands us as rows of 8-bit-per-channel colours,
// top row first. Stored colour values are taken as they are: an alpha channel
// is ignored, palette entries are looked up, 16-bit channels keep their high
// byte and float channels are clamped to 0..1. Types without a colour meaning
// of their own (signed, 32-bit integer, double, complex) are scaled linearly
// into 8-bit grey first.
class RowReader {
public:
    explicit RowReader(FIBITMAP* bitmap)
        : m_bitmap(bitmap)
    {
        if (!m_bitmap || !FreeImage_HasPixels(m_bitmap))
            return;
        const FREE_IMAGE_TYPE type = FreeImage_GetImageType(m_bitmap);
        if (type == FIT_BITMAP && FreeImage_GetBPP(m_bitmap) == 16) {
            // 5-5-5 or 5-6-5 colour: FreeImage knows the masks.
            m_converted.reset(FreeImage_ConvertTo24Bits(m_bitmap));
            m_bitmap = m_converted.get();
        } else if (type == FIT_INT16 || type == FIT_UINT32 || type == FIT_INT32
                   || type == FIT_DOUBLE || type == FIT_COMPLEX) {
            m_converted.reset(FreeImage_ConvertToStandardType(m_bitmap, TRUE));
            m_bitmap = m_converted.get();
        }
        if (!m_bitmap)
            return;
        m_type = FreeImage_GetImageType(m_bitmap);
        m_bpp = FreeImage_GetBPP(m_bitmap);
        m_width = static_cast<int>(FreeImage_GetWidth(m_bitmap));
        m_height = static_cast<int>(FreeImage_GetHeight(m_bitmap));
        switch (m_type) {
        case FIT_BITMAP:
            m_ok = m_bpp == 1 || m_bpp == 4 || m_bpp == 8 || m_bpp == 24 || m_bpp == 32;
            if (m_bpp <= 8)
                LoadPalette();
            break;
        case FIT_UINT16:
        case FIT_RGB16:
        case FIT_RGBA16:
        case FIT_FLOAT:
        case FIT_RGBF:
        case FIT_RGBAF:
            m_ok = true;
            break;
        default:
            m_ok = false;
        }
    }

    bool Ok() const { return m_ok; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Pixels x0 .. x0 + count - 1 of row y (0 = top) as opaque QRgb values.
    void ReadRow(int y, int x0, int count, QRgb* out) const
    {
        const BYTE* line = FreeImage_GetScanLine(m_bitmap, m_height - 1 - y);
        switch (m_type) {
        case FIT_BITMAP:
            if (m_bpp == 24 || m_bpp == 32) {
                const int step = static_cast<int>(m_bpp / 8);
                const BYTE* p = line + static_cast<std::ptrdiff_t>(x0) * step;
                for (int i = 0; i < count; ++i, p += step)
                    out[i] = qRgb(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]);
            } else {
                for (int i = 0; i < count; ++i)
                    out[i] = m_palette[IndexAt(line, x0 + i)];
            }
            break;
        case FIT_UINT16: {
            const auto* p = reinterpret_cast<const WORD*>(line) + x0;
            for (int i = 0; i < count; ++i) {
                const int v = p[i] >> 8;
                out[i] = qRgb(v, v, v);
            }
            break;
        }
        case FIT_RGB16: {
            const auto* p = reinterpret_cast<const FIRGB16*>(line) + x0;
            for (int i = 0; i < count; ++i)
                out[i] = qRgb(p[i].red >> 8, p[i].green >> 8, p[i].blue >> 8);
            break;
        }
        case FIT_RGBA16: {
            const auto* p = reinterpret_cast<const FIRGBA16*>(line) + x0;
            for (int i = 0; i < count; ++i)
                out[i] = qRgb(p[i].red >> 8, p[i].green >> 8, p[i].blue >> 8);
            break;
        }
        case FIT_FLOAT: {
            const auto* p = reinterpret_cast<const float*>(line) + x0;
            for (int i = 0; i < count; ++i) {
                const int v = FloatToByte(p[i]);
                out[i] = qRgb(v, v, v);
            }
            break;
        }
        case FIT_RGBF: {
            const auto* p = reinterpret_cast<const FIRGBF*>(line) + x0;
            for (int i = 0; i < count; ++i)
                out[i] = qRgb(FloatToByte(p[i].red), FloatToByte(p[i].green), FloatToByte(p[i].blue));
            break;
        }
        case FIT_RGBAF: {
            const auto* p = reinterpret_cast<const FIRGBAF*>(line) + x0;
            for (int i = 0; i < count; ++i)
                out[i] = qRgb(FloatToByte(p[i].red), FloatToByte(p[i].green), FloatToByte(p[i].blue));
            break;
        }
        default:
            std::fill(out, out + count, qRgb(0, 0, 0));
        }
    }

private:
    void LoadPalette()
    {
        // Without a palette (should not happen) indices count as grey levels.
        const unsigned levels = 1u << m_bpp;
        for (unsigned i = 0; i < 256; ++i) {
            const int grey = levels > 1 ? static_cast<int>(std::min(i, levels - 1) * 255 / (levels - 1)) : 0;
            m_palette[i] = qRgb(grey, grey, grey);
        }
        const RGBQUAD* palette = FreeImage_GetPalette(m_bitmap);
        const unsigned used = std::min(FreeImage_GetColorsUsed(m_bitmap), 256u);
        if (!palette)
            return;
        for (unsigned i = 0; i < used; ++i)
            m_palette[i] = qRgb(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);
        // Indices beyond the palette read as black, as the display would.
        for (unsigned i = used; i < 256; ++i)
            m_palette[i] = qRgb(0, 0, 0);
    }

    unsigned IndexAt(const BYTE* line, int x) const
    {
        switch (m_bpp) {
        case 1:
            return (line[x >> 3] >> (7 - (x & 7))) & 0x01;
        case 4:
            return (line[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
        default:
            return line[x];
        }
    }

    FIBITMAP* m_bitmap = nullptr;
    Bitmap m_converted;
    FREE_IMAGE_TYPE m_type = FIT_UNKNOWN;
    unsigned m_bpp = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_ok = false;
    std::array<QRgb, 256> m_palette {};
};

bool IsRgb32Family(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
}

// Copies a w x h block whose top-left is (srcX, srcY) in the bitmap to
// (dstX, dstY) in the image, 1:1, clipped to both. Returns the rows drawn.
int CopyBlock(const RowReader& reader, int srcX, int srcY, int w, int h, QImage& dc, int dstX, int dstY)
{
    // Clip against the bitmap, moving the destination along.
    if (srcX < 0) { dstX -= srcX; w += srcX; srcX = 0; }
    if (srcY < 0) { dstY -= srcY; h += srcY; srcY = 0; }
    w = std::min(w, reader.Width() - srcX);
    h = std::min(h, reader.Height() - srcY);
    // Then against the image.
    if (dstX < 0) { srcX -= dstX; w += dstX; dstX = 0; }
    if (dstY < 0) { srcY -= dstY; h += dstY; dstY = 0; }
    w = std::min(w, dc.width() - dstX);
    h = std::min(h, dc.height() - dstY);
    if (w <= 0 || h <= 0)
        return 0;

    if (IsRgb32Family(dc.format())) {
        for (int row = 0; row < h; ++row) {
            auto* out = reinterpret_cast<QRgb*>(dc.scanLine(dstY + row)) + dstX;
            reader.ReadRow(srcY + row, srcX, w, out);
        }
        return h;
    }
    // Any other image format: go through an RGB32 block and let Qt convert.
    QImage block(w, h, QImage::Format_RGB32);
    if (block.isNull())
        return 0;
    for (int row = 0; row < h; ++row)
        reader.ReadRow(srcY + row, srcX, w, reinterpret_cast<QRgb*>(block.scanLine(row)));
    QPainter painter(&dc);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(dstX, dstY, block);
    return h;
}

// A 32-bit FreeImage copy of an image's pixels, bottom-up, with the fourth
// byte set to `fourth`.
Bitmap Capture32(const QImage& image, BYTE fourth)
{
    if (image.isNull())
        return {};
    const QImage rgb = IsRgb32Family(image.format()) && image.format() != QImage::Format_ARGB32_Premultiplied
        ? image
        : image.convertToFormat(QImage::Format_RGB32);
    const int width = rgb.width();
    const int height = rgb.height();
    Bitmap bitmap(FreeImage_Allocate(width, height, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!bitmap)
        return {};
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        BYTE* out = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
        for (int x = 0; x < width; ++x, out += 4) {
            out[FI_RGBA_RED] = static_cast<BYTE>(qRed(in[x]));
            out[FI_RGBA_GREEN] = static_cast<BYTE>(qGreen(in[x]));
            out[FI_RGBA_BLUE] = static_cast<BYTE>(qBlue(in[x]));
            out[FI_RGBA_ALPHA] = fourth;
        }
    }
    return bitmap;
}

void SetFourthByte(FIBITMAP* bitmap, BYTE value)
{
    const unsigned width = FreeImage_GetWidth(bitmap);
    const unsigned height = FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
        for (unsigned x = 0; x < width; ++x, p += 4)
            p[FI_RGBA_ALPHA] = value;
    }
}

// FreeImage stream procedures over an open QFile, so that write errors (a full
// disk) are seen: FreeImage's own file writer does not check them.
struct FileStream {
    QFile* file = nullptr;
    bool failed = false;
};

unsigned DLL_CALLCONV StreamRead(void* buffer, unsigned size, unsigned count, fi_handle handle)
{
    auto* stream = static_cast<FileStream*>(handle);
    if (size == 0 || count == 0)
        return 0;
    const qint64 got = stream->file->read(static_cast<char*>(buffer), static_cast<qint64>(size) * count);
    return got <= 0 ? 0u : static_cast<unsigned>(got / size);
}

unsigned DLL_CALLCONV StreamWrite(void* buffer, unsigned size, unsigned count, fi_handle handle)
{
    auto* stream = static_cast<FileStream*>(handle);
    if (size == 0 || count == 0)
        return 0;
    const qint64 want = static_cast<qint64>(size) * count;
    const qint64 put = stream->file->write(static_cast<const char*>(buffer), want);
    if (put != want) {
        stream->failed = true;
        return put <= 0 ? 0u : static_cast<unsigned>(put / size);
    }
    return count;
}

int DLL_CALLCONV StreamSeek(fi_handle handle, long offset, int origin)
{
    auto* stream = static_cast<FileStream*>(handle);
    qint64 base = 0;
    if (origin == SEEK_CUR)
        base = stream->file->pos();
    else if (origin == SEEK_END)
        base = stream->file->size();
    const qint64 target = base + offset;
    if (target < 0)
        return -1;
    // Seeking past the end is allowed; the gap is filled when written.
    return stream->file->seek(target) ? 0 : -1;
}

long DLL_CALLCONV StreamTell(fi_handle handle)
{
    return static_cast<long>(static_cast<FileStream*>(handle)->file->pos());
}

FreeImageIO FileStreamIo()
{
    FreeImageIO io;
    io.read_proc = StreamRead;
    io.write_proc = StreamWrite;
    io.seek_proc = StreamSeek;
    io.tell_proc = StreamTell;
    return io;
}

// Writes the bitmap into the open, empty file in the given format.
bool EncodeInto(QFile& file, FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, int flags)
{
    FileStream stream {&file, false};
    FreeImageIO io = FileStreamIo();
    const bool saved = FreeImage_SaveToHandle(format, bitmap, &io, &stream, flags) != FALSE;
    return saved && !stream.failed;
}

// FreeImage writes icons only for square sides 16 to 256; any other size up
// to 256 x 256 becomes a PNG-compressed icon, encoded by FreeImage's PNG writer.
bool EncodeIcon(QFile& file, FIBITMAP* bitmap)
{
    if (EncodeInto(file, FIF_ICO, bitmap, 0))
        return true;
    if (!file.resize(0) || !file.seek(0))
        return false;
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (!memory)
        return false;
    QByteArray icon;
    if (FreeImage_SaveToMemory(FIF_PNG, bitmap, memory, 0)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        if (FreeImage_AcquireMemory(memory, &data, &size) && data && size > 0) {
            const QByteArray png(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
            icon = WrapPngAsIcon(png, static_cast<int>(FreeImage_GetWidth(bitmap)),
                                 static_cast<int>(FreeImage_GetHeight(bitmap)),
                                 static_cast<int>(FreeImage_GetBPP(bitmap)));
        }
    }
    FreeImage_CloseMemory(memory);
    return !icon.isEmpty() && file.write(icon) == icon.size();
}

// A new, empty file in the target's folder with a name nobody uses, permissions
// taken from the target when it exists. Hidden (leading dot) so that file lists
// do not show it while it is written.
bool CreateTemporaryBeside(const QFileInfo& target, QFile& file)
{
    const QString folder = target.absolutePath();
    for (int attempt = 0; attempt < 32; ++attempt) {
        const QString name = folder + QStringLiteral("/.pixquill-")
            + QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".tmp");
        file.setFileName(name);
        if (file.open(QIODevice::ReadWrite | QIODevice::NewOnly)) {
            if (target.exists())
                file.setPermissions(target.permissions());
            return true;
        }
        if (QFileInfo::exists(name))
            continue; // name taken: try another
        return false; // the folder refuses new files
    }
    return false;
}

int Fail(QString* reason, int status, const QString& why)
{
    if (reason)
        *reason = why;
    return status;
}

} // namespace

LoadResult LoadImageToSurface(const QString& path, Surface& picLoad)
{
    LoadResult result;
    const QFileInfo info(path);
    if (!info.exists()) {
        result.error = QStringLiteral("file not found");
        return result;
    }
    if (info.isDir()) {
        result.error = QStringLiteral("is a folder");
        return result;
    }
    if (!info.isReadable()) {
        result.error = QStringLiteral("file cannot be read");
        return result;
    }
    // Nothing to detect; FreeImage's detectors would read past the end.
    if (info.size() == 0) {
        result.error = QStringLiteral("empty file");
        return result;
    }
    // File names reach FreeImage as the file system's own bytes.
    const QByteArray name = QFile::encodeName(path);
    ResetFreeImageMessage();

    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(name.constData(), 0);
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(name.constData());
    if (format == FIF_UNKNOWN) {
        result.error = QStringLiteral("unrecognised image format");
        return result;
    }
    if (!FreeImage_FIFSupportsReading(format)) {
        result.error = QStringLiteral("image format cannot be read");
        return result;
    }

    // Slow, exact JPEG decoding, turned upright as the camera recorded.
    const int flags = format == FIF_JPEG ? (JPEG_ACCURATE | JPEG_EXIFROTATE) : 0;

    Bitmap bitmap;
    // JPEG sizes come from the markers where they can: FreeImage's
    // header-only load decodes most of a progressive file.
    const JpegHeader jpeg = format == FIF_JPEG ? ReadJpegHeader(path) : JpegHeader{};
    if (jpeg.Ok) {
        if (std::uint64_t(jpeg.StoredWidth) * std::uint64_t(jpeg.StoredHeight) > kMaxPixels) {
            result.error = QStringLiteral("image too large");
            return result;
        }
    } else if (FreeImage_FIFSupportsNoPixels(format)) {
        // Read the header alone first, so that a hostile size is refused
        // before anything the size of the image is allocated.
        Bitmap header(FreeImage_Load(format, name.constData(), flags | FIF_LOAD_NOPIXELS));
        if (header) {
            const std::uint64_t pixels
                = std::uint64_t {FreeImage_GetWidth(header.get())} * FreeImage_GetHeight(header.get());
            if (pixels > kMaxPixels) {
                result.error = QStringLiteral("image too large");
                return result;
            }
            // A reader that ignores the request has decoded everything already.
            if (FreeImage_HasPixels(header.get()))
                bitmap = std::move(header);
        }
    }
    if (!bitmap) {
        ResetFreeImageMessage();
        bitmap.reset(FreeImage_Load(format, name.constData(), flags));
    }
    if (!bitmap || !FreeImage_HasPixels(bitmap.get())) {
        result.error = WithFreeImageMessage(QStringLiteral("cannot decode the image"));
        return result;
    }

    const unsigned w = FreeImage_GetWidth(bitmap.get());
    const unsigned h = FreeImage_GetHeight(bitmap.get());
    if (std::uint64_t {w} * h > kMaxPixels || w > static_cast<unsigned>(std::numeric_limits<int>::max())
        || h > static_cast<unsigned>(std::numeric_limits<int>::max())) {
        result.error = QStringLiteral("image too large");
        return result;
    }
    const RowReader reader(bitmap.get());
    if (!reader.Ok()) {
        result.error = QStringLiteral("unsupported pixel type");
        return result;
    }

    const int width = static_cast<int>(w);
    const int height = static_cast<int>(h);
    // The copy below covers every pixel, so neither the old drawing nor a
    // clear is needed first: one pass over the pixels instead of three.
    picLoad.ResizeForOverwrite(width, height);
    if (picLoad.Image().isNull() || picLoad.ScaleWidth() != width || picLoad.ScaleHeight() != height) {
        result.error = QStringLiteral("not enough memory for the image");
        return result;
    }
    CopyBlock(reader, 0, 0, width, height, picLoad.Image(), 0, 0);
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

int SaveThumbnail(Surface& picThumb, const QString& path, int format, QString* reason)
{
    if (reason)
        reason->clear();
    CapturedBitmap captured = CaptureThumbnail(picThumb);
    Bitmap current = std::move(captured.Bitmap);
    if (!current)
        return Fail(reason, kSaveNoCapture, QStringLiteral("the thumbnail is empty"));

    if (format == kFifIco && (captured.Width > 256 || captured.Height > 256))
        return Fail(reason, kSaveFailed, QStringLiteral("icons are at most 256 × 256"));

    ResetFreeImageMessage();
    int flags = 0;
    switch (format) {
    case kFifJpeg:
    case kFifPng:
    case kFifIco:
        current.reset(FreeImage_ConvertTo24Bits(current.get()));
        break;
    case kFifTiff:
        current.reset(FreeImage_ConvertTo24Bits(current.get()));
        flags = TIFF_NONE;
        break;
    case kFifGif:
        current.reset(FreeImage_ConvertTo24Bits(current.get()));
        if (current)
            current.reset(FreeImage_ColorQuantize(current.get(), FIQ_WUQUANT));
        break;
    case kFifTarga:
        // Readers take the fourth byte as alpha: make the thumbnail opaque.
        SetFourthByte(current.get(), 0xFF);
        break;
    default:
        break; // BMP: the capture as it is, fourth byte 0
    }
    if (!current)
        return Fail(reason, kSaveConversionFailed,
                    WithFreeImageMessage(QStringLiteral("cannot convert the image for this format")));

    const QFileInfo target(path);
    if (target.isDir())
        return Fail(reason, kSaveFailed, QStringLiteral("a folder has that name"));
    if (target.exists() && !target.isWritable())
        return Fail(reason, kSaveFailed, QStringLiteral("the existing file is read-only"));

    // Write everything to a temporary file beside the target and put it in
    // place with one rename, so that a failed save never leaves a partial
    // file and never damages the file it would have replaced.
    QFile temporary;
    if (!CreateTemporaryBeside(target, temporary))
        return Fail(reason, kSaveFailed,
                    QStringLiteral("cannot write in the folder (") + temporary.errorString() + QLatin1Char(')'));
    const auto discard = [&](const QString& why) {
        temporary.close();
        temporary.remove();
        return Fail(reason, kSaveFailed, why);
    };

    ResetFreeImageMessage();
    const bool encoded = format == kFifIco
        ? EncodeIcon(temporary, current.get())
        : EncodeInto(temporary, static_cast<FREE_IMAGE_FORMAT>(format), current.get(), flags);
    current.reset();
    if (!encoded)
        return discard(WithFreeImageMessage(QStringLiteral("cannot write the file")));
    if (!temporary.flush())
        return discard(QStringLiteral("cannot write the file (") + temporary.errorString() + QLatin1Char(')'));
    temporary.close();
    if (temporary.error() != QFileDevice::NoError)
        return discard(QStringLiteral("cannot write the file (") + temporary.errorString() + QLatin1Char(')'));

    // POSIX rename replaces an existing target in one step.
    const QByteArray from = QFile::encodeName(temporary.fileName());
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) != 0)
        return discard(QStringLiteral("cannot replace the file (") + QString::fromLocal8Bit(std::strerror(errno))
                       + QLatin1Char(')'));
    return kSaveWritten;
}

} // namespace pixquill
