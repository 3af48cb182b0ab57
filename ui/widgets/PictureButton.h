#pragma once

#include <cstdint>
#include <functional>

#include <QImage>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include "codec/Surface.h"
#include "ui/widgets/PropertyBag.h"

namespace pixquill {

// A button drawn entirely from three faces of one size: Picture (normal),
// PictureHover (pointer over it) and PictureDown (left button held on it).
// It takes the size of its current face and forwards the mouse notifications
// to the host, plus MouseEnter and MouseLeave. Leaving is noticed only by the
// hover timer, which polls the pointer position every 30 ms while it is on.
//
// Every event carries Index() first, so the members of an indexed group
// (btnForm, cmdAction) can share one handler; a connected functor may take
// fewer arguments and ignore it. MouseDown, MouseUp and MouseMove pass their
// four parameters by reference and are raised before the button reacts, so
// the button's own reaction reads Button as the host's handler left it. Those
// three must therefore be connected directly (never queued).
//
// GUI thread only.
class PictureButton : public QWidget {
    Q_OBJECT
public:
    static inline const QString kClassId = QStringLiteral("Pixquill.PictureButton");
    static constexpr int kHoverIntervalMs = 30;
    static constexpr QSize kNewSize{60, 57};

    explicit PictureButton(QWidget* parent = nullptr);

    // The faces. QImage is shared, not copied: the getter hands back the very
    // picture the host assigned. A null image is "no picture".
    const QImage& Picture() const { return m_Picture; }
    void SetPicture(const QImage& m_New_Picture);
    const QImage& PictureHover() const { return m_PictureHover; }
    void SetPictureHover(const QImage& m_New_PictureHover);
    const QImage& PictureDown() const { return m_PictureDown; }
    void SetPictureDown(const QImage& m_New_PictureDown);

    // Member number within an indexed group (0 when the button stands alone).
    int Index() const { return m_index; }
    void SetIndex(int index) { m_index = index; }

    // Saved property set: the three faces, no picture being the default.
    // Reading draws nothing: the first face is drawn by the host's resize,
    // which a hidden button receives when it is shown.
    void InitProperties();
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    // Face shown: 0 normal, 1 hover, 2 down.
    std::int16_t ButtonState() const { return m_ButtonState; }
    // The pointer has been seen over the button with no button pressed and
    // MouseEnter has been raised; cleared once the pointer is found outside.
    bool HoverActive() const { return m_HoverActive; }
    bool HoverTimerActive() const { return m_Timer1.isActive(); }

    // Redraws the face for ButtonState and takes its size. With no picture for
    // that state the surface is only cleared and the size stays as it was.
    void UpdateFace();

    // True when the widget under the pointer is this button itself; a window
    // or child lying over it counts as outside.
    bool IsMouseOver() const;

    // Replaces the pointer test behind IsMouseOver (tests drive the state
    // table with it); an empty function restores the real one.
    void SetPointerTest(std::function<bool()> pointerTest) { m_pointerTest = std::move(pointerTest); }

    // Lets the button take the keyboard focus with Tab (a click does not
    // move the focus to it): it then shows a focus frame over its face, and
    // Enter, Return or Space raise Click. Off by default.
    void SetKeyboardFocusable(bool focusable);

    // The drawn face, as shown on screen.
    const QImage& FaceImage() const { return m_surface.Image(); }

    QSize sizeHint() const override;

signals:
    void Click(int index);
    void DblClick(int index);
    // Button: 1 left, 2 right, 4 middle (the held buttons for MouseMove, the
    // changing one for MouseDown and MouseUp); Shift: 1 shift, 2 ctrl, 4 alt;
    // x, y in pixels from the button's top-left corner.
    void MouseMove(int index, std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    void MouseUp(int index, std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    void MouseDown(int index, std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    void MouseEnter(int index);
    void MouseLeave(int index);
    // Raised at the end of every property setter with the persisted key.
    void PropertyChanged(const QString& key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void OnTimer1();

    QImage m_Picture;
    QImage m_PictureHover;
    QImage m_PictureDown;
    bool m_HoverActive = false;
    std::int16_t m_ButtonState = 0;

    // The control surface, with a retained image of the face.
    Surface m_surface;
    // What the hidden picture holder measures: the size of the last face put
    // into it, invalid until the first one.
    QSize m_Picture1Size;
    QTimer m_Timer1;
    int m_index = 0;
    bool m_leftPressed = false;
    bool m_updatingFace = false;
    std::function<bool()> m_pointerTest;
};

} // namespace pixquill
