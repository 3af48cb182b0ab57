#include "codec/OutputFormats.h"

#include <FreeImage.h>

#include "codec/AvifEncoder.h"
#include "codec/Encoders.h"
#include "codec/JxlEncoder.h"
#include "codec/KeptMetadata.h"

namespace pixquill {

namespace {

// The encoders of the rows FreeImage does not write, as the rows call them.
bool WriteIcon(FileStream& stream, FIBITMAP* bitmap, const OutputFormatEntry&, int, const KeptMetadata&)
{
    return EncodeIcon(stream, bitmap);
}

bool WriteAvif(FileStream& stream, FIBITMAP* bitmap, const OutputFormatEntry&, int quality,
               const KeptMetadata& metadata)
{
    return EncodeAvif(stream, bitmap, quality, metadata);
}

bool WriteJxl(FileStream& stream, FIBITMAP* bitmap, const OutputFormatEntry&, int quality,
              const KeptMetadata& metadata)
{
    return EncodeJxl(stream, bitmap, quality, metadata);
}

// FreeImage's TIFF_NONE: no compression.
constexpr int kTiffUncompressed = TIFF_NONE;
// Rows whose files carry EXIF and XMP.
constexpr bool kMetadata = true;

constexpr auto kOutputFormatTable = std::to_array<OutputFormatEntry>({
    {"Windows or OS2 BMP(*.bmp)", "bmp", ".bmp", FormatConversion::AsCaptured, EncodeWithFreeImage, FIF_BMP},
    {"Compuserve GIF(*.gif)", "gif", ".gif", FormatConversion::To24BitsWuPalette, EncodeWithFreeImage, FIF_GIF},
    // FreeImage writes icons only for square sides 16 to 256: WriteIcon makes
    // any other size up to 256 a PNG-compressed icon.
    {"Icon File(*.ico)", "ico", ".ico", FormatConversion::To24Bits, WriteIcon, FIF_ICO, 0, 0, 256, "icons"},
    {"JPEG(*.jpg)", "jpg", ".jpg", FormatConversion::To24Bits, EncodeWithFreeImage, FIF_JPEG, 0,
     kJpegDefaultQuality, 0, nullptr, kMetadata},
    {"Portable Network Graphics(*.png)", "png", ".png", FormatConversion::To24Bits, EncodeWithFreeImage, FIF_PNG, 0,
     0, 0, nullptr, kMetadata},
    {"Truevision Targa(*.tga)", "tga", ".tga", FormatConversion::AsCapturedOpaque, EncodeWithFreeImage, FIF_TARGA},
    {"Tagged Image File Format(*.tif)", "tif", ".tif", FormatConversion::To24Bits, EncodeWithFreeImage, FIF_TIFF,
     kTiffUncompressed, 0, 0, nullptr, kMetadata},
    // For web pages: WebP is FreeImage's own; AVIF (libheif's AV1 encoder)
    // and JPEG XL (libjxl) have encoders of their own.
    {"WebP(*.webp)", "webp", ".webp", FormatConversion::To24Bits, EncodeWithFreeImage, FIF_WEBP, 0,
     kWebpDefaultQuality, 0, nullptr, kMetadata},
    {"AV1 Image File Format(*.avif)", "avif", ".avif", FormatConversion::To24Bits, WriteAvif, -1, 0,
     kAvifDefaultQuality, 0, nullptr, kMetadata},
    {"JPEG XL(*.jxl)", "jxl", ".jxl", FormatConversion::To24Bits, WriteJxl, -1, 0, kJxlDefaultQuality, 0, nullptr,
     kMetadata},
});
static_assert(kOutputFormatTable.size() == kOutputFormatCount);

} // namespace

bool OutputFormatEntry::Encode(FileStream& stream, FIBITMAP* bitmap, int askedQuality,
                               const KeptMetadata& metadata) const
{
    return Encoder(stream, bitmap, *this, EncoderQuality(*this, askedQuality),
                   CarriesMetadata ? metadata : KeptMetadata{});
}

const std::array<OutputFormatEntry, kOutputFormatCount>& OutputFormats()
{
    return kOutputFormatTable;
}

std::optional<OutputFormatEntry> OutputFormatAt(int index)
{
    if (index < 0 || index >= kOutputFormatCount)
        return std::nullopt;
    return kOutputFormatTable[static_cast<std::size_t>(index)];
}

int EncoderQuality(const OutputFormatEntry& entry, int asked)
{
    if (entry.DefaultQuality == 0)
        return 0;
    return asked >= 1 && asked <= 100 ? asked : entry.DefaultQuality;
}

QString OutputExtensionAt(int index)
{
    const auto entry = OutputFormatAt(index);
    return entry ? QString::fromLatin1(entry->Extension) : QString();
}

} // namespace pixquill
