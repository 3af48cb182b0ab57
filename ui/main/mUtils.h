#pragma once

#include <QString>

class QWidget;

namespace pixquill {

// Opens a web address or a file with the user's default program. A target
// with a URL scheme ("https://...") is opened as such, anything else as a
// local path. Failure (no browser, nothing registered) is ignored silently.
void OpenDocument(const QString& target);

// Hands the window that holds `widget` to the window system's move loop, as
// if its title bar had been grabbed; the window then follows the pointer
// until the button is released. Returns false when the platform cannot move
// windows for us (no window manager, offscreen): the caller may then move the
// window itself. Call it from a mouse press.
bool DragWindow(QWidget* widget);

} // namespace pixquill
