#include "MFreeImage_2.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRandomGenerator>

#include <FreeImage.h>

#include "codec/FileQuirks.h"
#include "codec/IcoWriter.h"
#include "codec/ImageHeader.h"
#include "codec/LibraryMessages.h"
#include "codec/OutputFormats.h"
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

// FreeImage stream procedures over the descriptor of an open file, with a
// buffer of our own, so that every refused write (a full disk, a file-size
// limit) is seen with its errno: FreeImage's own file writer and its
// encoders do not check what their writes return.
class FileStream {
public:
    explicit FileStream(int fd) : m_fd(fd) {}

    // The first errno a write, seek or read ended with; 0 while all went well.
    int Error() const { return m_error; }

    bool Write(const char* data, std::size_t size)
    {
        if (m_error)
            return false;
        m_buffer.insert(m_buffer.end(), data, data + size);
        m_pos += static_cast<std::int64_t>(size);
        return m_buffer.size() < kBufferSize || Flush();
    }

    bool Flush()
    {
        std::size_t done = 0;
        while (!m_error && done < m_buffer.size()) {
            const ssize_t put = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                m_error = put < 0 ? errno : EIO;
            else
                done += static_cast<std::size_t>(put);
        }
        m_buffer.clear();
        return !m_error;
    }

    int Seek(std::int64_t offset, int origin)
    {
        if (!Flush())
            return -1;
        const off_t to = ::lseek(m_fd, static_cast<off_t>(offset), origin);
        if (to < 0)
            return -1;
        m_pos = to;
        return 0;
    }

    std::int64_t Tell() const { return m_pos; }

    std::size_t Read(char* out, std::size_t size)
    {
        if (!Flush())
            return 0;
        const ssize_t got = ::read(m_fd, out, size);
        if (got <= 0)
            return 0;
        m_pos += got;
        return static_cast<std::size_t>(got);
    }

    // Empties the file and starts again at its beginning.
    bool Truncate()
    {
        m_buffer.clear();
        if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) {
            m_error = errno;
            return false;
        }
        m_pos = 0;
        return true;
    }

    FreeImageIO Io() { return FreeImageIO{ReadProc, WriteProc, SeekProc, TellProc}; }

private:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    static unsigned DLL_CALLCONV ReadProc(void* buffer, unsigned size, unsigned count, fi_handle handle)
    {
        if (size == 0 || count == 0)
            return 0;
        const std::size_t got = static_cast<FileStream*>(handle)->Read(static_cast<char*>(buffer),
                                                                      static_cast<std::size_t>(size) * count);
        return static_cast<unsigned>(got / size);
    }

    static unsigned DLL_CALLCONV WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle)
    {
        if (size == 0 || count == 0)
            return 0;
        return static_cast<FileStream*>(handle)->Write(static_cast<const char*>(buffer),
                                                       static_cast<std::size_t>(size) * count)
            ? count
            : 0;
    }

    static int DLL_CALLCONV SeekProc(fi_handle handle, long offset, int origin)
    {
        return static_cast<FileStream*>(handle)->Seek(offset, origin);
    }

    static long DLL_CALLCONV TellProc(fi_handle handle)
    {
        return static_cast<long>(static_cast<FileStream*>(handle)->Tell());
    }

    int m_fd;
    int m_error = 0;
    std::int64_t m_pos = 0;
    std::vector<char> m_buffer;
};

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes the bitmap into the stream's empty file in the given format; false
// when FreeImage refuses or the system refused a write (stream.Error()).
bool EncodeInto(FileStream& stream, FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, int flags)
{
    FreeImageIO io = stream.Io();
    const bool saved = FreeImage_SaveToHandle(format, bitmap, &io, &stream, flags) != FALSE;
    return stream.Flush() && saved;
}

// FreeImage writes icons only for square sides 16 to 256; any other size up
// to 256 x 256 becomes a PNG-compressed icon, encoded by FreeImage's PNG writer.
bool EncodeIcon(FileStream& stream, FIBITMAP* bitmap)
{
    if (EncodeInto(stream, FIF_ICO, bitmap, 0))
        return true;
    if (stream.Error() || !stream.Truncate())
        return false; // the disk, not the size, said no
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
    return !icon.isEmpty() && stream.Write(icon.constData(), static_cast<std::size_t>(icon.size())) && stream.Flush();
}

