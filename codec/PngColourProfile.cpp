#include "codec/PngColourProfile.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <zlib.h>

#include "codec/ByteOrder.h"

namespace pixquill {

namespace {

constexpr std::int64_t kMaxProfileBytes = 4 * 1024 * 1024;
// A profile compresses to a fraction of itself; a chunk larger than the
// largest profile is damage, not a profile.
constexpr std::int64_t kMaxChunkBytes = kMaxProfileBytes;

// zlib data inflated into at most kMaxProfileBytes; empty when damaged or larger.
QByteArray InflateBounded(const QByteArray& compressed)
{
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        return {};
    QByteArray out;
    std::array<unsigned char, 64 * 1024> buffer;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        const auto made = static_cast<qsizetype>(buffer.size() - stream.avail_out);
        if (out.size() + made > kMaxProfileBytes) {
            status = Z_DATA_ERROR;
            break;
        }
        out.append(reinterpret_cast<const char*>(buffer.data()), made);
        if (status == Z_BUF_ERROR && stream.avail_in == 0)
            break; // cut short
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

} // namespace

QByteArray ReadPngIccProfile(const ByteReader& read, std::int64_t fileSize)
{
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::uint8_t head[8];
    if (read(0, head, 8) != 8 || std::memcmp(head, kSignature, 8) != 0)
        return {};
    for (std::int64_t at = 8; at + 8 <= fileSize;) {
        std::uint8_t chunk[8];
        if (read(at, chunk, 8) != 8)
            return {};
        const std::int64_t length = Be32(chunk);
        if (std::memcmp(chunk + 4, "iCCP", 4) == 0) {
            if (length < 3 || length > kMaxChunkBytes || at + 8 + length > fileSize)
                return {};
            QByteArray data(static_cast<qsizetype>(length), Qt::Uninitialized);
            if (read(at + 8, data.data(), length) != length)
                return {};
            // A name of 1 to 79 bytes, its NUL, the method (0: zlib), the data.
            const qsizetype nul = data.indexOf('\0');
            if (nul < 1 || nul > 79 || nul + 2 > data.size() || data[nul + 1] != 0)
                return {};
            return InflateBounded(data.mid(nul + 2));
        }
        // The profile comes before the image data; an sRGB chunk overrides it.
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0 || std::memcmp(chunk + 4, "sRGB", 4) == 0
            || std::memcmp(chunk + 4, "IEND", 4) == 0)
            return {};
        at += 12 + length;
    }
    return {};
}

} // namespace pixquill
