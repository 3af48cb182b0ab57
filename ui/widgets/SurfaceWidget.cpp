#include "SurfaceWidget.h"

#include <cmath>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/widgets/DrawEdge.h"
#include "ui/widgets/MouseMasks.h"

namespace pixquill {

int KeyAsciiOf(const QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        return 27;
    const QString text = event->text();
    return text.isEmpty() ? 0 : text.at(0).unicode();
}

SurfaceWidget::SurfaceWidget(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_surface.SetRefreshHandler([this] { repaint(); });
    m_surface.SetResizeHandler([this](int w, int h) {
        if (m_syncingSize)
            return;
        m_syncingSize = true;
        resize(int(std::ceil(w / m_pixelRatio)), int(std::ceil(h / m_pixelRatio)));
        m_syncingSize = false;
    });
}

void SurfaceWidget::SetPixelRatio(qreal ratio)
{
    m_pixelRatio = ratio > 0 ? ratio : 1.0;
    m_syncingSize = true;
    resize(int(std::ceil(m_surface.Width() / m_pixelRatio)), int(std::ceil(m_surface.Height() / m_pixelRatio)));
    m_syncingSize = false;
    update();
}

void SurfaceWidget::SetEdgeStyle(int edgeStyle)
{
    m_edgeStyle = edgeStyle;
    m_surface.SetBorderWidth(EdgeWidthForStyle(edgeStyle));
    update();
}

void SurfaceWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int border = m_surface.BorderWidth();
    painter.fillRect(rect(), m_surface.BackColor());
    if (!m_surface.Image().isNull() && m_pixelRatio == 1.0) {
        painter.drawImage(border, border, m_surface.Image());
    } else if (!m_surface.Image().isNull()) {
        // One surface pixel to one device pixel: no resampling on a screen
        // whose ratio this is.
        const QImage& image = m_surface.Image();
        painter.drawImage(QRectF(border / m_pixelRatio, border / m_pixelRatio, image.width() / m_pixelRatio,
                                 image.height() / m_pixelRatio),
                          image);
    }
    if (!m_overlay.isNull())
        painter.drawImage(QPoint(border, border) + m_overlayAt, m_overlay);
    DrawEdge(painter, rect(), m_edgeStyle, palette());
}

void SurfaceWidget::SetOverlay(const QImage& overlay, QPoint at)
{
    m_overlay = overlay;
    m_overlayAt = at;
    update();
}

void SurfaceWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_syncingSize)
        return;
    m_syncingSize = true;
    m_surface.Resize(int(std::lround(width() * m_pixelRatio)), int(std::lround(height() * m_pixelRatio)));
    m_syncingSize = false;
}

void SurfaceWidget::mousePressEvent(QMouseEvent* event)
{
    m_pressedInside = true;
    RaiseMouse(&SurfaceWidget::MouseDown, ButtonMask(event->button()), event);
}

void SurfaceWidget::mouseReleaseEvent(QMouseEvent* event)
{
    RaiseMouse(&SurfaceWidget::MouseUp, ButtonMask(event->button()), event);
    // A click is a press and a release over the surface, with any button.
    if (m_pressedInside && rect().contains(event->position().toPoint()))
        emit Click();
    m_pressedInside = false;
}

void SurfaceWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    m_pressedInside = false;
    emit DblClick();
    event->accept();
}

void SurfaceWidget::mouseMoveEvent(QMouseEvent* event)
{
    RaiseMouse(&SurfaceWidget::MouseMove, ButtonMask(event->buttons()), event);
}

void SurfaceWidget::RaiseMouse(void (SurfaceWidget::*signal)(std::int16_t&, std::int16_t&, float&, float&),
                               std::int16_t button, const QMouseEvent* event)
{
    std::int16_t shift = ShiftMask(event->modifiers());
    const QPointF p = event->position() - QPointF(m_surface.BorderWidth(), m_surface.BorderWidth());
    float x = float(p.x());
    float y = float(p.y());
    emit(this->*signal)(button, shift, x, y);
}

void SurfaceWidget::keyPressEvent(QKeyEvent* event)
{
    int keyAscii = KeyAsciiOf(event);
    if (keyAscii == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    emit KeyPress(keyAscii);
    event->accept();
}

} // namespace pixquill