// A new, empty file in the target's folder with a name nobody uses, permissions
// taken from the target when it exists. Hidden (leading dot) so that file lists
// do not show it while it is written.
bool CreateTemporaryBeside(const QFileInfo& target, QFile& file)
{
    const QString folder = target.absolutePath();
    const QString prefix = SaveTemporaryPrefix(QCoreApplication::applicationPid());
    for (int attempt = 0; attempt < 32; ++attempt) {
        const QString name = folder + QLatin1Char('/') + prefix
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

// ------------------------------------------------------------------ loading

// What the loader decodes from: an open regular file, or the file's content
// rebuilt in memory (see FileQuirks). FreeImage reads it through its handle
// procedures, our own checks through Reader().
class InputSource {
public:
    // Takes over an open file descriptor.
    InputSource(int fd, std::int64_t size) : m_fd(fd), m_size(size) {}
    explicit InputSource(QByteArray bytes) : m_bytes(std::move(bytes)), m_size(m_bytes.size()) {}
    ~InputSource()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    InputSource(const InputSource&) = delete;
    InputSource& operator=(const InputSource&) = delete;

    std::int64_t Size() const { return m_size; }
    FreeImageIO* Io() { return &m_io; }
    fi_handle Handle() { return this; }
    // Back to the start, as FreeImage's readers expect to begin there.
    void Rewind() { Seek(0, SEEK_SET); }

    ByteReader Reader()
    {
        return [this](std::int64_t offset, void* out, std::int64_t size) { return ReadAt(offset, out, size); };
    }

    // From now on, reads see these bytes in place of the file's own.
    void Overlay(std::vector<BytePatch> patches) { m_patches = std::move(patches); }

private:
    std::int64_t ReadAt(std::int64_t offset, void* out, std::int64_t size) const
    {
        const std::int64_t got = ReadStored(offset, out, size);
        for (const BytePatch& patch : m_patches) {
            const std::int64_t from = std::max(offset, patch.Offset);
            const std::int64_t to = std::min(offset + got, patch.Offset + static_cast<std::int64_t>(patch.Bytes.size()));
            if (from < to)
                std::memcpy(static_cast<char*>(out) + (from - offset), patch.Bytes.constData() + (from - patch.Offset),
                            static_cast<std::size_t>(to - from));
        }
        return got;
    }

    std::int64_t ReadStored(std::int64_t offset, void* out, std::int64_t size) const
    {
        if (offset < 0 || size <= 0 || offset >= m_size)
            return 0;
        size = std::min(size, m_size - offset);
        if (m_fd < 0) {
            std::memcpy(out, m_bytes.constData() + offset, static_cast<std::size_t>(size));
            return size;
        }
        std::int64_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(m_fd, static_cast<char*>(out) + done, static_cast<std::size_t>(size - done),
                                        static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
        return done;
    }

    int Seek(long offset, int origin)
    {
        std::int64_t base = origin == SEEK_CUR ? m_pos : origin == SEEK_END ? m_size : 0;
        const std::int64_t target = base + offset;
        if (target < 0)
            return -1;
        m_pos = target; // past the end is allowed; reads there find nothing
        return 0;
    }

    static unsigned DLL_CALLCONV ReadProc(void* buffer, unsigned size, unsigned count, fi_handle handle)
    {
        auto* self = static_cast<InputSource*>(handle);
        if (size == 0 || count == 0)
            return 0;
        const std::int64_t got = self->ReadAt(self->m_pos, buffer, static_cast<std::int64_t>(size) * count);
        self->m_pos += got;
        // As fread: nothing is written past what was read. Some readers ask
        // for more than their buffer holds and rely on the file ending first.
        return static_cast<unsigned>(got / size);
    }

    static unsigned DLL_CALLCONV WriteProc(void*, unsigned, unsigned, fi_handle) { return 0; }

    static int DLL_CALLCONV SeekProc(fi_handle handle, long offset, int origin)
    {
        return static_cast<InputSource*>(handle)->Seek(offset, origin);
    }

    static long DLL_CALLCONV TellProc(fi_handle handle)
    {
        return static_cast<long>(static_cast<InputSource*>(handle)->m_pos);
    }

    int m_fd = -1;
    QByteArray m_bytes;
    std::vector<BytePatch> m_patches;
    std::int64_t m_size = 0;
    std::int64_t m_pos = 0;
    FreeImageIO m_io {ReadProc, WriteProc, SeekProc, TellProc};
};

// Opens a path for decoding, refusing without opening it whatever is not a
// regular file: a FIFO would block the open (or a writer waiting on it), a
// socket cannot be opened, a device may never end.
std::unique_ptr<InputSource> OpenRegularFile(const QByteArray& name, QString& error)
{
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        const int e = errno;
        struct stat link {};
        if (e == ENOENT && ::lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            error = QStringLiteral("broken symbolic link");
        else if (e == ENOENT || e == ENOTDIR)
            error = QStringLiteral("file not found");
        else
            error = QStringLiteral("file cannot be read (") + SystemError(e) + QLatin1Char(')');
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        error = QStringLiteral("is a folder");
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        error = QStringLiteral("not a regular file");
        return nullptr;
    }
    // Nothing to detect; FreeImage's detectors would read past the end.
    if (info.st_size == 0) {
        error = QStringLiteral("empty file");
        return nullptr;
    }
    // O_NONBLOCK: should the name have turned into a FIFO since, the open
    // still returns at once and the check below refuses it.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("file cannot be read (") + SystemError(errno) + QLatin1Char(')');
        return nullptr;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = QStringLiteral("not a regular file");
        return nullptr;
    }
    return std::make_unique<InputSource>(fd, static_cast<std::int64_t>(info.st_size));
}

bool TooLarge(std::uint64_t width, std::uint64_t height)
{
    return width == 0 || height == 0 ? false : DeclaredSize{width, height, 1}.Pixels() > kMaxPixels;
}

struct Decoded {
    Bitmap bitmap;
    QString error;
};

Decoded Refused(QString error)
{
    return Decoded{Bitmap(), std::move(error)};
}

// Detects, checks and decodes. The size a header declares is checked before
// anything the size of the image is allocated: from FreeImage's header-only
// load where the format has one, from our own reading of the header where it
// has not. Files FreeImage would misread or crash on are rebuilt or refused
// first (FileQuirks).
Decoded DecodeFile(InputSource& file, const QByteArray& name, const LibraryMessages& messages)
{
    const ByteReader reader = file.Reader();
    // A cursor is an icon with a hot spot; FreeImage knows only icons.
    file.Overlay(IconPatchesForCursor(reader));
    file.Rewind();
    FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromHandle(file.Io(), file.Handle(), 0);

    std::optional<QByteArray> rebuilt;
    if (format == FIF_BMP) {
        const auto size = ReadBmpSize(reader);
        if (size && TooLarge(size->Width, size->Height))
            return Refused(QStringLiteral("image too large"));
    }
    if (format == FIF_BMP && (HasLargeBmpInfoHeader(reader) || HasFinalEndOfLine(reader, file.Size()))) {
        rebuilt = PlainBmp(reader, file.Size());
        if (!rebuilt)
            return Refused(QStringLiteral("cannot decode the image (damaged bitmap header)"));
    } else if (format == FIF_UNKNOWN && IsHeaderlessDib(reader)) {
        const auto size = ReadBmpSize(reader, true);
        if (size && TooLarge(size->Width, size->Height))
            return Refused(QStringLiteral("image too large"));
        rebuilt = PlainBmp(reader, file.Size(), true);
        if (!rebuilt)
            return Refused(QStringLiteral("cannot decode the image (damaged bitmap header)"));
        format = FIF_BMP;
    }
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(name.constData());
    if (format == FIF_UNKNOWN)
        return Refused(QStringLiteral("unrecognised image format"));
    if (!FreeImage_FIFSupportsReading(format))
        return Refused(QStringLiteral("image format cannot be read"));

    // Slow, exact JPEG decoding, turned upright as the camera recorded.
    const int flags = format == FIF_JPEG ? (JPEG_ACCURATE | JPEG_EXIFROTATE) : 0;

    if (HasHeaderReader(format)) {
        const auto size = ReadDeclaredSize(format, reader);
        if (!size)
            return Refused(QStringLiteral("cannot decode the image (unreadable header)"));
        // Decoders keep several samples a pixel; a header that asks for more
        // than a few per pixel of the largest image is as hostile.
        if (size->Pixels() > kMaxPixels || size->Pixels() > kMaxPixels * 4 / std::max<std::uint64_t>(1, size->Channels))
            return Refused(QStringLiteral("image too large"));
    }
    std::unique_ptr<InputSource> memory;
    InputSource* source = &file;
    const auto useRebuilt = [&] {
        memory = std::make_unique<InputSource>(std::move(*rebuilt));
        source = memory.get();
    };
    if (rebuilt)
        useRebuilt();

    Bitmap bitmap;
    // JPEG sizes come from the markers where they can: FreeImage's
    // header-only load decodes most of a progressive file.
    const JpegHeader jpeg = format == FIF_JPEG && !rebuilt ? ReadJpegHeader(QFile::decodeName(name)) : JpegHeader{};
    if (jpeg.Ok) {
        if (TooLarge(std::uint64_t(jpeg.StoredWidth), std::uint64_t(jpeg.StoredHeight)))
            return Refused(QStringLiteral("image too large"));
    } else if (FreeImage_FIFSupportsNoPixels(format)) {
        // Read the header alone first, so that a hostile size is refused
        // before anything the size of the image is allocated. A header it
        // cannot read alone, it would not decode either.
        source->Rewind();
        Bitmap header(FreeImage_LoadFromHandle(format, source->Io(), source->Handle(), flags | FIF_LOAD_NOPIXELS));
        if (!header)
            return Refused(messages.Explain(QStringLiteral("cannot decode the image")));
        if (TooLarge(FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get())))
            return Refused(QStringLiteral("image too large"));
        // A reader that ignores the request has decoded everything already.
        if (FreeImage_HasPixels(header.get()))
            bitmap = std::move(header);
    }

    // Only now that the size is known to be sound: damage FreeImage would
    // crash on, and files it reads only in another form.
    if (format == FIF_PSD && !PsdImageDataFits(reader, file.Size()))
        return Refused(QStringLiteral("cannot decode the image (damaged image data)"));
    if (format == FIF_TARGA && !TgaImageDataFits(reader, file.Size()))
        return Refused(QStringLiteral("cannot decode the image (image data cut short)"));
    if (format == FIF_XBM && !XbmDataFits(reader))
        return Refused(QStringLiteral("cannot decode the image (image data cut short)"));
    std::optional<std::array<std::uint8_t, 768>> psdPalette;
    if (format == FIF_PSD)
        psdPalette = PsdIndexedPalette(reader);
    if (format == FIF_PCX && IsUncompressedPcx(reader)) {
        rebuilt = RleCodedPcx(reader, file.Size());
        if (!rebuilt)
            return Refused(QStringLiteral("cannot decode the image (image data cut short)"));
        bitmap.reset();
        useRebuilt();
    }

    if (!bitmap) {
        source->Rewind();
        bitmap.reset(FreeImage_LoadFromHandle(format, source->Io(), source->Handle(), flags));
    }
    if (!bitmap || !FreeImage_HasPixels(bitmap.get()))
        return Refused(messages.Explain(QStringLiteral("cannot decode the image")));

    // FreeImage hands indexed PSD images over with a grey ramp for a palette.
    if (psdPalette && FreeImage_GetBPP(bitmap.get()) == 8 && FreeImage_GetImageType(bitmap.get()) == FIT_BITMAP) {
        if (RGBQUAD* palette = FreeImage_GetPalette(bitmap.get())) {
            for (int i = 0; i < 256; ++i)
                palette[i] = RGBQUAD{(*psdPalette)[512 + i], (*psdPalette)[256 + i], (*psdPalette)[i], 0};
        }
    }
    return Decoded{std::move(bitmap), {}};
}

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
    LoadResult result;
    // File names reach FreeImage as the file system's own bytes.
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<InputSource> file = OpenRegularFile(name, result.error);
    if (!file)
        return result;

    const LibraryMessages messages;
    Decoded decoded = DecodeFile(*file, name, messages);
    file.reset();
    if (!decoded.bitmap) {
        result.error = std::move(decoded.error);
        return result;
    }
    FIBITMAP* bitmap = decoded.bitmap.get();

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
    decoded.bitmap.reset();
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

int SaveThumbnail(Surface& picThumb, const QString& path, int format, QString* reason, int jpegQuality)
{
    if (reason)
        reason->clear();
    const SaveInProgress inProgress;
    if (g_savesRefused)
        return Fail(reason, kSaveFailed, QStringLiteral("saving was stopped"));
    CapturedBitmap captured = CaptureThumbnail(picThumb);
    Bitmap current = std::move(captured.Bitmap);
    if (!current)
        return Fail(reason, kSaveNoCapture, QStringLiteral("the thumbnail is empty"));

    if (format == kFifIco && (captured.Width > 256 || captured.Height > 256))
        return Fail(reason, kSaveFailed, QStringLiteral("icons are at most 256 × 256"));

    LibraryMessages messages;
    // The conversion and the flags come from the format's row; a code no row
    // has is written as captured, if its encoder can.
    const std::optional<OutputFormatEntry> entry = OutputFormatOfCode(format);
    int flags = entry ? entry->SaveFlags : 0;
    if (format == kFifJpeg && jpegQuality >= 1 && jpegQuality <= 100)
        flags = jpegQuality;
    switch (entry ? entry->Conversion : FormatConversion::AsCaptured) {
    case FormatConversion::To24Bits:
        current.reset(FreeImage_ConvertTo24Bits(current.get()));
        break;
    case FormatConversion::To24BitsWuPalette:
        current.reset(FreeImage_ConvertTo24Bits(current.get()));
        if (current)
            current.reset(FreeImage_ColorQuantize(current.get(), FIQ_WUQUANT));
        break;
    case FormatConversion::AsCapturedOpaque:
        // Readers take the fourth byte as alpha: make the thumbnail opaque.
        SetFourthByte(current.get(), 0xFF);
        break;
    case FormatConversion::AsCaptured:
        break; // the fourth byte stays 0
    }
    if (!current)
        return Fail(reason, kSaveConversionFailed,
                    messages.Explain(QStringLiteral("cannot convert the image for this format")));

    const QFileInfo target(path);
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    // Renaming would replace a read-only file all the same; ask the system
    // whether it may be written instead.
    if (target.exists() && !target.isDir() && ::access(to.constData(), W_OK) != 0)
        return Fail(reason, kSaveFailed,
                    QStringLiteral("the existing file is read-only (") + SystemError(errno) + QLatin1Char(')'));

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

    messages.Clear();
    FileStream stream(temporary.handle());
    const bool encoded = format == kFifIco
        ? EncodeIcon(stream, current.get())
        : EncodeInto(stream, static_cast<FREE_IMAGE_FORMAT>(format), current.get(), flags);
    current.reset();
    if (stream.Error())
        return discard(QStringLiteral("cannot write the file (") + SystemError(stream.Error()) + QLatin1Char(')'));
    if (!encoded)
        return discard(messages.Explain(QStringLiteral("cannot write the file")));
    temporary.close();
    if (temporary.error() != QFileDevice::NoError)
        return discard(QStringLiteral("cannot write the file (") + temporary.errorString() + QLatin1Char(')'));

    // POSIX rename replaces an existing target in one step; a folder of
    // that name or a name too long for the folder is refused here.
    const QByteArray from = QFile::encodeName(temporary.fileName());
    if (std::rename(from.constData(), to.constData()) != 0)
        return discard(QStringLiteral("cannot write the file (") + SystemError(errno) + QLatin1Char(')'));
    return kSaveWritten;
}

} // namespace pixquill
