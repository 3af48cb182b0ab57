#include "TestImages.h"

#include <algorithm>
#include <cstdlib>

#include <QBuffer>
#include <QFile>
#include <QPainter>

namespace pixquill::test {

QImage GradientImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb((x * 255) / std::max(1, width - 1), (y * 255) / std::max(1, height - 1),
                          ((x + y) * 127) / std::max(1, width + height - 2) + 64);
    }
    return image;
}

QImage QuadrantImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    const int hw = width / 2;
    const int hh = height / 2;
    painter.fillRect(0, 0, hw, hh, QColor(255, 0, 0));
    painter.fillRect(hw, 0, width - hw, hh, QColor(0, 255, 0));
    painter.fillRect(0, hh, hw, height - hh, QColor(0, 0, 255));
    painter.fillRect(hw, hh, width - hw, height - hh, QColor(255, 255, 255));
    return image;
}

int ColourDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

QByteArray WithExif(const QByteArray& jpeg, const QByteArray& tiff)
{
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = static_cast<int>(payload.size()) + 2;
    QByteArray app1("\xFF\xE1", 2);
    app1.append(static_cast<char>(length >> 8));
    app1.append(static_cast<char>(length & 0xFF));
    return jpeg.left(2) + app1 + payload + jpeg.mid(2);
}

QByteArray OrientationExif(int orientation)
{
    // Little-endian TIFF header, one directory with one entry: Orientation
    // (0x0112), SHORT, count 1; no next directory.
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    tiff.append("\x01\x00", 2);
    tiff.append("\x12\x01\x03\x00\x01\x00\x00\x00", 8);
    tiff.append(static_cast<char>(orientation));
    tiff.append("\0\0\0", 3);
    tiff.append("\0\0\0\0", 4);
    return tiff;
}

QByteArray JpegWithOrientation(const QImage& image, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return WithExif(jpeg, OrientationExif(orientation));
}

QByteArray QtEncoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace pixquill::test
