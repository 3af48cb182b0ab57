#include "TestImages.h"

#include <algorithm>
#include <cstdlib>

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

QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace pixquill::test
