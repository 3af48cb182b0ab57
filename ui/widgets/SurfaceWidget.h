#pragma once

#include <cstdint>

#include <QImage>
#include <QPoint>
#include <QWidget>

#include "codec/Surface.h"

class QKeyEvent;
class QMouseEvent;

namespace pixquill {

// The character code a key press reports to KeyPress handlers: Esc is 27,
// keys without text are 0 (not reported).
int KeyAsciiOf(const QKeyEvent* event);

// A visible drawing surface: a widget that shows a Surface's persistent image
// inside an optional edge (BorderStyle uses the shared edge styles), and
// raises the picture-box events. The widget's size is the surface's outer
// size (divided by PixelRatio); resizing either resizes the other. GUI
// thread only.
class SurfaceWidget : public QWidget {
    Q_OBJECT
public:
    explicit SurfaceWidget(QWidget* parent = nullptr);

    Surface& surface() { return m_surface; }
    const Surface& surface() const { return m_surface; }

    // Edge style drawn in the border area (see DrawEdge); the surface's inner
    // area is inset by the edge's width.
    int EdgeStyle() const { return m_edgeStyle; }
    void SetEdgeStyle(int edgeStyle);

    // A picture drawn over the surface's image, its top-left corner at `at`
    // in the inner area, at its own device pixel ratio: on a dense screen a
    // sharper copy of what the image shows there. A null image removes it.
    // The surface's image stays what the program reads and draws into.
    void SetOverlay(const QImage& overlay, QPoint at);
    const QImage& Overlay() const { return m_overlay; }

    // Surface pixels per widget pixel: at the screen's device pixel ratio the
    // surface's pixels are the screen's own (actual size on a dense screen),
    // and the widget is that many times smaller than the surface. 1 by
    // default.
    qreal PixelRatio() const { return m_pixelRatio; }
    void SetPixelRatio(qreal ratio);

signals:
    void Click();
    void DblClick();
    // Button: 1 left, 2 right, 4 middle (the held buttons for MouseMove, the
    // changing one for MouseDown and MouseUp); Shift: 1 shift, 2 ctrl, 4 alt;
    // x, y in pixels from the inner area's top-left corner, fractions kept.
    // Passed by reference so that a control forwarding them hands its host
    // the very values; connect directly (never queued).
    void MouseDown(std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    void MouseUp(std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    void MouseMove(std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    // A handler may change keyAscii; 0 swallows the key.
    void KeyPress(int& keyAscii);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Raises MouseDown, MouseUp or MouseMove with the event's values.
    void RaiseMouse(void (SurfaceWidget::*signal)(std::int16_t&, std::int16_t&, float&, float&),
                    std::int16_t button, const QMouseEvent* event);

    Surface m_surface;
    int m_edgeStyle = 0;
    QImage m_overlay;
    qreal m_pixelRatio = 1.0;
    QPoint m_overlayAt;
    bool m_syncingSize = false;
    bool m_pressedInside = false;
};

} // namespace pixquill
