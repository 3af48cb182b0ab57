#include "codec/ReducedJpeg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>

#include <QFile>

#include <FreeImage.h>

#include "codec/ByteOrder.h"
#include "codec/ColourProfile.h"
#include "codec/FreeImageDecoder.h"
#include "codec/InputSource.h"
#include "codec/LibraryMessages.h"
#include "codec/SequentialReader.h"

namespace pixquill {

namespace {

int ReducedSide(int side, int scale)
{
    return (side + scale - 1) / scale; // libjpeg rounds a scaled side up
}

// The Orientation entry (0x0112, one SHORT) of the first image directory of
// an EXIF block's TIFF data, or 0 when there is none.
int ExifOrientation(const QByteArray& tiff)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(tiff.constData());
    const qsizetype size = tiff.size();
    if (size < 8)
        return 0;
    const bool little = data[0] == 'I' && data[1] == 'I';
    if (!little && !(data[0] == 'M' && data[1] == 'M'))
        return 0;
    const auto u16 = [&](qsizetype at) { return little ? Le16(data + at) : Be16(data + at); };
    const auto u32 = [&](qsizetype at) { return little ? Le32(data + at) : Be32(data + at); };
    if (u16(2) != 42)
        return 0;
    const std::uint32_t directory = u32(4);
    if (directory > std::uint32_t(size - 2))
        return 0;
    const unsigned entries = u16(directory);
    for (unsigned i = 0; i < entries; ++i) {
        const qsizetype entry = qsizetype(directory) + 2 + 12 * qsizetype(i);
        if (entry + 12 > size)
            break;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3 && u32(entry + 4) >= 1)
            return static_cast<int>(u16(entry + 8));
    }
    return 0;
}

// A reduced decode rounds each stored side up: its last column and row stand
// for a partial block of the image (1050 rows at 1/8 give 132 rows where
// 131.25 would be exact), which stretches the picture slightly against the
// thumbnail. Cutting the surplus back to the nearest whole number of rows
// and columns keeps the two within a fraction of a pixel. The surplus lies
// where the stored right and bottom edges end up once EXIF turned the image.
// Null when the copy cannot be made.
Bitmap TrimPartialBlocks(Bitmap decoded, const JpegHeader& header, int scale)
{
    const int width = static_cast<int>(FreeImage_GetWidth(decoded.get()));
    const int height = static_cast<int>(FreeImage_GetHeight(decoded.get()));
    const int keepWidth = std::max(1, static_cast<int>(std::lround(double(header.Width) / scale)));
    const int keepHeight = std::max(1, static_cast<int>(std::lround(double(header.Height) / scale)));
    const int surplusX = width - keepWidth;
    const int surplusY = height - keepHeight;
    if (surplusX < 0 || surplusY < 0 || (surplusX == 0 && surplusY == 0))
        return decoded;
    // Orientations whose turn puts the stored right or bottom edge on the
    // left, or on the top, of the upright image.
    const int o = header.Orientation;
    const int x0 = o == 2 || o == 3 || o == 6 || o == 7 ? surplusX : 0;
    const int y0 = o == 3 || o == 4 || o == 7 || o == 8 ? surplusY : 0;
    // FreeImage_Copy counts rows from the top, as the picture is shown.
    return Bitmap(FreeImage_Copy(decoded.get(), x0, y0, x0 + keepWidth, y0 + keepHeight));
}

} // namespace

JpegHeader ReadJpegHeader(const ByteReader& read)
{
    // The markers are read here rather than by FreeImage: its header-only
    // load runs libjpeg's start of decompression, which for a progressive
    // JPEG reads and decodes every scan, two thirds of a full decode.
    JpegHeader header;
    SequentialReader file(read, 0);
    std::uint8_t soi[2];
    if (!file.Read(soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8)
        return header;
    bool exifSeen = false;
    int orientation = 0; // 0 while no EXIF block gave one
    for (;;) {
        int byte = 0;
        // Segments may be followed by fill bytes and, in damaged files, by
        // stray data: go to the next marker as libjpeg does.
        do {
            byte = file.Next();
            if (byte < 0)
                return header;
        } while (byte != 0xFF);
        do {
            byte = file.Next();
            if (byte < 0)
                return header;
        } while (byte == 0xFF);
        const auto marker = static_cast<std::uint8_t>(byte);
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length follows
        if (marker == 0xD9 || marker == 0xDA || marker == 0x00)
            return header; // end of image or scan data before any frame header
        std::uint8_t length[2];
        if (!file.Read(length, 2))
            return header;
        const int size = static_cast<int>(Be16(length)) - 2;
        if (size < 0)
            return header;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            std::uint8_t sof[5];
            if (size < 5 || !file.Read(sof, 5))
                return header;
            header.StoredHeight = static_cast<int>(Be16(sof + 1));
            header.StoredWidth = static_cast<int>(Be16(sof + 3));
            break;
        }
        if (marker == 0xE1 && !exifSeen && size >= 6) {
            QByteArray payload(size, Qt::Uninitialized);
            if (!file.Read(reinterpret_cast<std::uint8_t*>(payload.data()), size))
                return header;
            if (payload.startsWith(QByteArray("Exif\0\0", 6))) {
                exifSeen = true;
                orientation = ExifOrientation(payload.mid(6));
            }
            continue;
        }
        if (!file.Skip(size))
            return header;
    }
    // A height of 0 is given later in the file (DNL): left to FreeImage.
    if (header.StoredWidth <= 0 || header.StoredHeight <= 0)
        return header;
    header.OrientationTagged = orientation >= 1 && orientation <= 8;
    header.Orientation = header.OrientationTagged ? orientation : 1;
    header.Width = header.StoredWidth;
    header.Height = header.StoredHeight;
    // Orientations 5 to 8 turn the picture a quarter: FreeImage's EXIF
    // rotation then swaps the sides.
    if (header.Orientation >= 5)
        std::swap(header.Width, header.Height);
    header.Ok = true;
    return header;
}

