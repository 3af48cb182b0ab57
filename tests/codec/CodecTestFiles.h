#pragma once

// Files drawn and crafted in code for the codec tests, and a FreeImage-based
// reader that reports what was actually written.

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QImage>
#include <QString>

namespace pixquill::test {

// Writes bytes to a file; false when it cannot.
bool WriteFileBytes(const QString& path, const QByteArray& bytes);

// A minimal PNG signature and IHDR chunk declaring width x height pixels
// (8-bit RGB), then a few bytes of compressed data, far from enough, and IEND.
QByteArray PngHeaderOnly(std::uint32_t width, std::uint32_t height);

// What FreeImage reads back from a written file.
struct ReadBack {
    bool ok = false;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    bool palette = false; // 8 bits or fewer with a colour table
    std::optional<int> fourthByte; // 32-bit files: the fourth byte when every pixel has the same, else -1
    QImage pixels; // RGB32, top-down
};
ReadBack ReadWithFreeImage(const QString& path);

// The compression tag (259) of a little- or big-endian TIFF file's first
// directory; nothing when the file is not a readable TIFF.
std::optional<int> TiffCompression(const QByteArray& tiff);

// Largest channel difference over all pixels of two same-sized images; -1
// when the sizes differ.
int MaxImageDistance(const QImage& a, const QImage& b);

} // namespace pixquill::test
