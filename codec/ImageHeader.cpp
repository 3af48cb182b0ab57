#include "codec/ImageHeader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <FreeImage.h>

#include "codec/ByteOrder.h"

namespace pixquill {

namespace {

// Walks through chunk lists give up after this many entries: a real header
// never needs that many, a hostile one must not keep us reading.
constexpr int kMaxChunks = 4096;

// Exactly n bytes at offset, or nothing.
std::optional<std::vector<std::uint8_t>> Bytes(const ByteReader& read, std::int64_t offset, std::int64_t n)
{
    if (offset < 0 || n < 0)
        return std::nullopt;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(n));
    if (n > 0 && read(offset, out.data(), n) != n)
        return std::nullopt;
    return out;
}

// The larger of two candidates, by pixels then by samples.
DeclaredSize Larger(const DeclaredSize& a, const DeclaredSize& b)
{
    if (b.Pixels() != a.Pixels())
        return b.Pixels() > a.Pixels() ? b : a;
    return b.Channels > a.Channels ? b : a;
}

std::optional<DeclaredSize> ReadSgi(const ByteReader& read)
{
    // magic 474, storage, bytes per channel, dimension, xsize, ysize, zsize.
    const auto h = Bytes(read, 0, 12);
    if (!h || Be16(h->data()) != 474)
        return std::nullopt;
    return DeclaredSize{Be16(h->data() + 6), Be16(h->data() + 8), std::max<std::uint32_t>(1, Be16(h->data() + 10))};
}

std::optional<DeclaredSize> ReadDds(const ByteReader& read)
{
    const auto h = Bytes(read, 0, 20);
    if (!h || std::memcmp(h->data(), "DDS ", 4) != 0)
        return std::nullopt;
    return DeclaredSize{Le32(h->data() + 16), Le32(h->data() + 12), 4};
}

// The logical screen and every image descriptor up to the first image: the
// reader allocates by one or the other.
std::optional<DeclaredSize> ReadGif(const ByteReader& read)
{
    const auto h = Bytes(read, 0, 13);
    if (!h || std::memcmp(h->data(), "GIF8", 4) != 0)
        return std::nullopt;
    DeclaredSize size{Le16(h->data() + 6), Le16(h->data() + 8), 1};
    std::int64_t at = 13;
    if ((*h)[10] & 0x80)
        at += 3 * (std::int64_t{2} << ((*h)[10] & 7));
    for (int block = 0; block < kMaxChunks; ++block) {
        const auto kind = Bytes(read, at, 1);
        if (!kind)
            return std::nullopt;
        if ((*kind)[0] == 0x2C) {
            const auto d = Bytes(read, at + 1, 8);
            if (!d)
                return std::nullopt;
            return Larger(size, DeclaredSize{Le16(d->data() + 4), Le16(d->data() + 6), 1});
        }
        if ((*kind)[0] != 0x21)
            return size; // trailer or junk: there is no image to decode
        at += 2; // introducer and label, then sub-blocks up to an empty one
        for (int sub = 0;; ++sub) {
            const auto length = Bytes(read, at, 1);
            if (!length || sub == kMaxChunks)
                return std::nullopt;
            at += 1 + (*length)[0];
            if ((*length)[0] == 0)
                break;
        }
    }
    return std::nullopt;
}

// Wireless bitmap integers: 7 bits a byte, high bit set on all but the last.
std::optional<std::uint64_t> WbmpInteger(const ByteReader& read, std::int64_t& at)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 5; ++i) {
        const auto b = Bytes(read, at++, 1);
        if (!b)
            return std::nullopt;
        value = value << 7 | ((*b)[0] & 0x7F);
        if (!((*b)[0] & 0x80))
            return value;
    }
    return std::nullopt;
}

std::optional<DeclaredSize> ReadWbmp(const ByteReader& read)
{
    std::int64_t at = 0;
    const auto type = WbmpInteger(read, at);
    const auto fixed = Bytes(read, at++, 1);
    // Only type 0 without extension headers is a plain bitmap.
    if (!type || *type != 0 || !fixed || ((*fixed)[0] & 0x80))
        return std::nullopt;
    const auto width = WbmpInteger(read, at);
    const auto height = WbmpInteger(read, at);
    if (!width || !height)
        return std::nullopt;
    return DeclaredSize{*width, *height, 1};
}

