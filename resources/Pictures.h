#pragma once

#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace pixquill {

// The embedded pictures of the windows, by file name ("skin.png",
// "button-close-hover.png", ...). A name that is not embedded gives a null
// image, never an error.
QString PicturePath(const QString& name);
QImage LoadPicture(const QString& name);
QPixmap LoadPixmap(const QString& name);

// The 32 x 32 pointing hand (black, white and transparent), hot spot on the
// tip of the raised finger. Needs a QGuiApplication.
QCursor HandCursor();
inline constexpr int kHandHotSpotX = 6;
inline constexpr int kHandHotSpotY = 1;

// The program's 32 x 32, 256-colour icon.
QIcon WindowIcon();

} // namespace pixquill
