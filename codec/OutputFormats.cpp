#include "codec/OutputFormats.h"

#include <FreeImage.h>

namespace pixquill {

// The table and the saver speak FreeImage's numbers without its header; they
// must be FreeImage's own.
static_assert(kFifUnknown == FIF_UNKNOWN);
static_assert(kFifBmp == FIF_BMP);
static_assert(kFifIco == FIF_ICO);
static_assert(kFifJpeg == FIF_JPEG);
static_assert(kFifPng == FIF_PNG);
static_assert(kFifTarga == FIF_TARGA);
static_assert(kFifTiff == FIF_TIFF);
static_assert(kFifGif == FIF_GIF);
static_assert(kFifWebp == FIF_WEBP);
static_assert(kSaveFlagsTiffUncompressed == TIFF_NONE);
// Our own codes must stay clear of every FreeImage code.
static_assert(kOwnFormatAvif > FIF_JXR && kOwnFormatJxl > FIF_JXR);

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

std::optional<OutputFormatEntry> OutputFormatOfCode(int formatCode)
{
    for (const OutputFormatEntry& entry : kOutputFormatTable) {
        if (entry.FormatCode == formatCode)
            return entry;
    }
    return std::nullopt;
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
