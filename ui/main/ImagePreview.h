#pragma once

// The preview panel's work, apart from the window: the file's size and
// dimensions as the panel's labels show them, and the load of one file into
// the load surface, shrunk into the preview box.

#include <functional>
#include <optional>

#include <QImage>
#include <QLocale>
#include <QPoint>
#include <QSize>
#include <QString>

#include "codec/MFreeImage_2.h"

namespace pixquill {

class Surface;
class SurfaceWidget;

// Loads an image file into the load surface; LoadImageToSurface unless a
// caller puts something else in its place (tests count loads through it).
using ImageLoader = std::function<LoadResult(const QString& path, Surface& picLoad)>;

// The file size as "###,##0 KB": bytes / 1024, rounded half to even, digits
// grouped by the locale's separator (977 KB for 1,000,000 bytes, 0 KB for 500).
QString FileSizeCaption(qint64 bytes, const QLocale& locale = QLocale());

// Width "x" height, each number behind its sign position, which is a blank
// for a number that is not negative: " 640x 480".
QString DimensionsCaption(int width, int height);

struct PreviewTexts {
    QString FileSize;   // FileSizeCaption of the file's length (0 KB when unreadable)
    QString Dimensions; // DimensionsCaption of the loaded image, or "Cannot read"
    bool Decoded = false;
    QString Reason;     // why the file could not be shown; empty when decoded
};

// What a preview loader hands the panel for one file.
struct LoadedPreview {
    qint64 FileBytes = 0;
    LoadResult Loaded;
    QImage Picture; // the whole loaded picture
    QImage Fitted;  // already shrunk into the box's inner size; may be null
    QImage Sharp;   // a dense screen's copy of Fitted's picture; may be null
    QPoint SharpAt;
    // The file's dimensions as loaded, where the picture is smaller (one
    // above 64 megapixels travels from the worker halved); null: Picture's.
    QSize Dimensions;
};

// Shows a file's loaded picture (decoded elsewhere, see PreviewLoader): it
// becomes picLoad's drawing and picture and is shrunk into the preview box,
// centred (Fitted when it fits the box, else here). A file that could not be
// decoded leaves picLoad as it was and clears the box, so the panel never
// shows one file's picture beside another's size.
PreviewTexts ShowLoadedPreview(LoadedPreview loaded, Surface& picLoad, SurfaceWidget& preview);

// Shows the drawing of a picture still on its way (Fitted, and Sharp on a
// dense screen) with its Dimensions; picLoad is left as it is. Nothing, and
// the box as it was, when Fitted no longer fits the box.
std::optional<PreviewTexts> ShowEarlyPreview(const LoadedPreview& loaded, SurfaceWidget& preview);

} // namespace pixquill
