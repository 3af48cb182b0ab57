#include "codec/RawDecoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <FreeImage.h>

#include "codec/ByteOrder.h"
#include "codec/RawFile.h"
#include "codec/ReducedJpeg.h"

namespace pixquill {
namespace {

// The bitmap turned as an EXIF orientation says, as FreeImage's JPEG reader
// turns a photo.
Bitmap Oriented(Bitmap bitmap, int orientation)
{
    FIBITMAP* dib = bitmap.get();
    const auto turned = [](FIBITMAP* source, double angle, bool flip) {
        Bitmap result(FreeImage_Rotate(source, angle));
        if (result && flip && !FreeImage_FlipVertical(result.get()))
            result.reset();
        return result;
    };
    switch (orientation) {
    case 2:
        return FreeImage_FlipHorizontal(dib) ? std::move(bitmap) : Bitmap();
    case 3:
        return turned(dib, 180, false);
    case 4:
        return FreeImage_FlipVertical(dib) ? std::move(bitmap) : Bitmap();
    case 5:
        return turned(dib, 90, true);
    case 6:
        return turned(dib, -90, false);
    case 7:
        return turned(dib, -90, true);
    case 8:
        return turned(dib, 90, false);
    default:
        return bitmap;
    }
}

// A preview stands for the picture when it shows all of it (the whole
// picture's aspect within 1 %: a letterboxed preview is off by far more) and,
// for a thumbnail, holds at least twice its size in both directions.
bool PreviewFits(std::int64_t width, std::int64_t height, UprightSize picture, const DecodeHints& hints)
{
    if (width <= 0 || height <= 0)
        return false;
    if (hints.Width > 0 && hints.Height > 0
        && (width < 2 * std::int64_t(hints.Width) || height < 2 * std::int64_t(hints.Height)))
        return false;
    const std::int64_t skew = std::abs(width * picture.Height - height * std::int64_t(picture.Width));
    return 100 * skew <= height * std::int64_t(picture.Width);
}

DecodedImage Failed(QString why)
{
    DecodedImage failed;
    failed.Error = std::move(why);
    return failed;
}

// The embedded JPEG preview, decoded as any JPEG file is, upright.
DecodedImage JpegPreview(const std::uint8_t* bytes, std::int64_t length, int rawOrientation, UprightSize picture,
                         const DecodeHints& hints)
{
    const ByteReader read = [bytes, length](std::int64_t offset, void* out, std::int64_t size) -> std::int64_t {
        const std::int64_t n = std::clamp<std::int64_t>(length - offset, 0, size);
        if (n > 0 && offset >= 0)
            std::memcpy(out, bytes + offset, std::size_t(n));
        return offset >= 0 ? n : 0;
    };
    const JpegHeader header = ReadJpegHeader(read);
    if (!header.Ok)
        return Failed(QStringLiteral("the preview is not a JPEG"));
    // The JPEG decoder turns a preview by its own EXIF orientation; one that
    // has none is turned as the RAW is.
    const int orientation = header.OrientationTagged ? 1 : rawOrientation;
    const bool quarter = orientation >= 5;
    const int width = quarter ? header.Height : header.Width;
    const int height = quarter ? header.Width : header.Height;
    if (!PreviewFits(width, height, picture, hints))
        return Failed(QStringLiteral("the preview is too small"));
    // Under the hints as the decoder sees the preview, before our turn.
    DecodeHints asStored = hints;
    if (quarter)
        std::swap(asStored.Width, asStored.Height);
    asStored.Extension = "jpg";
    DecodedImage decoded = DecodeJpeg(read, length, asStored);
    if (!decoded.Image)
        return decoded;
    decoded.Image = Oriented(std::move(decoded.Image), orientation);
    if (!decoded.Image)
        return Failed(QStringLiteral("not enough memory for the image"));
    return decoded;
}

// An embedded preview stored as 8-bit samples, upright.
DecodedImage BitmapPreview(const RawFile::Preview& stored, int rawOrientation, UprightSize picture,
                           const DecodeHints& hints)
{
    const int width = stored.Width;
    const int height = stored.Height;
    const int colors = stored.Colors;
    if (width <= 0 || height <= 0 || (colors != 1 && colors != 3) || TooLarge(width, height)
        || std::uint64_t(stored.Length) < std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(colors))
        return Failed(QStringLiteral("unusable preview"));
    const bool quarter = rawOrientation >= 5;
    if (!PreviewFits(quarter ? height : width, quarter ? width : height, picture, hints))
        return Failed(QStringLiteral("the preview is too small"));
    Bitmap bitmap(FreeImage_Allocate(width, height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!bitmap)
        return Failed(QStringLiteral("not enough memory for the image"));
    const std::uint8_t* in = stored.Data;
    for (int y = 0; y < height; ++y) {
        BYTE* out = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
        for (int x = 0; x < width; ++x, in += colors, out += 3) {
            out[FI_RGBA_RED] = in[0];
            out[FI_RGBA_GREEN] = in[colors == 3 ? 1 : 0];
            out[FI_RGBA_BLUE] = in[colors == 3 ? 2 : 0];
        }
    }
    DecodedImage decoded;
    decoded.Image = Oriented(std::move(bitmap), rawOrientation);
    if (!decoded.Image)
        return Failed(QStringLiteral("not enough memory for the image"));
    return decoded;
}

// The largest preview, when it fits the hints; null otherwise: a preview
// that cannot be read costs the time, not the picture.
DecodedImage Preview(RawFile& file, UprightSize picture, const DecodeHints& hints)
{
    if (!file.HasPreview())
        return {};
    // Its declared size, where it has one, spares unpacking one that is too
    // small whichever way it turns.
    const int tw = file.DeclaredPreviewWidth();
    const int th = file.DeclaredPreviewHeight();
    if (tw > 0 && th > 0 && !PreviewFits(tw, th, picture, hints) && !PreviewFits(th, tw, picture, hints))
        return {};
    const RawFile::Preview stored = file.UnpackPreview();
    DecodedImage preview;
    if (stored.Type == RawFile::Preview::Kind::Jpeg)
        preview = JpegPreview(stored.Data, stored.Length, file.Orientation(), picture, hints);
    else if (stored.Type == RawFile::Preview::Kind::Samples)
        preview = BitmapPreview(stored, file.Orientation(), picture, hints);
    return preview.Image ? std::move(preview) : DecodedImage{};
}

// The raw data rendered by LibRaw, upright: half-size when that still gives
// twice the thumbnail in both directions.
DecodedImage Render(RawFile& file, UprightSize picture, const DecodeHints& hints)
{
    const bool half = hints.Width > 0 && hints.Height > 0
                      && (picture.Width + 1) / 2 >= 2 * std::int64_t(hints.Width)
                      && (picture.Height + 1) / 2 >= 2 * std::int64_t(hints.Height);
    if (!file.Render(half))
        return Failed(file.Error());
    int width = 0, height = 0, colors = 0;
    file.RenderedFormat(width, height, colors);
    if (width <= 0 || height <= 0 || (colors != 1 && colors != 3))
        return Failed(QStringLiteral("cannot decode the image (unexpected rendered picture)"));
    if (TooLarge(std::uint64_t(width), std::uint64_t(height)))
        return Failed(QStringLiteral("image too large"));
    Bitmap bitmap = colors == 3 ? Bitmap(FreeImage_Allocate(width, height, 24, FI_RGBA_RED_MASK,
                                                            FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK))
                                : Bitmap(FreeImage_Allocate(width, height, 8));
    if (!bitmap)
        return Failed(QStringLiteral("not enough memory for the image"));
    if (colors == 1) {
        RGBQUAD* palette = FreeImage_GetPalette(bitmap.get());
        for (int i = 0; i < 256; ++i)
            palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    }
    // LibRaw writes rows top-down; FreeImage keeps them bottom-up, so the
    // copy starts at the last scan line and steps back.
    const int pitch = int(FreeImage_GetPitch(bitmap.get()));
    if (!file.CopyRendered(FreeImage_GetScanLine(bitmap.get(), height - 1), -pitch, FI_RGBA_RED == 2))
        return Failed(file.Error());
    DecodedImage decoded;
    decoded.Image = std::move(bitmap);
    return decoded;
}

struct TiffReader {
    const ByteReader& Read;
    bool Little;

    std::uint32_t U16(const std::uint8_t* p) const { return Little ? Le16(p) : Be16(p); }
    std::uint32_t U32(const std::uint8_t* p) const { return Little ? Le32(p) : Be32(p); }
};

struct DirectoryFacts {
    bool Raw = false;  // a DNGVersion tag, or a CFA or LinearRaw image
    bool Make = false;
    std::vector<std::uint32_t> SubDirectories;
    std::uint32_t Next = 0;
};

// The tags of one image directory that tell a raw file from a plain TIFF.
DirectoryFacts ReadDirectory(const TiffReader& tiff, std::uint32_t offset)
{
    DirectoryFacts facts;
    std::uint8_t count[2];
    if (!ReadExactly(tiff.Read, offset, count, 2))
        return facts;
    const std::uint32_t entries = std::min<std::uint32_t>(tiff.U16(count), 512);
    std::vector<std::uint8_t> table(std::size_t(entries) * 12 + 4);
    const std::int64_t got = tiff.Read(std::int64_t(offset) + 2, table.data(), std::int64_t(table.size()));
    const std::uint32_t complete = std::uint32_t(std::max<std::int64_t>(got, 0) / 12);
    for (std::uint32_t i = 0; i < std::min(entries, complete); ++i) {
        const std::uint8_t* entry = table.data() + 12 * i;
        const std::uint32_t tag = tiff.U16(entry);
        const std::uint32_t type = tiff.U16(entry + 2);
        const std::uint32_t values = tiff.U32(entry + 4);
        if (tag == 0xC612) { // DNGVersion
            facts.Raw = true;
        } else if (tag == 0x0106 && type == 3) { // PhotometricInterpretation
            const std::uint32_t photometric = tiff.U16(entry + 8);
            facts.Raw = facts.Raw || photometric == 32803 || photometric == 34892;
        } else if (tag == 0x010F) {
            facts.Make = true;
        } else if (tag == 0x014A && (type == 4 || type == 13) && values >= 1) { // SubIFDs
            const std::uint32_t kept = std::min<std::uint32_t>(values, 8);
            if (values == 1) {
                facts.SubDirectories.push_back(tiff.U32(entry + 8));
            } else {
                std::array<std::uint8_t, 32> offsets{};
                if (ReadExactly(tiff.Read, tiff.U32(entry + 8), offsets.data(), 4 * std::int64_t(kept))) {
                    for (std::uint32_t k = 0; k < kept; ++k)
                        facts.SubDirectories.push_back(tiff.U32(offsets.data() + 4 * k));
                }
            }
        }
    }
    if (complete > entries)
        facts.Next = tiff.U32(table.data() + 12 * std::size_t(entries));
    return facts;
}

// The first directories of a TIFF-structured file, their sub-directories
// included, where DNG and the cameras' TIFF formats keep their raw images;
// a file that names a camera and carries none there is raw when LibRaw
// reads it and knows that camera.
bool TiffCarriesRaw(const ByteReader& read, std::int64_t size, bool little)
{
    const TiffReader tiff{read, little};
    std::uint8_t header[8];
    if (!ReadExactly(read, 0, header, 8))
        return false;
    bool make = false;
    std::uint32_t offset = tiff.U32(header + 4);
    for (int directory = 0; directory < 4 && offset >= 8; ++directory) {
        const DirectoryFacts facts = ReadDirectory(tiff, offset);
        if (facts.Raw)
            return true;
        make = make || facts.Make;
        for (const std::uint32_t sub : facts.SubDirectories) {
            if (sub >= 8 && ReadDirectory(tiff, sub).Raw)
                return true;
        }
        offset = facts.Next;
    }
    if (!make)
        return false;
    const RawFile file(read, size);
    return file.Ok() && file.KnowsCamera();
}

bool StartsWith(const std::uint8_t* data, std::int64_t got, std::int64_t at, std::string_view text)
{
    return got >= at + std::int64_t(text.size()) && std::memcmp(data + at, text.data(), text.size()) == 0;
}

} // namespace

bool RecognisedAsRaw(const ByteReader& read, std::int64_t size)
{
    std::array<std::uint8_t, 16> head{};
    const std::int64_t got = read(0, head.data(), std::int64_t(head.size()));
    const auto starts = [&](std::int64_t at, std::string_view text) { return StartsWith(head.data(), got, at, text); };
    using namespace std::string_view_literals;
    // Fujifilm, Sigma's Foveon, Minolta, Olympus' and Panasonic's TIFF
    // variants, Phase One, Canon's CRW (a heap after "II" and its length)
    // and CR3 (an ISO-BMFF file type box of the brand "crx ").
    if (starts(0, "FUJIFILMCCD-RAW"sv) || starts(0, "FOVb"sv) || starts(0, "\0MRM"sv) || starts(0, "IIRO"sv)
        || starts(0, "IIRS"sv) || starts(0, "MMOR"sv) || starts(0, "IIU\0"sv) || starts(0, "IIII"sv)
        || starts(0, "MMMM"sv) || starts(6, "HEAPCCDR"sv) || starts(4, "ftypcrx "sv))
        return true;
    const bool little = starts(0, "II*\0"sv);
    if (!little && !starts(0, "MM\0*"sv))
        return false;
    // Canon's CR2: "CR" and its version right after the TIFF header.
    if (starts(8, "CR\2"sv))
        return true;
    return TiffCarriesRaw(read, size, little);
}

std::span<const std::string_view> RawExtensions()
{
    // The common cameras' first, then every other name LibRaw's files go by.
    static constexpr std::array<std::string_view, 44> extensions{
        "dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "raf", "orf", "rw2", "rwl", "pef", "srw",
        "x3f", "3fr", "fff", "erf", "kdc", "dcr", "mef", "mos", "mrw", "iiq", "bay", "bmq", "cap", "cine", "cs1",
        "dc2", "drf", "dsc", "ia", "k25", "kc2", "mdc", "ptx", "pxn", "qtk", "raw", "rdc", "rwz", "sti"};
    return extensions;
}

UprightSize RawUprightSize(const ByteReader& read, std::int64_t size)
{
    return RawFile(read, size).Picture();
}

DecodedImage DecodeRaw(const ByteReader& read, std::int64_t size, const DecodeHints& hints)
{
    RawFile file(read, size);
    if (!file.Ok())
        return Failed(file.Error());
    const UprightSize picture = file.Picture();
    if (TooLarge(file.RawWidth(), file.RawHeight())
        || TooLarge(std::uint64_t(std::max(picture.Width, 0)), std::uint64_t(std::max(picture.Height, 0))))
        return Failed(QStringLiteral("image too large"));
    if (!picture.Known())
        return Failed(QStringLiteral("cannot decode the image (no image size)"));
    if (DecodedImage preview = Preview(file, picture, hints); preview.Image)
        return preview;
    if (hints.OnlySmaller)
        return {};
    return Render(file, picture, hints);
}

void SwitchOffFreeImageRaw()
{
    static const bool switchedOff = [] {
        FreeImage_SetPluginEnabled(FIF_RAW, FALSE);
        return true;
    }();
    (void)switchedOff;
}

} // namespace pixquill
