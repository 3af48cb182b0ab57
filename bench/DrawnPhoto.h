#pragma once

// A photo stand-in for the benchmarks that need a picture of a camera's or a
// phone's size: smooth gradients under a scatter of hard-edged shapes.

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

namespace pixquill::bench {

inline QImage DrawnPhoto(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(30, 90, 200));
    sky.setColorAt(0.5, QColor(240, 200, 120));
    sky.setColorAt(1, QColor(20, 120, 40));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 400; ++i) {
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 80 + i % 170, 60 + i % 190));
        painter.drawEllipse(QPoint((i * 7919) % width, (i * 104729) % height), 30 + i % 150, 20 + (i * 3) % 110);
    }
    return image;
}

} // namespace pixquill::bench
