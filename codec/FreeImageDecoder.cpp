#include "codec/FreeImageDecoder.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <FreeImage.h>

#include "codec/ColourProfile.h"
#include "codec/FileQuirks.h"
#include "codec/ImageHeader.h"
#include "codec/InputSource.h"
#include "codec/LibraryMessages.h"
#include "codec/PngColourProfile.h"
#include "codec/ReducedJpeg.h"

namespace pixquill {

namespace {

DecodedImage Refused(QString error)
{
    DecodedImage refused;
    refused.Error = std::move(error);
    return refused;
}

// FreeImage marks a bitmap (or a header) read as CMYK samples in its profile
// record, even when the file carries no profile.
bool IsCmykSamples(FIBITMAP* bitmap)
{
    const FIICCPROFILE* marked = FreeImage_GetICCProfile(bitmap);
    return marked && (marked->flags & FIICC_COLOR_IS_CMYK);
}

} // namespace

bool RecognisedByFreeImage(const ByteReader& read, std::int64_t size)
{
    const ByteReader patched = QuirksBeforeDetection(read);
    InputSource source(patched, size);
    return FreeImage_GetFileTypeFromHandle(source.Io(), source.Handle(), 0) != FIF_UNKNOWN
        || IsHeaderlessDib(patched);
}

std::span<const std::string_view> FreeImageExtensions()
{
    // Built once from FreeImage's plugin table, as its own look-up by file
    // name reads it: each format's name, then its extensions.
    static const auto table = [] {
        struct Table {
            std::vector<std::string> Texts;
            std::vector<std::string_view> Views;
        } made;
        for (int fif = 0; fif < FreeImage_GetFIFCount(); ++fif) {
            const auto format = static_cast<FREE_IMAGE_FORMAT>(fif);
            if (const char* name = FreeImage_GetFormatFromFIF(format))
                made.Texts.emplace_back(name);
            const char* list = FreeImage_GetFIFExtensionList(format);
            std::string_view rest = list ? list : "";
            while (!rest.empty()) {
                const std::size_t comma = std::min(rest.find(','), rest.size());
                if (comma > 0)
                    made.Texts.emplace_back(rest.substr(0, comma));
                rest.remove_prefix(std::min(comma + 1, rest.size()));
            }
        }
        made.Views.assign(made.Texts.begin(), made.Texts.end());
        return made;
    }();
    return table.Views;
}

QByteArray IccProfileOf(FIBITMAP* bitmap)
{
    const FIICCPROFILE* profile = bitmap ? FreeImage_GetICCProfile(bitmap) : nullptr;
    if (!profile || !profile->data || profile->size == 0)
        return {};
    return QByteArray(static_cast<const char*>(profile->data), static_cast<qsizetype>(profile->size));
}

DecodedImage DecodeWithFreeImage(const ByteReader& fileRead, std::int64_t fileSize, const DecodeHints& hints)
{
    const LibraryMessages messages;
    const ByteReader read = QuirksBeforeDetection(fileRead);
    InputSource file(read, fileSize);
    const QuirkFix early
        = QuirksBeforeSizeCheck(FreeImage_GetFileTypeFromHandle(file.Io(), file.Handle(), 0), read, fileSize);
    if (!early.Refusal.isEmpty())
        return Refused(early.Refusal);
    auto format = static_cast<FREE_IMAGE_FORMAT>(early.Format);
    if (format == FIF_UNKNOWN) {
        // FreeImage walks its extension lists with strtok, whose state is
        // shared by every thread: one lookup at a time, or two images made
        // at once on this process's threads read each other's lists.
        static std::mutex lookup;
        const std::lock_guard lock(lookup);
        format = FreeImage_GetFIFFromFilename(hints.Extension.c_str());
    }
    if (format == FIF_UNKNOWN)
        return Refused(QStringLiteral("unrecognised image format"));
    if (!FreeImage_FIFSupportsReading(format))
        return Refused(QStringLiteral("image format cannot be read"));

    // Slow, exact JPEG decoding, turned upright as the camera recorded. A
    // TIFF's header is read with its CMYK samples asked for: FreeImage hands
    // a CMYK TIFF's profile over only with them, never with the RGB it makes
    // of them by formula.
    int flags = format == FIF_JPEG ? (JPEG_ACCURATE | JPEG_EXIFROTATE) : 0;
    const int headerFlags = format == FIF_TIFF ? TIFF_CMYK : flags;

    if (HasHeaderReader(format)) {
        const auto size = ReadDeclaredSize(format, read);
        if (!size)
            return Refused(QStringLiteral("cannot decode the image (unreadable header)"));
        // Decoders keep several samples a pixel; a header that asks for more
        // than a few per pixel of the largest image is as hostile.
        if (size->Pixels() > kMaxPixels || size->Pixels() > kMaxPixels * 4 / std::max<std::uint64_t>(1, size->Channels))
            return Refused(QStringLiteral("image too large"));
    }
    std::unique_ptr<InputSource> memory;
    InputSource* source = &file;
    const auto useRebuilt = [&](QByteArray bytes) {
        memory = std::make_unique<InputSource>(std::move(bytes));
        source = memory.get();
    };
    if (early.Rebuilt)
        useRebuilt(*early.Rebuilt);

    Bitmap bitmap;
    // JPEG sizes come from the markers where they can: FreeImage's
    // header-only load decodes most of a progressive file.
    const JpegHeader jpeg = format == FIF_JPEG && !early.Rebuilt ? ReadJpegHeader(read) : JpegHeader{};
    if (jpeg.Ok) {
        if (TooLarge(std::uint64_t(jpeg.StoredWidth), std::uint64_t(jpeg.StoredHeight)))
            return Refused(QStringLiteral("image too large"));
    } else if (FreeImage_FIFSupportsNoPixels(format)) {
        // Read the header alone first, so that a hostile size is refused
        // before anything the size of the image is allocated. A header it
        // cannot read alone, it would not decode either.
        source->Rewind();
        Bitmap header(FreeImage_LoadFromHandle(format, source->Io(), source->Handle(), headerFlags | FIF_LOAD_NOPIXELS));
        if (!header)
            return Refused(messages.Explain(QStringLiteral("cannot decode the image")));
        if (TooLarge(FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get())))
            return Refused(QStringLiteral("image too large"));
        // FreeImage turns CMYK into RGB by a formula that knows no inks; a
        // CMYK TIFF with a CMYK profile is decoded as its samples, which go
        // through the profile. Without one, the formula stands.
        if (format == FIF_TIFF && IsCmykSamples(header.get()) && IsCmykProfile(IccProfileOf(header.get())))
            flags |= TIFF_CMYK;
        // A reader that ignores the request has decoded everything already.
        if (FreeImage_HasPixels(header.get()))
            bitmap = std::move(header);
    }

