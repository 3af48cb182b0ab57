#pragma once

#include <functional>

#include <QColor>
#include <QImage>

namespace pixquill {

// A drawing surface: a persistent image that keeps everything drawn into it
// (also while nobody shows it), an assigned picture that Cls() restores, and a
// back colour. Hidden surfaces (the load and thumbnail surfaces, the viewer's
// source) are plain Surface objects; visible ones are SurfaceWidget, which
// paints one.
//
// Width()/Height() are the outer size; ScaleWidth()/ScaleHeight() the inner
// size, smaller by the border on each side. The persistent image always has
// the inner size, in QImage::Format_RGB32. Not thread-safe: one thread owns a
// surface (the GUI thread for visible ones, a worker for a batch job's own).
class Surface {
public:
    explicit Surface(int width = 0, int height = 0, QColor backColor = Qt::white);
    virtual ~Surface() = default;

    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Setting either size resizes the persistent image at once; drawing in the
    // overlapping area is kept, new area takes the back colour.
    void SetWidth(int width);
    void SetHeight(int height);
    void Resize(int width, int height);
    // Makes a finished image the persistent one, the surface sized to hold it
    // (inner size = the image's). The image is made by the caller first, so a
    // failed allocation leaves the surface as it was. A null image, or one not
    // in Format_RGB32, is refused (false) and changes nothing.
    bool AdoptImage(QImage image);

    // For a caller that overwrites every pixel next: the same size change as
    // Resize(), but the old drawing is neither kept nor wiped, the new image
    // is not filled, and the old memory goes before the new is taken (or is
    // reused when the size stays and no picture shares it), so a large image
    // is never held twice.
    void ResizeForOverwrite(int width, int height);

    // A scratch surface is one whose drawing nobody looks at after a failed
    // load (a batch worker's own load surface: the next image replaces it
    // anyway). A load into it frees the old image before taking the new one,
    // so a large photo is never held twice; a failure for lack of memory then
    // leaves it empty. Off by default: a surface a person sees keeps its
    // picture when the next one cannot be loaded.
    void SetScratch(bool scratch) { m_scratch = scratch; }
    bool IsScratch() const { return m_scratch; }

    int ScaleWidth() const { return m_image.width(); }
    int ScaleHeight() const { return m_image.height(); }

    // Inner area inset on each side (a 2-pixel sunken border gives 2).
    int BorderWidth() const { return m_border; }
    void SetBorderWidth(int border);

    // The persistent image; draw into it with QPainter or row access, then
    // Refresh() to show a visible surface. Never change its size directly.
    QImage& Image() { return m_image; }
    const QImage& Image() const { return m_image; }

    // The assigned picture (null when empty). Shared, not copied: QImage is
    // implicitly shared, so Picture() = Image() is a cheap snapshot.
    const QImage& Picture() const { return m_picture; }
    void SetPicture(const QImage& picture);
    // Snapshot of what is drawn now, so a later Cls() brings it back.
    void SetPictureFromImage() { SetPicture(m_image); }

    // When set, assigning a picture resizes the surface to the picture.
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool autoSize) { m_autoSize = autoSize; }

    QColor BackColor() const { return m_backColor; }
    void SetBackColor(const QColor& color);

    // Wipe the drawing: back colour, then the assigned picture at (0, 0).
    void Cls();

    // Show the persistent image on screen (no-op for a hidden surface).
    void Refresh();

    // Hooks for a widget that shows this surface.
    void SetRefreshHandler(std::function<void()> handler) { m_onRefresh = std::move(handler); }
    void SetResizeHandler(std::function<void(int, int)> handler) { m_onResize = std::move(handler); }

private:
    void RebuildImage();

    int m_width = 0;
    int m_height = 0;
    int m_border = 0;
    bool m_autoSize = false;
    bool m_scratch = false;
    QColor m_backColor;
    QImage m_image;
    QImage m_picture;
    std::function<void()> m_onRefresh;
    std::function<void(int, int)> m_onResize;
};

} // namespace pixquill
