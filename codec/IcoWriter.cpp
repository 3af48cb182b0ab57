#include "IcoWriter.h"

#include <cstdint>
#include <limits>

#include "codec/ByteOrder.h"

namespace pixquill {

namespace {

// In an icon entry a side of 256 is stored as 0.
char SideByte(int side)
{
    return static_cast<char>(side == 256 ? 0 : side);
}

} // namespace

QByteArray WrapPngAsIcon(const QByteArray& png, int width, int height, int bitsPerPixel)
{
    if (png.isEmpty() || width < 1 || width > 256 || height < 1 || height > 256)
        return {};
    if (static_cast<qint64>(png.size()) > std::numeric_limits<std::uint32_t>::max() - 22)
        return {};

    constexpr std::uint32_t kHeaderSize = 6 + 16;
    QByteArray out;
    out.reserve(static_cast<qsizetype>(kHeaderSize) + png.size());
    // ICONDIR: reserved, type 1 (icon), one image.
    AppendLe16(out, 0);
    AppendLe16(out, 1);
    AppendLe16(out, 1);
    // ICONDIRENTRY: width, height, no palette, reserved, one plane, depth,
    // payload size and where the payload starts.
    out.append(SideByte(width));
    out.append(SideByte(height));
    out.append('\0');
    out.append('\0');
    AppendLe16(out, 1);
    AppendLe16(out, static_cast<std::uint16_t>(bitsPerPixel));
    AppendLe32(out, static_cast<std::uint32_t>(png.size()));
    AppendLe32(out, kHeaderSize);
    out.append(png);
    return out;
}

} // namespace pixquill
