#include "codec/FileQuirks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <FreeImage.h>

#include "codec/ByteOrder.h"
#include "codec/DecoderTable.h"
#include "codec/SequentialReader.h"

namespace pixquill {

namespace {

QByteArray ReadRange(const ByteReader& read, std::int64_t offset, std::int64_t n)
{
    QByteArray out;
    if (n <= 0 || offset < 0)
        return out;
    out.resize(static_cast<qsizetype>(n));
    const std::int64_t got = read(offset, out.data(), n);
    out.resize(static_cast<qsizetype>(std::max<std::int64_t>(0, got)));
    return out;
}

// ---------------------------------------------------------------------- BMP

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

struct BmpInfo {
    std::uint32_t headerSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::array<std::uint32_t, 3> masks {};
    std::int64_t pixelOffset = 0; // from the start of the (possibly headerless) content
    std::int64_t infoOffset = 0;
};

bool IsKnownInfoSize(std::uint32_t size)
{
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

std::optional<BmpInfo> ReadBmpInfo(const ByteReader& read, bool headerless)
{
    BmpInfo info;
    info.infoOffset = headerless ? 0 : 14;
    std::uint8_t h[56] {};
    if (!headerless) {
        std::uint8_t file[14];
        if (!ReadExactly(read, 0, file, 14) || file[0] != 'B' || file[1] != 'M')
            return std::nullopt;
        info.pixelOffset = Le32(file + 10);
    }
    if (!ReadExactly(read, info.infoOffset, h, 40))
        return std::nullopt;
    info.headerSize = Le32(h);
    if (!IsKnownInfoSize(info.headerSize))
        return std::nullopt;
    info.width = static_cast<std::int32_t>(Le32(h + 4));
    info.height = static_cast<std::int32_t>(Le32(h + 8));
    const std::uint32_t planes = Le16(h + 12);
    info.bitCount = Le16(h + 14);
    info.compression = Le32(h + 16);
    info.colorsUsed = Le32(h + 32);
    const std::uint32_t bits = info.bitCount;
    if (planes != 1 || !(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32))
        return std::nullopt;
    if (info.width <= 0 || info.height == 0 || info.height == INT32_MIN)
        return std::nullopt;
    if (bits <= 8 && info.colorsUsed > (1u << bits))
        return std::nullopt;
    const bool bitfields = info.compression == kBiBitfields || info.compression == kBiAlphaBitfields;
    std::int64_t after = info.infoOffset + info.headerSize;
    if (bitfields) {
        std::uint8_t m[12];
        // Larger headers hold the masks; a plain one is followed by them.
        const std::int64_t at = info.headerSize > 40 ? info.infoOffset + 40 : after;
        if (!ReadExactly(read, at, m, 12))
            return std::nullopt;
        info.masks = {Le32(m), Le32(m + 4), Le32(m + 8)};
        if (info.headerSize == 40)
            after += info.compression == kBiAlphaBitfields ? 16 : 12;
    }
    const std::uint32_t colours = bits <= 8 ? (info.colorsUsed ? info.colorsUsed : 1u << bits) : info.colorsUsed;
    if (headerless)
        info.pixelOffset = after + 4 * static_cast<std::int64_t>(colours);
    return info;
}

constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;

// Walks run-length BMP data: calls onEndOfLineBeforeEnd(offset) for every
// end-of-line code right before the end-of-bitmap code. False when the data
// ends in the middle of a code.
template <typename Found>
bool WalkBmpRle(const QByteArray& data, bool rle4, Found onEndOfLineBeforeEnd)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.constData());
    const qsizetype n = data.size();
    for (qsizetype i = 0; i + 1 < n;) {
        const std::uint8_t count = p[i];
        const std::uint8_t code = p[i + 1];
        if (count != 0) {
            i += 2;
        } else if (code == 0) {
            if (i + 3 < n && p[i + 2] == 0 && p[i + 3] == 1)
                onEndOfLineBeforeEnd(i);
            i += 2;
        } else if (code == 1) {
            return true;
        } else if (code == 2) {
            i += 4;
        } else {
            const qsizetype bytes = rle4 ? (code + 1) / 2 : code;
            i += 2 + bytes + (bytes & 1);
        }
    }
    return true;
}

// FreeImage takes an end-of-line code after the last row for an error, but
// writers commonly put one there before the end-of-bitmap code; it moves to
// a row that is never drawn, so leaving it out changes no pixel.
QByteArray WithoutFinalEndOfLine(const QByteArray& data, bool rle4)
{
    QByteArray out;
    qsizetype from = 0;
    WalkBmpRle(data, rle4, [&](qsizetype at) {
        out.append(data.constData() + from, at - from);
        from = at + 2;
    });
    out.append(data.constData() + from, data.size() - from);
    return out;
}

// Run-length data never needs more than this many bytes for its rows: at
// worst, literal runs of 3 pixels cost 6 bytes (RLE4: 4 bytes for 3 pixels
// packed in 2), plus an end-of-line code a row. Anything behind that is not
// the image's and is not read.
std::int64_t RleDataLimit(const BmpInfo& info)
{
    const std::int64_t rows = info.height < 0 ? -static_cast<std::int64_t>(info.height) : info.height;
    return 2 * static_cast<std::int64_t>(info.width) * rows + 4 * rows + 1024;
}

std::uint32_t PaletteEntries(const BmpInfo& info)
{
    if (info.bitCount <= 8)
        return info.colorsUsed ? info.colorsUsed : 1u << info.bitCount;
    return 0; // a palette beside true colour is only a display hint
}

// ---------------------------------------------------------------------- PSD

struct PsdLayout {
    int version = 1;
    std::uint32_t channels = 0;
    std::uint32_t height = 0;
    std::uint32_t width = 0;
    std::uint32_t depth = 0;
    std::uint32_t mode = 0;
    std::int64_t colourData = 0; // offset of the colour mode data
    std::uint32_t colourLength = 0;
    std::int64_t imageData = 0; // offset of the compression field
};

std::optional<PsdLayout> ReadPsdLayout(const ByteReader& read)
{
    std::uint8_t h[30];
    if (!ReadExactly(read, 0, h, 30) || std::memcmp(h, "8BPS", 4) != 0)
        return std::nullopt;
    PsdLayout psd;
    psd.version = static_cast<int>(Be16(h + 4));
    if (psd.version != 1 && psd.version != 2)
        return std::nullopt;
    psd.channels = Be16(h + 12);
    psd.height = Be32(h + 14);
    psd.width = Be32(h + 18);
    psd.depth = Be16(h + 22);
    psd.mode = Be16(h + 24);
    psd.colourLength = Be32(h + 26);
    psd.colourData = 30;
    std::int64_t at = 30 + static_cast<std::int64_t>(psd.colourLength);
    std::uint8_t length[8];
    if (!ReadExactly(read, at, length, 4)) // image resources
        return std::nullopt;
    at += 4 + static_cast<std::int64_t>(Be32(length));
    if (psd.version == 1) { // layers and masks
        if (!ReadExactly(read, at, length, 4))
            return std::nullopt;
        at += 4 + static_cast<std::int64_t>(Be32(length));
    } else {
        if (!ReadExactly(read, at, length, 8))
            return std::nullopt;
        const std::uint64_t big = std::uint64_t(Be32(length)) << 32 | Be32(length + 4);
        if (big > (std::uint64_t{1} << 62))
            return std::nullopt;
        at += 8 + static_cast<std::int64_t>(big);
    }
    psd.imageData = at;
    return psd;
}

} // namespace

