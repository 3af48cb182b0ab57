#include "FrameBox.h"

#include <QFontMetrics>
#include <QPainter>

namespace pixquill {

namespace {

constexpr int kCaptionLeft = 8;

} // namespace

FrameBox::FrameBox(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent)
{
}

void FrameBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics fm(font());
    const int lineY = title().isEmpty() ? 0 : fm.height() / 2;
    const int w = width();
    const int h = height();

    // Etched: a shadow line with a highlight line one pixel in and down.
    const QColor shadow(0x80, 0x80, 0x80);
    const QColor highlight(0xFF, 0xFF, 0xFF);
    painter.setPen(shadow);
    painter.drawRect(0, lineY, w - 2, h - lineY - 2);
    painter.setPen(highlight);
    painter.drawLine(1, lineY + 1, w - 3, lineY + 1);
    painter.drawLine(1, lineY + 1, 1, h - 3);
    painter.drawLine(0, h - 1, w - 1, h - 1);
    painter.drawLine(w - 1, lineY, w - 1, h - 1);

    if (title().isEmpty())
        return;
    QString caption = title();
    caption.remove(QLatin1Char('&'));
    const QRect captionRect(kCaptionLeft, 0, fm.horizontalAdvance(caption) + 2, fm.height());
    painter.fillRect(captionRect, palette().color(QPalette::Window));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(captionRect.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, caption);
}

} // namespace pixquill