JpegHeader ReadJpegHeader(const QString& path)
{
    QString error;
    const std::unique_ptr<InputSource> file = OpenRegularFile(QFile::encodeName(path), error);
    return file ? ReadJpegHeader(file->Reader()) : JpegHeader{};
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

DecodedImage DecodeJpegAtScale(const ByteReader& read, std::int64_t size, const JpegHeader& header, int scale)
{
    DecodedImage decoded;
    if (!header.Ok || (scale != 1 && scale != 2 && scale != 4 && scale != 8)) {
        decoded.Error = QStringLiteral("not a JPEG that can be decoded reduced");
        return decoded;
    }
    if (TooLarge(std::uint64_t(header.StoredWidth), std::uint64_t(header.StoredHeight))) {
        decoded.Error = QStringLiteral("image too large");
        return decoded;
    }
    // FreeImage takes a size in the upper 16 bits of the flags and divides
    // the longer stored side by it, choosing the largest of 8, 4 and 2 the
    // quotient reaches: the longer side over the scale picks exactly `scale`.
    const int longer = std::max(header.StoredWidth, header.StoredHeight);
    const int hint = scale == 1 ? 0 : std::min(longer / scale, 0x7FFF);
    InputSource source(read, size);
    const LibraryMessages messages;
    Bitmap bitmap(FreeImage_LoadFromHandle(FIF_JPEG, source.Io(), source.Handle(),
                                           JPEG_ACCURATE | JPEG_EXIFROTATE | (hint << 16)));
    if (!bitmap || !FreeImage_HasPixels(bitmap.get())) {
        decoded.Error = QStringLiteral("cannot decode the image");
        return decoded;
    }
    // The JPEG reader hands out grey, colour or CMYK-turned-colour bitmaps;
    // anything else is left to the full loader.
    const unsigned bpp = FreeImage_GetBPP(bitmap.get());
    if (FreeImage_GetImageType(bitmap.get()) != FIT_BITMAP || (bpp != 8 && bpp != 24 && bpp != 32)) {
        decoded.Error = QStringLiteral("unsupported pixel type");
        return decoded;
    }
    // Our reading of the header and FreeImage's decode must agree on the
    // shape, orientation included, or the thumbnail's size could be wrong.
    int expectedWidth = ReducedSide(header.StoredWidth, scale);
    int expectedHeight = ReducedSide(header.StoredHeight, scale);
    if (header.Orientation >= 5)
        std::swap(expectedWidth, expectedHeight);
    if (static_cast<int>(FreeImage_GetWidth(bitmap.get())) != expectedWidth
        || static_cast<int>(FreeImage_GetHeight(bitmap.get())) != expectedHeight) {
        decoded.Error = QStringLiteral("the decoded image does not have the size its header gives");
        return decoded;
    }
    decoded.IccProfile = IccProfileOf(bitmap.get());
    // CMYK with a profile is read as CMYK samples, which only the full
    // decode asks for.
    if (IsCmykProfile(decoded.IccProfile)) {
        decoded.Error = QStringLiteral("not a JPEG that can be decoded reduced");
        return decoded;
    }
    decoded.Image = std::move(bitmap);
    decoded.Warning = messages.Warning();
    return decoded;
}

bool RecognisedAsJpeg(const ByteReader& read, std::int64_t)
{
    std::uint8_t soi[2];
    return ReadExactly(read, 0, soi, 2) && soi[0] == 0xFF && soi[1] == 0xD8;
}

std::span<const std::string_view> JpegExtensions()
{
    // FreeImage's own list for JPEG, so that a file it reads as a JPEG by
    // name comes here as well.
    static constexpr std::array<std::string_view, 4> extensions{"jpg", "jif", "jpeg", "jpe"};
    return extensions;
}

UprightSize JpegUprightSize(const ByteReader& read, std::int64_t)
{
    const JpegHeader header = ReadJpegHeader(read);
    return header.Ok ? UprightSize{header.Width, header.Height} : UprightSize{};
}

DecodedImage DecodeJpeg(const ByteReader& read, std::int64_t size, const DecodeHints& hints)
{
    if (hints.ReducedScale && hints.Width > 0 && hints.Height > 0) {
        const JpegHeader header = ReadJpegHeader(read);
        const int scale = ChooseJpegScale(header, hints.Width, hints.Height);
        if (scale > 1) {
            DecodedImage reduced = DecodeJpegAtScale(read, size, header, scale);
            if (reduced.Image) {
                reduced.Image = TrimPartialBlocks(std::move(reduced.Image), header, scale);
                if (reduced.Image)
                    return reduced;
            }
        }
    }
    if (hints.OnlySmaller)
        return {};
    // In full (or when the reduced decode failed, to say why): FreeImage's
    // row, with the guards it keeps for every format.
    return DecodeWithFreeImage(read, size, hints);
}

} // namespace pixquill