std::optional<DeclaredSize> ReadBmpSize(const ByteReader& read, bool headerless)
{
    const auto info = ReadBmpInfo(read, headerless);
    if (!info)
        return std::nullopt;
    const std::int64_t height = info->height;
    return DeclaredSize{static_cast<std::uint64_t>(info->width), static_cast<std::uint64_t>(height < 0 ? -height : height),
                        std::max<std::uint32_t>(1, info->bitCount / 8)};
}

bool HasLargeBmpInfoHeader(const ByteReader& read)
{
    std::uint8_t h[18];
    if (!ReadExactly(read, 0, h, 18) || h[0] != 'B' || h[1] != 'M')
        return false;
    const std::uint32_t size = Le32(h + 14);
    return size > 40 && IsKnownInfoSize(size);
}

bool HasFinalEndOfLine(const ByteReader& read, std::int64_t fileSize)
{
    const auto info = ReadBmpInfo(read, false);
    if (!info || (info->compression != kBiRle8 && info->compression != kBiRle4))
        return false;
    const QByteArray data
        = ReadRange(read, info->pixelOffset, std::min(fileSize - info->pixelOffset, RleDataLimit(*info)));
    bool found = false;
    WalkBmpRle(data, info->compression == kBiRle4, [&found](qsizetype) { found = true; });
    return found;
}

