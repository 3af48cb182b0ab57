#include "mStartup.h"

#include <QGuiApplication>
#include <QScreen>

#include "ui/main/fMain.h"

namespace pixquill {

fMain* StartUp()
{
    auto* window = new fMain();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.x() + (area.width() - window->width()) / 2,
                     area.y() + (area.height() - window->height()) / 2);
    }
    window->show();
    return window;
}

} // namespace pixquill