    const QuirkFix late = QuirksBeforeDecode(format, read, fileSize);
    if (!late.Refusal.isEmpty())
        return Refused(late.Refusal);
    if (late.Rebuilt) {
        bitmap.reset();
        useRebuilt(*late.Rebuilt);
    }

    if (!bitmap) {
        source->Rewind();
        bitmap.reset(FreeImage_LoadFromHandle(format, source->Io(), source->Handle(), flags));
    }
    if (!bitmap || !FreeImage_HasPixels(bitmap.get()))
        return Refused(messages.Explain(QStringLiteral("cannot decode the image")));
    QuirksAfterDecode(format, read, bitmap.get());

    DecodedImage decoded;
    // libjpeg goes on past data cut short or damaged and only warns; the
    // picture is shown all the same, the warning said beside it.
    decoded.Warning = messages.Warning();
    decoded.IccProfile = IccProfileOf(bitmap.get());
    // FreeImage reads PNG files' pixels but not their profile.
    if (decoded.IccProfile.isEmpty() && format == FIF_PNG)
        decoded.IccProfile = ReadPngIccProfile(read, fileSize);
    // A JPEG's profile shows only once it is decoded: with a CMYK one, the
    // file is decoded again as its CMYK samples (a TIFF's were asked for from
    // its header).
    if (format == FIF_JPEG && IsCmykProfile(decoded.IccProfile)) {
        source->Rewind();
        Bitmap cmyk(FreeImage_LoadFromHandle(format, source->Io(), source->Handle(), flags | JPEG_CMYK));
        if (cmyk && FreeImage_HasPixels(cmyk.get()) && IsCmykSamples(cmyk.get()))
            bitmap = std::move(cmyk);
    }
    decoded.Image = std::move(bitmap);
    return decoded;
}

} // namespace pixquill