bool IsHeaderlessDib(const ByteReader& read)
{
    return ReadBmpInfo(read, true).has_value();
}

std::optional<QByteArray> PlainBmp(const ByteReader& read, std::int64_t fileSize, bool headerless)
{
    const auto found = ReadBmpInfo(read, headerless);
    if (!found)
        return std::nullopt;
    const BmpInfo& info = *found;
    const bool bitfields = info.compression == kBiBitfields || info.compression == kBiAlphaBitfields;
    const std::uint32_t entries = PaletteEntries(info);
    const QByteArray palette = ReadRange(read, info.infoOffset + info.headerSize + (info.headerSize == 40 && bitfields ? (info.compression == kBiAlphaBitfields ? 16 : 12) : 0),
                                         4 * static_cast<std::int64_t>(entries));
    if (palette.size() != 4 * static_cast<qsizetype>(entries))
        return std::nullopt;

    const bool topDown = info.height < 0;
    const std::int64_t rows = topDown ? -static_cast<std::int64_t>(info.height) : info.height;
    const bool uncompressed = info.compression == kBiRgb || bitfields;
    // Run-length data may not be stored top-down: nothing sensible to undo.
    if (topDown && !uncompressed)
        return std::nullopt;
    const std::int64_t stride = ((static_cast<std::int64_t>(info.width) * info.bitCount + 31) / 32) * 4;
    if (info.pixelOffset <= 0 || info.pixelOffset >= fileSize)
        return std::nullopt;
    std::int64_t pixelBytes = fileSize - info.pixelOffset;
    pixelBytes = std::min(pixelBytes, uncompressed ? stride * rows : RleDataLimit(info));
    QByteArray pixels = ReadRange(read, info.pixelOffset, pixelBytes);
    if (pixels.size() != pixelBytes)
        return std::nullopt;
    if (info.compression == kBiRle8 || info.compression == kBiRle4)
        pixels = WithoutFinalEndOfLine(pixels, info.compression == kBiRle4);
    if (topDown) {
        // Turn the rows bottom-up, as every reader of a plain header expects;
        // a short last row stays short at the end.
        QByteArray flipped(pixels.size(), '\0');
        for (std::int64_t row = 0; row * stride < pixels.size(); ++row) {
            const std::int64_t length = std::min(stride, static_cast<std::int64_t>(pixels.size()) - row * stride);
            const std::int64_t to = (rows - 1 - row) * stride;
            if (to >= 0 && to + length <= flipped.size())
                std::memcpy(flipped.data() + to, pixels.constData() + row * stride, static_cast<std::size_t>(length));
        }
        pixels = std::move(flipped);
    }

    const std::uint32_t masksBytes = bitfields ? 12 : 0;
    const std::uint32_t offset = 14 + 40 + masksBytes + static_cast<std::uint32_t>(palette.size());
    QByteArray out;
    out.reserve(static_cast<qsizetype>(offset) + pixels.size());
    out.append("BM", 2);
    AppendLe32(out, static_cast<std::uint32_t>(std::min<std::int64_t>(offset + pixels.size(), UINT32_MAX)));
    AppendLe32(out, 0);
    AppendLe32(out, offset);
    AppendLe32(out, 40);
    AppendLe32(out, static_cast<std::uint32_t>(info.width));
    AppendLe32(out, static_cast<std::uint32_t>(rows));
    AppendLe16(out, 1);
    AppendLe16(out, info.bitCount);
    AppendLe32(out, bitfields ? kBiBitfields : info.compression);
    AppendLe32(out, uncompressed ? 0 : static_cast<std::uint32_t>(pixels.size()));
    AppendLe32(out, 2835); // 72 dpi, as the resolution carries no meaning here
    AppendLe32(out, 2835);
    AppendLe32(out, entries);
    AppendLe32(out, 0);
    if (bitfields) {
        for (std::uint32_t mask : info.masks)
            AppendLe32(out, mask);
    }
    out.append(palette);
    out.append(pixels);
    return out;
}

