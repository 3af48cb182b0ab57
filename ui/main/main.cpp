#include <QApplication>

#include "resources/Pictures.h"
#include "ui/main/mStartup.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixquill"));
    QApplication::setOrganizationName(QStringLiteral("Zorvex"));
    // Lets desktops match the window to the installed menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("pixquill"));
    QApplication::setWindowIcon(pixquill::WindowIcon());
    pixquill::StartUp();
    return QApplication::exec();
}
