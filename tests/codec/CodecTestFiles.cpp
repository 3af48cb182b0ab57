#include "CodecTestFiles.h"

#include <algorithm>

#include <QFile>

#include <FreeImage.h>

#include "tests/support/TestImages.h"

namespace pixquill::test {

namespace {

void AppendBe32(QByteArray& out, std::uint32_t v)
{
    out.append(static_cast<char>(v >> 24));
    out.append(static_cast<char>(v >> 16));
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v));
}

void AppendChunk(QByteArray& out, const char* type, const QByteArray& data)
{
    AppendBe32(out, static_cast<std::uint32_t>(data.size()));
    QByteArray typed(type, 4);
    typed.append(data);
    out.append(typed);
    // CRC-32 over type and data, as PNG readers check it.
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : typed) {
        crc ^= static_cast<std::uint8_t>(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    AppendBe32(out, crc ^ 0xFFFFFFFFu);
}

std::uint32_t ReadU16(const QByteArray& b, qsizetype at, bool little)
{
    const auto x = static_cast<std::uint8_t>(b[at]);
    const auto y = static_cast<std::uint8_t>(b[at + 1]);
    return little ? x | (y << 8) : (x << 8) | y;
}

std::uint32_t ReadU32(const QByteArray& b, qsizetype at, bool little)
{
    return little ? ReadU16(b, at, true) | (ReadU16(b, at + 2, true) << 16)
                  : (ReadU16(b, at, false) << 16) | ReadU16(b, at + 2, false);
}

} // namespace

bool WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray PngHeaderOnly(std::uint32_t width, std::uint32_t height)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr;
    AppendBe32(ihdr, width);
    AppendBe32(ihdr, height);
    ihdr.append(char(8)); // bit depth
    ihdr.append(char(2)); // RGB
    ihdr.append(char(0)); // deflate
    ihdr.append(char(0)); // adaptive filtering
    ihdr.append(char(0)); // not interlaced
    AppendChunk(out, "IHDR", ihdr);
    // The start of a compressed stream that ends far too early.
    AppendChunk(out, "IDAT", QByteArray("\x78\x9c\x63\x60", 4));
    AppendChunk(out, "IEND", {});
    return out;
}

ReadBack ReadWithFreeImage(const QString& path)
{
    ReadBack r;
    const QByteArray name = QFile::encodeName(path);
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(name.constData(), 0);
    if (fif == FIF_UNKNOWN)
        return r;
    FIBITMAP* bitmap = FreeImage_Load(fif, name.constData(), 0);
    if (!bitmap)
        return r;
    r.ok = true;
    r.width = static_cast<int>(FreeImage_GetWidth(bitmap));
    r.height = static_cast<int>(FreeImage_GetHeight(bitmap));
    r.bitsPerPixel = static_cast<int>(FreeImage_GetBPP(bitmap));
    r.palette = r.bitsPerPixel <= 8 && FreeImage_GetPalette(bitmap) != nullptr;
    if (r.bitsPerPixel == 32) {
        int seen = -2;
        for (int y = 0; y < r.height; ++y) {
            const BYTE* p = FreeImage_GetScanLine(bitmap, y);
            for (int x = 0; x < r.width; ++x, p += 4) {
                const int v = p[FI_RGBA_ALPHA];
                seen = seen == -2 ? v : (seen == v ? seen : -1);
            }
        }
        r.fourthByte = seen;
    }
    FIBITMAP* rgb = FreeImage_ConvertTo24Bits(bitmap);
    if (rgb) {
        r.pixels = QImage(r.width, r.height, QImage::Format_RGB32);
        for (int y = 0; y < r.height; ++y) {
            const BYTE* p = FreeImage_GetScanLine(rgb, r.height - 1 - y);
            for (int x = 0; x < r.width; ++x, p += 3)
                r.pixels.setPixel(x, y, qRgb(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]));
        }
        FreeImage_Unload(rgb);
    }
    FreeImage_Unload(bitmap);
    return r;
}

std::optional<int> TiffCompression(const QByteArray& tiff)
{
    if (tiff.size() < 8)
        return std::nullopt;
    bool little = false;
    if (tiff.startsWith("II"))
        little = true;
    else if (!tiff.startsWith("MM"))
        return std::nullopt;
    const std::uint32_t ifd = ReadU32(tiff, 4, little);
    if (ifd + 2 > static_cast<std::uint32_t>(tiff.size()))
        return std::nullopt;
    const std::uint32_t count = ReadU16(tiff, ifd, little);
    for (std::uint32_t i = 0; i < count; ++i) {
        const qsizetype entry = ifd + 2 + 12 * i;
        if (entry + 12 > tiff.size())
            return std::nullopt;
        if (ReadU16(tiff, entry, little) == 259)
            return static_cast<int>(ReadU16(tiff, entry + 8, little));
    }
    return std::nullopt;
}

int MaxImageDistance(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            worst = std::max(worst, ColourDistance(a.pixel(x, y), b.pixel(x, y)));
    return worst;
}

} // namespace pixquill::test