// ---------------------------------------------------------------------- CUR

std::vector<BytePatch> IconPatchesForCursor(const ByteReader& read)
{
    std::uint8_t h[6];
    if (!ReadExactly(read, 0, h, 6) || Le16(h) != 0 || Le16(h + 2) != 2)
        return {};
    const std::uint32_t count = Le16(h + 4);
    if (count == 0 || count > 256)
        return {};
    std::vector<BytePatch> patches {{2, QByteArray("\x01\x00", 2)}};
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t entry[16];
        const std::int64_t at = 6 + 16 * static_cast<std::int64_t>(i);
        if (!ReadExactly(read, at, entry, 16) || entry[3] != 0)
            return {};
        patches.push_back({at + 4, QByteArray("\x01\x00\x00\x00", 4)});
    }
    return patches;
}

// ---------------------------------------------------------------------- PCX

namespace {

struct PcxLayout {
    std::int64_t rows = 0;
    std::int64_t lineBytes = 0; // planes x bytes per plane line
};

std::optional<PcxLayout> ReadPcxLayout(const std::uint8_t* h)
{
    if (h[0] != 0x0A)
        return std::nullopt;
    const std::int64_t xmin = Le16(h + 4);
    const std::int64_t ymin = Le16(h + 6);
    const std::int64_t xmax = Le16(h + 8);
    const std::int64_t ymax = Le16(h + 10);
    const std::int64_t planes = h[65];
    const std::int64_t perPlane = Le16(h + 66);
    if (xmax < xmin || ymax < ymin || planes < 1 || perPlane < 1)
        return std::nullopt;
    return PcxLayout{ymax - ymin + 1, planes * perPlane};
}

} // namespace

bool IsUncompressedPcx(const ByteReader& read)
{
    std::uint8_t h[128];
    return ReadExactly(read, 0, h, 128) && h[2] == 0 && ReadPcxLayout(h).has_value();
}

std::optional<QByteArray> RleCodedPcx(const ByteReader& read, std::int64_t fileSize)
{
    std::uint8_t h[128];
    if (!ReadExactly(read, 0, h, 128))
        return std::nullopt;
    const auto layout = ReadPcxLayout(h);
    if (!layout)
        return std::nullopt;
    const std::int64_t dataBytes = layout->rows * layout->lineBytes;
    // More bytes a row than any image of sound size needs: not rebuilt.
    constexpr std::int64_t kMostRowBytes = std::int64_t{1} << 30;
    if (128 + dataBytes > fileSize || dataBytes > kMostRowBytes)
        return std::nullopt;
    QByteArray out(reinterpret_cast<const char*>(h), 128);
    out[2] = 1;
    QByteArray line;
    for (std::int64_t row = 0; row < layout->rows; ++row) {
        line = ReadRange(read, 128 + row * layout->lineBytes, layout->lineBytes);
        if (line.size() != layout->lineBytes)
            return std::nullopt;
        // Runs of up to 63 equal bytes; a single byte below 0xC0 stands alone.
        for (qsizetype i = 0; i < line.size();) {
            const char value = line[i];
            qsizetype run = 1;
            while (i + run < line.size() && run < 63 && line[i + run] == value)
                ++run;
            if (run > 1 || static_cast<std::uint8_t>(value) >= 0xC0)
                out.append(static_cast<char>(0xC0 | run));
            out.append(value);
            i += run;
        }
    }
    out.append(ReadRange(read, 128 + dataBytes, fileSize - 128 - dataBytes));
    return out;
}

// ---------------------------------------------------------------------- PSD

