#include "codec/MemoryEstimate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include <QFile>

#include "codec/ByteOrder.h"
#include "codec/DecoderTable.h"
#include "codec/InputSource.h"
#include "codec/ReducedJpeg.h"

namespace pixquill {

namespace {

struct Sized {
    std::uint64_t Width = 0;
    std::uint64_t Height = 0;
    bool Deep = false;

    void Keep(std::uint64_t width, std::uint64_t height, bool deep)
    {
        if (width * height > Width * Height) {
            Width = width;
            Height = height;
        }
        Deep = Deep || deep;
    }
};

// ISOBMFF boxes: [size][type], a size of 1 followed by a 64-bit size, 0 for
// "to the end of the enclosing box".
struct Box {
    std::int64_t Start = 0;
    std::int64_t Body = 0; // where the contents begin
    std::int64_t End = 0;
    std::array<char, 4> Type{};
};

bool ReadBox(const ByteReader& read, std::int64_t at, std::int64_t limit, Box& box)
{
    std::uint8_t head[16];
    if (limit - at < 8 || !ReadExactly(read, at, head, 8))
        return false;
    std::uint64_t length = Be32(head);
    std::int64_t body = at + 8;
    if (length == 1) {
        if (limit - at < 16 || !ReadExactly(read, at + 8, head + 8, 8))
            return false;
        length = Be64(head + 8);
        body = at + 16;
    } else if (length == 0) {
        length = static_cast<std::uint64_t>(limit - at);
    }
    if (length < static_cast<std::uint64_t>(body - at) || length > static_cast<std::uint64_t>(limit - at))
        return false;
    box.Start = at;
    box.Body = body;
    box.End = at + static_cast<std::int64_t>(length);
    std::memcpy(box.Type.data(), head + 4, 4);
    return true;
}

// The first child of type `type` between from and to.
bool FindBox(const ByteReader& read, std::int64_t from, std::int64_t to, const char* type, Box& found)
{
    // Enough for any real file's level; a file of many tiny boxes is no image.
    constexpr int kMostBoxes = 4096;
    Box box;
    for (int i = 0; i < kMostBoxes && ReadBox(read, from, to, box); ++i) {
        if (std::memcmp(box.Type.data(), type, 4) == 0) {
            found = box;
            return true;
        }
        from = box.End;
    }
    return false;
}

// The largest image a HEIF's items declare ('ispe'): a grid's own size, not
// its tiles'; more than 8 bits when any 'pixi' says so.
Sized HeifSize(const ByteReader& read, std::int64_t size)
{
    Sized sized;
    Box meta;
    Box iprp;
    Box ipco;
    // 'meta' is a full box: version and flags come before its children.
    if (!FindBox(read, 0, size, "meta", meta) || !FindBox(read, meta.Body + 4, meta.End, "iprp", iprp)
        || !FindBox(read, iprp.Body, iprp.End, "ipco", ipco))
        return sized;
    std::int64_t at = ipco.Body;
    Box property;
    for (int i = 0; i < 4096 && ReadBox(read, at, ipco.End, property); ++i, at = property.End) {
        std::uint8_t body[12];
        if (std::memcmp(property.Type.data(), "ispe", 4) == 0 && property.End - property.Body >= 12
            && ReadExactly(read, property.Body, body, 12)) {
            sized.Keep(Be32(body + 4), Be32(body + 8), false);
        } else if (std::memcmp(property.Type.data(), "pixi", 4) == 0 && property.End - property.Body >= 6
                   && ReadExactly(read, property.Body, body, 6)) {
            sized.Deep = sized.Deep || body[5] > 8;
        }
    }
    return sized;
}

Sized PngSize(const ByteReader& read)
{
    std::uint8_t head[26];
    if (!ReadExactly(read, 0, head, 26) || std::memcmp(head + 12, "IHDR", 4) != 0)
        return {};
    Sized sized;
    sized.Keep(Be32(head + 16), Be32(head + 20), head[24] > 8);
    return sized;
}

// The largest image of a TIFF's directory chain and the directories its
// first ones point at (a camera file's full-size picture is often one of
// those, behind a small preview).
Sized TiffSize(const ByteReader& read, std::int64_t size)
{
    std::uint8_t head[8];
    if (!ReadExactly(read, 0, head, 8))
        return {};
    const bool little = head[0] == 'I';
    const auto u16 = [little](const std::uint8_t* p) { return little ? Le16(p) : Be16(p); };
    const auto u32 = [little](const std::uint8_t* p) { return little ? Le32(p) : Be32(p); };
    Sized sized;
    std::vector<std::uint32_t> pending{u32(head + 4)};
    // A handful of directories is all a real file holds; loops end here too.
    for (int visited = 0; visited < 16 && !pending.empty(); ++visited) {
        const std::uint32_t at = pending.back();
        pending.pop_back();
        std::uint8_t countBytes[2];
        if (at < 8 || at >= size || !ReadExactly(read, at, countBytes, 2))
            continue;
        const std::uint32_t count = std::min<std::uint32_t>(u16(countBytes), 512);
        std::vector<std::uint8_t> entries(std::size_t{count} * 12 + 4);
        if (!ReadExactly(read, at + 2, entries.data(), static_cast<std::int64_t>(entries.size())))
            continue;
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        bool deep = false;
        for (std::uint32_t e = 0; e < count; ++e) {
            const std::uint8_t* entry = entries.data() + std::size_t{e} * 12;
            const std::uint32_t tag = u16(entry);
            const std::uint32_t type = u16(entry + 2);
            // A SHORT value sits in the first two bytes of the value field.
            const std::uint32_t value = type == 3 ? u16(entry + 8) : u32(entry + 8);
            if (tag == 256)
                width = value;
            else if (tag == 257)
                height = value;
            else if (tag == 258 && u32(entry + 4) <= 2 && type == 3)
                deep = value > 8;
            else if (tag == 330 && u32(entry + 4) == 1)
                pending.push_back(value);
        }
        sized.Keep(width, height, deep);
        pending.push_back(u32(entries.data() + std::size_t{count} * 12));
    }
    return sized;
}

} // namespace

std::uint64_t PeakBytesPerPixel(EstimateKind kind, bool deep)
{
    // Measured with bench/memory-budget.sh: an 8-bit 48-megapixel JPEG, PNG
    // or TIFF peaks at 7.1 bytes a pixel (FreeImage's 24-bit picture beside
    // the 32-bit loading surface), and so does a 16,384 x 16,384 HEIC grid
    // (libheif's 24-bit picture, then ours beside the surface). Deeper
    // samples are kept at 16 bits: 3 bytes more a pixel for the decoded
    // picture, 6 where libheif holds its own at that depth too.
    switch (kind) {
    case EstimateKind::Jpeg:
        return 8;
    case EstimateKind::Png:
    case EstimateKind::Tiff:
        return deep ? 11 : 8;
    case EstimateKind::Heif:
        return deep ? 14 : 8;
    case EstimateKind::Unknown:
        break;
    }
    return deep ? 14 : 8;
}

MemoryEstimate EstimateFromHeader(const ByteReader& read, std::int64_t size)
{
    std::uint8_t magic[12] = {};
    if (size < 12 || !ReadExactly(read, 0, magic, 12))
        return {EstimateKind::Unknown, 0, 0, false, kUnknownImageBytes};
    MemoryEstimate estimate;
    Sized sized;
    if (magic[0] == 0xFF && magic[1] == 0xD8) {
        estimate.Kind = EstimateKind::Jpeg;
        const JpegHeader jpeg = ReadJpegHeader(read);
        if (jpeg.Ok)
            sized.Keep(std::uint64_t(jpeg.StoredWidth), std::uint64_t(jpeg.StoredHeight), false);
    } else if (std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) {
        estimate.Kind = EstimateKind::Png;
        sized = PngSize(read);
    } else if (std::memcmp(magic + 4, "ftyp", 4) == 0) {
        estimate.Kind = EstimateKind::Heif;
        sized = HeifSize(read, size);
    } else if (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0) {
        estimate.Kind = EstimateKind::Tiff;
        sized = TiffSize(read, size);
    }
    estimate.Width = sized.Width;
    estimate.Height = sized.Height;
    estimate.Deep = sized.Deep;
    if (!estimate.SizeKnown())
        estimate.Bytes = kUnknownImageBytes;
    else if (TooLarge(estimate.Width, estimate.Height))
        estimate.Bytes = kDecodeBaseBytes; // refused by its decoder before any pixel
    else
        estimate.Bytes = kDecodeBaseBytes + estimate.Width * estimate.Height * PeakBytesPerPixel(estimate.Kind, sized.Deep);
    return estimate;
}

MemoryEstimate EstimateImageMemory(const QString& path)
{
    QString error;
    const std::unique_ptr<InputSource> file = OpenRegularFile(QFile::encodeName(path), error);
    if (!file)
        return {EstimateKind::Unknown, 0, 0, false, kDecodeBaseBytes};
    return EstimateFromHeader(file->Reader(), file->Size());
}

} // namespace pixquill
