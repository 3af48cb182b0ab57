#include "codec/ReducedJpeg.h"

#include <algorithm>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <FreeImage.h>

#include "codec/Surface.h"

namespace pixquill {

namespace {

// As the full loader: headers declaring more pixels than this are refused.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

int ReducedSide(int side, int scale)
{
    return (side + scale - 1) / scale; // libjpeg rounds a scaled side up
}

// The Orientation entry (0x0112, one SHORT) of the first image directory of
// an EXIF block's TIFF data, or 1 when there is none.
int ExifOrientation(const QByteArray& tiff)
{
    const auto* data = reinterpret_cast<const uchar*>(tiff.constData());
    const qsizetype size = tiff.size();
    if (size < 8)
        return 1;
    const bool little = data[0] == 'I' && data[1] == 'I';
    if (!little && !(data[0] == 'M' && data[1] == 'M'))
        return 1;
    auto u16 = [&](qsizetype at) -> unsigned {
        return little ? data[at] | data[at + 1] << 8 : data[at] << 8 | data[at + 1];
    };
    auto u32 = [&](qsizetype at) -> std::uint32_t {
        return little ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                      : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
    };
    if (u16(2) != 42)
        return 1;
    const std::uint32_t directory = u32(4);
    if (directory > std::uint32_t(size - 2))
        return 1;
    const unsigned entries = u16(directory);
    for (unsigned i = 0; i < entries; ++i) {
        const qsizetype entry = qsizetype(directory) + 2 + 12 * qsizetype(i);
        if (entry + 12 > size)
            break;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3 && u32(entry + 4) >= 1)
            return static_cast<int>(u16(entry + 8));
    }
    return 1;
}

} // namespace

JpegHeader ReadJpegHeader(const QString& path)
{
    // The markers are read here rather than by FreeImage: its header-only
    // load runs libjpeg's start of decompression, which for a progressive
    // JPEG reads and decodes every scan, two thirds of a full decode.
    JpegHeader header;
    // Opened without waiting and read only when it is a regular file: a FIFO
    // under a .jpg name would otherwise block the open until a writer came.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0)
        return header;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return header;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return header;
    }
    uchar soi[2];
    if (file.read(reinterpret_cast<char*>(soi), 2) != 2 || soi[0] != 0xFF || soi[1] != 0xD8)
        return header;
    int orientation = 0; // 0 until an EXIF block was seen
    for (;;) {
        char byte = 0;
        // Segments may be followed by fill bytes and, in damaged files, by
        // stray data: go to the next marker as libjpeg does.
        do {
            if (!file.getChar(&byte))
                return header;
        } while (static_cast<uchar>(byte) != 0xFF);
        do {
            if (!file.getChar(&byte))
                return header;
        } while (static_cast<uchar>(byte) == 0xFF);
        const uchar marker = static_cast<uchar>(byte);
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length follows
        if (marker == 0xD9 || marker == 0xDA || marker == 0x00)
            return header; // end of image or scan data before any frame header
        uchar length[2];
        if (file.read(reinterpret_cast<char*>(length), 2) != 2)
            return header;
        const int size = (length[0] << 8 | length[1]) - 2;
        if (size < 0)
            return header;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            uchar sof[5];
            if (size < 5 || file.read(reinterpret_cast<char*>(sof), 5) != 5)
                return header;
            header.StoredHeight = sof[1] << 8 | sof[2];
            header.StoredWidth = sof[3] << 8 | sof[4];
            break;
        }
        if (marker == 0xE1 && orientation == 0 && size >= 6) {
            const QByteArray payload = file.read(size);
            if (payload.size() != size)
                return header;
            if (payload.startsWith(QByteArray("Exif\0\0", 6)))
                orientation = ExifOrientation(payload.mid(6));
            continue;
        }
        if (!file.seek(file.pos() + size))
            return header;
    }
    // A height of 0 is given later in the file (DNL): left to FreeImage.
    if (header.StoredWidth <= 0 || header.StoredHeight <= 0)
        return header;
    header.Orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    header.Width = header.StoredWidth;
    header.Height = header.StoredHeight;
    // Orientations 5 to 8 turn the picture a quarter: FreeImage's EXIF
    // rotation then swaps the sides.
    if (header.Orientation >= 5)
        std::swap(header.Width, header.Height);
    header.Ok = true;
    return header;
}

int ChooseJpegScale(const JpegHeader& header, int thumbWidth, int thumbHeight)
{
    if (!header.Ok || thumbWidth < 1 || thumbHeight < 1)
        return 1;
    for (int scale : {8, 4, 2}) {
        if (ReducedSide(header.Width, scale) >= 2 * std::int64_t{thumbWidth}
            && ReducedSide(header.Height, scale) >= 2 * std::int64_t{thumbHeight})
            return scale;
    }
    return 1;
}

LoadResult LoadReducedJpegToSurface(const QString& path, const JpegHeader& header, int scale,
                                    Surface& picLoad)
{
    LoadResult result;
    if (!header.Ok || (scale != 1 && scale != 2 && scale != 4 && scale != 8)) {
        result.error = QStringLiteral("not a JPEG that can be decoded reduced");
        return result;
    }
    if (std::uint64_t(header.StoredWidth) * std::uint64_t(header.StoredHeight) > kMaxPixels) {
        result.error = QStringLiteral("image too large");
        return result;
    }
    // FreeImage takes a size in the upper 16 bits of the flags and divides
    // the longer stored side by it, choosing the largest of 8, 4 and 2 the
    // quotient reaches: the longer side over the scale picks exactly `scale`.
    const int longer = std::max(header.StoredWidth, header.StoredHeight);
    const int hint = scale == 1 ? 0 : std::min(longer / scale, 0x7FFF);
    const QByteArray name = QFile::encodeName(path);
    Bitmap bitmap(FreeImage_Load(FIF_JPEG, name.constData(), JPEG_ACCURATE | JPEG_EXIFROTATE | (hint << 16)));
    if (!bitmap || !FreeImage_HasPixels(bitmap.get())) {
        result.error = QStringLiteral("cannot decode the image");
        return result;
    }
    // The JPEG reader hands out grey, colour or CMYK-turned-colour bitmaps;
    // anything else is left to the full loader.
    const unsigned bpp = FreeImage_GetBPP(bitmap.get());
    if (FreeImage_GetImageType(bitmap.get()) != FIT_BITMAP || (bpp != 8 && bpp != 24 && bpp != 32)) {
        result.error = QStringLiteral("unsupported pixel type");
        return result;
    }
    const int width = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
    const int height = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
    // Our reading of the header and FreeImage's decode must agree on the
    // shape, orientation included, or the thumbnail's size could be wrong.
    int expectedWidth = ReducedSide(header.StoredWidth, scale);
    int expectedHeight = ReducedSide(header.StoredHeight, scale);
    if (header.Orientation >= 5)
        std::swap(expectedWidth, expectedHeight);
    if (width != expectedWidth || height != expectedHeight) {
        result.error = QStringLiteral("the decoded image does not have the size its header gives");
        return result;
    }
    picLoad.ResizeForOverwrite(width, height);
    if (picLoad.Image().isNull() || picLoad.ScaleWidth() != width || picLoad.ScaleHeight() != height) {
        result.error = QStringLiteral("not enough memory for the image");
        return result;
    }
    DrawBitmapToDC(bitmap.get(), picLoad.Image(), width, height);
    result.ok = true;
    return result;
}

} // namespace pixquill