bool PsdImageDataFits(const ByteReader& read, std::int64_t fileSize)
{
    const auto psd = ReadPsdLayout(read);
    if (!psd)
        return true; // not ours to judge: FreeImage refuses it on its own
    std::uint8_t compression[2];
    if (!ReadExactly(read, psd->imageData, compression, 2))
        return false;
    const std::int64_t rows = static_cast<std::int64_t>(psd->channels) * psd->height;
    const std::int64_t rowBytes = (static_cast<std::int64_t>(psd->width) * psd->depth + 7) / 8;
    if (Be16(compression) == 0) // raw rows: they must all be there
        return psd->imageData + 2 + rows * rowBytes <= fileSize;
    if (Be16(compression) != 1)
        return true;
    const int countBytes = psd->version == 1 ? 2 : 4;
    std::int64_t dataAt = psd->imageData + 2 + rows * countBytes;
    if (dataAt > fileSize)
        return false;
    // The counts first, then every row's run-length data behind them.
    SequentialReader counts(read, psd->imageData + 2);
    SequentialReader data(read, dataAt);
    for (std::int64_t row = 0; row < rows; ++row) {
        std::int64_t count = 0;
        for (int b = 0; b < countBytes; ++b) {
            const int byte = counts.Next();
            if (byte < 0)
                return false;
            count = count << 8 | byte;
        }
        std::int64_t decoded = 0;
        while (count > 0) {
            const int n = data.Next();
            if (n < 0)
                return false;
            --count;
            if (n < 128) { // n + 1 bytes as they are
                decoded += n + 1;
                if (count < n + 1 || !data.Skip(n + 1))
                    return false;
                count -= n + 1;
            } else if (n > 128) { // the next byte 257 - n times
                decoded += 257 - n;
                if (count < 1 || data.Next() < 0)
                    return false;
                count -= 1;
            }
            if (decoded > rowBytes)
                return false;
        }
    }
    return true;
}

std::optional<std::array<std::uint8_t, 768>> PsdIndexedPalette(const ByteReader& read)
{
    const auto psd = ReadPsdLayout(read);
    constexpr std::uint32_t kIndexed = 2;
    if (!psd || psd->mode != kIndexed || psd->colourLength != 768)
        return std::nullopt;
    std::array<std::uint8_t, 768> palette {};
    if (!ReadExactly(read, psd->colourData, palette.data(), 768))
        return std::nullopt;
    return palette;
}

// ---------------------------------------------------------------------- TGA

bool TgaImageDataFits(const ByteReader& read, std::int64_t fileSize)
{
    std::uint8_t h[18];
    if (!ReadExactly(read, 0, h, 18))
        return false;
    const int type = h[2];
    const bool runLength = type == 9 || type == 10 || type == 11;
    if (!runLength && type != 1 && type != 2 && type != 3)
        return true;
    const std::int64_t mapBytes = h[1] ? static_cast<std::int64_t>(Le16(h + 5)) * ((h[7] + 7) / 8) : 0;
    const std::int64_t pixels = static_cast<std::int64_t>(Le16(h + 12)) * Le16(h + 14);
    const std::int64_t pixelSize = (h[16] + 7) / 8;
    if (pixelSize < 1)
        return false;
    const std::int64_t start = 18 + h[0] + mapBytes;
    if (start > fileSize)
        return false;
    if (!runLength) // FreeImage would fill missing rows with zeros and call it a picture
        return start + pixels * pixelSize <= fileSize;
    SequentialReader data(read, start);
    for (std::int64_t seen = 0; seen < pixels;) {
        const int packet = data.Next();
        if (packet < 0)
            return false;
        const std::int64_t count = (packet & 0x7F) + 1;
        if (!data.Skip(packet & 0x80 ? pixelSize : count * pixelSize))
            return false;
        seen += count;
    }
    return true;
}

// ---------------------------------------------------------------------- XBM