// "#define name_width 16" and "#define name_height 16" near the top.
std::optional<DeclaredSize> ReadXbm(const ByteReader& read)
{
    std::string text(4096, '\0');
    text.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, read(0, text.data(), 4096))));
    std::optional<std::uint64_t> width;
    std::optional<std::uint64_t> height;
    std::size_t at = 0;
    while ((at = text.find("#define", at)) != std::string::npos && (!width || !height)) {
        at += 7;
        const std::size_t nameStart = text.find_first_not_of(" \t", at);
        if (nameStart == std::string::npos)
            break;
        const std::size_t nameEnd = text.find_first_of(" \t\r\n", nameStart);
        if (nameEnd == std::string::npos)
            break;
        const std::string_view name(text.data() + nameStart, nameEnd - nameStart);
        std::size_t digit = text.find_first_not_of(" \t", nameEnd);
        std::uint64_t value = 0;
        bool any = false;
        for (; digit < text.size() && std::isdigit(static_cast<unsigned char>(text[digit])); ++digit) {
            // Saturates: anything this long is too large anyway.
            value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(text[digit] - '0'),
                                            std::uint64_t{1} << 40);
            any = true;
        }
        if (!any)
            continue;
        if (name.size() >= 6 && name.substr(name.size() - 6) == "_width")
            width = value;
        else if (name.size() >= 7 && name.substr(name.size() - 7) == "_height")
            height = value;
    }
    if (!width || !height)
        return std::nullopt;
    return DeclaredSize{*width, *height, 1};
}

// FORM container: the BMHD chunk holds width, height and the plane count.
std::optional<DeclaredSize> ReadIff(const ByteReader& read)
{
    const auto h = Bytes(read, 0, 12);
    if (!h || std::memcmp(h->data(), "FORM", 4) != 0)
        return std::nullopt;
    std::int64_t at = 12;
    for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
        const auto c = Bytes(read, at, 8);
        if (!c)
            return std::nullopt;
        const std::uint32_t length = Be32(c->data() + 4);
        if (std::memcmp(c->data(), "BMHD", 4) == 0) {
            const auto b = Bytes(read, at + 8, 9);
            if (!b)
                return std::nullopt;
            return DeclaredSize{Be16(b->data()), Be16(b->data() + 2), std::max<std::uint32_t>(1, ((*b)[8] + 7) / 8)};
        }
        if (std::memcmp(c->data(), "BODY", 4) == 0)
            return std::nullopt; // pixels before their size
        at += 8 + length + (length & 1);
    }
    return std::nullopt;
}

// MHDR's frame size and the first embedded PNG or JNG image (IHDR, JHDR),
// which is what the reader decodes.
std::optional<DeclaredSize> ReadMng(const ByteReader& read)
{
    const auto h = Bytes(read, 0, 8);
    if (!h || std::memcmp(h->data(), "\x8AMNG\r\n\x1A\n", 8) != 0)
        return std::nullopt;
    std::optional<DeclaredSize> size;
    std::int64_t at = 8;
    for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
        const auto c = Bytes(read, at, 16);
        if (!c)
            return size;
        const DeclaredSize declared{Be32(c->data() + 8), Be32(c->data() + 12), 4};
        if (std::memcmp(c->data() + 4, "MHDR", 4) == 0) {
            size = declared;
        } else if (std::memcmp(c->data() + 4, "IHDR", 4) == 0 || std::memcmp(c->data() + 4, "JHDR", 4) == 0) {
            return size ? Larger(*size, declared) : declared;
        } else if (std::memcmp(c->data() + 4, "MEND", 4) == 0) {
            return size;
        }
        at += 12 + static_cast<std::int64_t>(Be32(c->data()));
    }
    return size;
}

// A JPEG 2000 code stream: SOC, then SIZ with the reference grid, the image
// offset on it and the number of components.
std::optional<DeclaredSize> ReadCodestream(const ByteReader& read, std::int64_t at)
{
    const auto h = Bytes(read, at, 42);
    if (!h || Be16(h->data()) != 0xFF4F || Be16(h->data() + 2) != 0xFF51)
        return std::nullopt;
    const std::uint32_t xsiz = Be32(h->data() + 8);
    const std::uint32_t ysiz = Be32(h->data() + 12);
    const std::uint32_t xosiz = Be32(h->data() + 16);
    const std::uint32_t yosiz = Be32(h->data() + 20);
    if (xosiz >= xsiz || yosiz >= ysiz)
        return std::nullopt;
    return DeclaredSize{xsiz - xosiz, ysiz - yosiz, std::max<std::uint32_t>(1, Be16(h->data() + 40))};
}

