#pragma once

#include <cstdint>

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include "codec/OleColor.h"
#include "codec/Surface.h"

class QPushButton;
class QScrollBar;

namespace pixquill {

class PropertyBag;
class SurfaceWidget;

// Shows one picture either at actual size inside a viewport with its own
// scroll bars (centred when it fits both ways), or reduced to fit the control.
// An edge in one of the shared edge styles can be drawn in a 2-pixel ring
// around the viewport. Click, double click, key and mouse button events of the
// display copy, the viewport and the control itself reach the host as the
// control's own signals. GUI thread only.
//
// Inner areas:
//   iSrc       hidden surface holding the assigned picture (sized to it);
//   picScl     viewport: clips the display copy, carries the bars and the
//              corner square; in fit mode the reduced picture is drawn in it;
//   picDst     display copy inside picScl, sized to the picture; scrolling
//              moves it, its pixels are shared with the picture;
//   hSB, vSB   15-pixel scroll bars; cmdCorner the blank square between them.
class ImageAceX : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kClassId = "Pixquill.ImageAceX";
    static constexpr int kBarThickness = 15;
    // Room left around the viewport for the edge, and kept free around the
    // reduced picture in fit mode.
    static constexpr int kInset = 2;
    // Where the bars and the corner square go while fit mode hides them.
    static constexpr int kOutOfSight = -20000;

    explicit ImageAceX(QWidget* parent = nullptr);
    ~ImageAceX() override;

    // 0 no edge, 1..8 the shared edge styles; any other value draws nothing
    // but still leaves the 2-pixel ring at the next layout.
    int BorderStyle() const { return m_BorderStyle; }
    void SetBorderStyle(int New_BorderStyle);

    // 0 actual size with scroll bars, 1 fitted; other values leave the display
    // as it is when the control is resized.
    int Displaymode() const { return m_Displaymode; }
    void SetDisplaymode(int New_Displaymode);

    // 0x00BBGGRR or a system colour (default: button face).
    OleColor BackColor() const { return m_BackColor; }
    void SetBackColor(OleColor New_BackColor);

    // The picture is kept by iSrc. Assigning lays out the bars for the
    // picture the display copy still shows; the display copy takes the new
    // picture at the next resize or Displaymode assignment, so a host assigns
    // the picture before it gives the control its final size.
    QImage Picture() const;
    void SetPicture(const QImage& New_Picture);

    // Picture pixels per display pixel in actual-size mode: the screen's
    // device pixel ratio makes actual size mean one picture pixel per screen
    // pixel. 1 by default; takes effect at the next refresh.
    void SetPixelRatio(qreal ratio);

    // The keyed property store of a window layout.
    void InitProperties();
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    // The description shown for a property or event in a designer; empty when
    // it has none.
    static QString Description(const QString& member);

    // The actual-size layout: viewport, bars, corner square, picture position.
    // Resets both bars to 0.
    void LayoutScrollView();

    // Draws the edge (or nothing) on the control surface; see paintEvent.
    void DrawBorder();
    QRect BorderRect() const { return m_borderRect; }

    // Inner areas, for the host and for tests.
    const Surface& iSrc() const { return m_iSrc; }
    SurfaceWidget* picScl() const { return m_picScl; }
    SurfaceWidget* picDst() const { return m_picDst; }
    QScrollBar* hSB() const { return m_hSB; }
    QScrollBar* vSB() const { return m_vSB; }
    QPushButton* cmdCorner() const { return m_cmdCorner; }

signals:
    void Click();
    void DblClick();
    // A handler may change KeyAscii; the change goes back to the area that
    // received the key, and 0 swallows it.
    void KeyPress(int& KeyAscii);
    // Button: 1 left, 2 right, 4 middle; Shift: 1 shift, 2 ctrl, 4 alt; x, y
    // in the pixel coordinates of the area that received the event (on the
    // display copy: the pixel position within the picture), fractions kept.
    // The area's own values are passed through by reference; connect
    // directly (never queued).
    void MouseDown(std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    void MouseUp(std::int16_t& Button, std::int16_t& Shift, float& x, float& y);
    // Raised at the end of every property setter with the property's saved key.
    void PropertyChanged(const QString& key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Run on resize and on Displaymode assignment.
    void RefreshDisplay();
    void ForwardEventsOf(SurfaceWidget* area);
    void ApplyBackColor();
    void PlaceViewport(const QRect& geometry);

    // The fit routine's 32-bit read of the source happens inside the call; the
    // control keeps no copy of its own between calls.
    Surface m_iSrc;
    SurfaceWidget* m_picScl = nullptr;
    SurfaceWidget* m_picDst = nullptr;
    QScrollBar* m_hSB = nullptr;
    QScrollBar* m_vSB = nullptr;
    QPushButton* m_cmdCorner = nullptr;

    QRect m_borderRect;
    int m_Displaymode = 0;
    int m_BorderStyle = 0;
    OleColor m_BackColor = kSystemButtonFace;
    bool m_pressedInside = false;
};

} // namespace pixquill
