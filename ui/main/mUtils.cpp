#include "mUtils.h"

#include <QDesktopServices>
#include <QUrl>
#include <QWidget>
#include <QWindow>

namespace pixquill {

void OpenDocument(const QString& target)
{
    // A one-letter scheme is a drive letter ("C:/x"), not a URL.
    const QUrl parsed(target, QUrl::StrictMode);
    const bool isUrl = parsed.isValid() && parsed.scheme().size() > 1;
    const QUrl url = isUrl ? parsed : QUrl::fromLocalFile(target);
    if (url.isEmpty())
        return;
    (void)QDesktopServices::openUrl(url);
}

bool DragWindow(QWidget* widget)
{
    if (!widget)
        return false;
    QWidget* window = widget->window();
    QWindow* handle = window->windowHandle();
    if (!handle)
        return false;
    return handle->startSystemMove();
}

} // namespace pixquill
