#pragma once

#include <QWidget>

#include "codec/Surface.h"

class QKeyEvent;

namespace pixquill {

// The character code a key press reports to KeyPress handlers: Esc is 27,
// keys without text are 0 (not reported).
int KeyAsciiOf(const QKeyEvent* event);

// A visible drawing surface: a widget that shows a Surface's persistent image
// inside an optional edge (BorderStyle uses the shared edge styles), and
// raises the picture-box events. The widget's size is the surface's outer
// size; resizing either resizes the other. GUI thread only.
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

signals:
    void Click();
    void DblClick();
    // Button and shift as Qt flags; x, y relative to the inner area.
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
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
    Surface m_surface;
    int m_edgeStyle = 0;
    bool m_syncingSize = false;
    bool m_pressedInside = false;
};

} // namespace pixquill