// Boxes inside [at, end): the image header box of jp2h and the code stream.
std::optional<DeclaredSize> ReadJp2Boxes(const ByteReader& read, std::int64_t at, std::int64_t end, int depth)
{
    std::optional<DeclaredSize> size;
    const auto merge = [&size](const std::optional<DeclaredSize>& found) {
        if (found)
            size = size ? Larger(*size, *found) : *found;
    };
    for (int box = 0; box < kMaxChunks && (end < 0 || at < end); ++box) {
        const auto b = Bytes(read, at, 8);
        if (!b)
            break;
        std::int64_t length = Be32(b->data());
        std::int64_t header = 8;
        if (length == 1) {
            const auto xl = Bytes(read, at + 8, 8);
            if (!xl)
                break;
            length = static_cast<std::int64_t>(std::min<std::uint64_t>(Be64(xl->data()), INT64_MAX / 2));
            header = 16;
        }
        const bool toEnd = length == 0;
        if (!toEnd && length < header)
            break;
        if (std::memcmp(b->data() + 4, "jp2h", 4) == 0 && depth == 0) {
            merge(ReadJp2Boxes(read, at + header, toEnd ? end : at + length, depth + 1));
        } else if (std::memcmp(b->data() + 4, "ihdr", 4) == 0) {
            const auto i = Bytes(read, at + header, 10);
            if (i)
                merge(DeclaredSize{Be32(i->data() + 4), Be32(i->data()), std::max<std::uint32_t>(1, Be16(i->data() + 8))});
        } else if (std::memcmp(b->data() + 4, "jp2c", 4) == 0) {
            merge(ReadCodestream(read, at + header));
            return size; // the code stream is the last thing the decoder needs
        }
        if (toEnd)
            break;
        at += length;
    }
    return size;
}

std::optional<DeclaredSize> ReadJp2(const ByteReader& read)
{
    const auto h = Bytes(read, 0, 12);
    if (!h || std::memcmp(h->data() + 4, "jP  ", 4) != 0)
        return std::nullopt;
    return ReadJp2Boxes(read, 0, -1, 0);
}

// A 512-byte application header, then the picture size and its frame
// (top, left, bottom, right).
std::optional<DeclaredSize> ReadPict(const ByteReader& read)
{
    const auto h = Bytes(read, 512, 10);
    if (!h)
        return std::nullopt;
    const auto coordinate = [&h](int at) { return static_cast<std::int16_t>(Be16(h->data() + at)); };
    const int top = coordinate(2);
    const int left = coordinate(4);
    const int bottom = coordinate(6);
    const int right = coordinate(8);
    if (bottom <= top || right <= left)
        return std::nullopt;
    return DeclaredSize{static_cast<std::uint64_t>(right - left), static_cast<std::uint64_t>(bottom - top), 4};
}

} // namespace

std::uint64_t DeclaredSize::Pixels() const
{
    if (Width != 0 && Height > UINT64_MAX / Width)
        return UINT64_MAX;
    return Width * Height;
}

bool HasHeaderReader(int format)
{
    switch (format) {
    case FIF_GIF:
    case FIF_WBMP:
    case FIF_SGI:
    case FIF_DDS:
    case FIF_IFF:
    case FIF_MNG:
    case FIF_XBM:
    case FIF_J2K:
    case FIF_JP2:
    case FIF_PICT:
    case FIF_KOALA:
        return true;
    default:
        return false;
    }
}

std::optional<DeclaredSize> ReadDeclaredSize(int format, const ByteReader& read)
{
    switch (format) {
    case FIF_GIF: return ReadGif(read);
    case FIF_WBMP: return ReadWbmp(read);
    case FIF_SGI: return ReadSgi(read);
    case FIF_DDS: return ReadDds(read);
    case FIF_IFF: return ReadIff(read);
    case FIF_MNG: return ReadMng(read);
    case FIF_XBM: return ReadXbm(read);
    case FIF_J2K: return ReadCodestream(read, 0);
    case FIF_JP2: return ReadJp2(read);
    case FIF_PICT: return ReadPict(read);
    case FIF_KOALA: return DeclaredSize{320, 200, 3}; // the format knows one size only
    default: return std::nullopt;
    }
}

} // namespace pixquill
