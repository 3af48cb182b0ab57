#pragma once

#include <QImage>
#include <QWidget>

namespace pixquill {

class ImageAceX;

// The full-screen view: a frameless, maximised, black window without a task
// bar entry, owned by the window that opens it and kept in front of it. Its
// one viewer, imView, shows the picture at actual size with scroll bars when
// it is larger than the screen, centred otherwise. The wheel (with Shift:
// sideways), the arrow keys, Page Up/Down and Home/End scroll it. A double
// click anywhere or Esc closes and destroys it; the next opening starts
// afresh. GUI thread only.
class fFullScale : public QWidget {
    Q_OBJECT
public:
    // Usually opened through ShowPicture.
    explicit fFullScale(QWidget* owner = nullptr);
    ~fFullScale() override;

    ImageAceX* imView() const { return m_imView; }

    // Opens the view on picture (creating the window when none is open) and
    // returns it; a null picture opens nothing and returns nullptr. The
    // picture is assigned before the window is shown, so the first resize
    // brings it into the display. The window destroys itself when closed.
    static fFullScale* ShowPicture(QWidget* owner, const QImage& picture);

    // The open window, or nullptr.
    static fFullScale* Instance();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void HandleKeyAscii(int& KeyAscii);
    // Scrolls for a key that moves the view; false for any other key.
    bool ScrollFor(const QKeyEvent* event);

    ImageAceX* m_imView = nullptr;
};

} // namespace pixquill