bool XbmDataFits(const ByteReader& read)
{
    const auto size = ReadDeclaredSize(FIF_XBM, read);
    if (!size)
        return true; // refused on its own before this
    // Data values are bytes, or 16-bit words in the old X10 form.
    std::string head(4096, '\0');
    head.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, read(0, head.data(), 4096))));
    const std::size_t open = head.find('{');
    if (open == std::string::npos)
        return false;
    const bool words = head.rfind("short", open) != std::string::npos;
    const std::uint64_t perRow = words ? (size->Width + 15) / 16 : (size->Width + 7) / 8;
    const std::uint64_t needed = perRow * size->Height;
    // Every value complete, and the closing brace after them: the reader
    // stops only there.
    SequentialReader data(read, static_cast<std::int64_t>(open) + 1);
    std::uint64_t values = 0;
    for (int previous = 0, c = data.Next(); c >= 0; previous = c, c = data.Next()) {
        if ((c == 'x' || c == 'X') && previous == '0')
            ++values;
        else if (c == '}')
            return values >= needed;
    }
    return false;
}

// ----------------------------------------------------- the order they apply in

ByteReader QuirksBeforeDetection(const ByteReader& read)
{
    std::vector<BytePatch> patches = IconPatchesForCursor(read);
    if (patches.empty())
        return read;
    return [read, patches = std::move(patches)](std::int64_t offset, void* out, std::int64_t size) {
        const std::int64_t got = read(offset, out, size);
        for (const BytePatch& patch : patches) {
            const std::int64_t from = std::max(offset, patch.Offset);
            const std::int64_t to
                = std::min(offset + got, patch.Offset + static_cast<std::int64_t>(patch.Bytes.size()));
            if (from < to)
                std::memcpy(static_cast<char*>(out) + (from - offset), patch.Bytes.constData() + (from - patch.Offset),
                            static_cast<std::size_t>(to - from));
        }
        return got;
    };
}

QuirkFix QuirksBeforeSizeCheck(int format, const ByteReader& read, std::int64_t fileSize)
{
    QuirkFix fix;
    fix.Format = format;
    const bool headerless = format == FIF_UNKNOWN && IsHeaderlessDib(read);
    if (format != FIF_BMP && !headerless)
        return fix;
    const auto size = ReadBmpSize(read, headerless);
    if (size && TooLarge(size->Width, size->Height)) {
        fix.Refusal = QStringLiteral("image too large");
        return fix;
    }
    if (headerless || HasLargeBmpInfoHeader(read) || HasFinalEndOfLine(read, fileSize)) {
        fix.Rebuilt = PlainBmp(read, fileSize, headerless);
        if (!fix.Rebuilt)
            fix.Refusal = QStringLiteral("cannot decode the image (damaged bitmap header)");
    }
    fix.Format = FIF_BMP;
    return fix;
}

QuirkFix QuirksBeforeDecode(int format, const ByteReader& read, std::int64_t fileSize)
{
    QuirkFix fix;
    fix.Format = format;
    if (format == FIF_PSD && !PsdImageDataFits(read, fileSize))
        fix.Refusal = QStringLiteral("cannot decode the image (damaged image data)");
    else if (format == FIF_TARGA && !TgaImageDataFits(read, fileSize))
        fix.Refusal = QStringLiteral("cannot decode the image (image data cut short)");
    else if (format == FIF_XBM && !XbmDataFits(read))
        fix.Refusal = QStringLiteral("cannot decode the image (image data cut short)");
    else if (format == FIF_PCX && IsUncompressedPcx(read)) {
        fix.Rebuilt = RleCodedPcx(read, fileSize);
        if (!fix.Rebuilt)
            fix.Refusal = QStringLiteral("cannot decode the image (image data cut short)");
    }
    return fix;
}

void QuirksAfterDecode(int format, const ByteReader& read, FIBITMAP* bitmap)
{
    // FreeImage hands indexed PSD images over with a grey ramp for a palette.
    if (format != FIF_PSD || FreeImage_GetBPP(bitmap) != 8 || FreeImage_GetImageType(bitmap) != FIT_BITMAP)
        return;
    const auto psdPalette = PsdIndexedPalette(read);
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    if (!psdPalette || !palette)
        return;
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{(*psdPalette)[512 + i], (*psdPalette)[256 + i], (*psdPalette)[i], 0};
}

} // namespace pixquill
