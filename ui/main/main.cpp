#include <csignal>

#include <QApplication>
#include <QCoreApplication>

#include "engine/DecodeWorker.h"
#include "resources/Pictures.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"

namespace {

// A broken file may crash or hang FreeImage; the window would go with it.
// So the window decodes nothing itself: the batch's images and the previews
// are decoded in copies of this program started as decode workers, once
// each, and the window only draws the previews' pictures. A worker needs no
// display. The timeout is per file.
constexpr int kWindowDecodeTimeoutSeconds = 120;

} // namespace

int main(int argc, char** argv)
{
    // A write past a file-size limit fails (EFBIG, "File too large") instead
    // of killing the window or its decode worker.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc == 2 && qstrcmp(argv[1], pixquill::kDecodeWorkerOption) == 0) {
        QCoreApplication worker(argc, argv);
        return pixquill::RunDecodeWorker();
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixquill"));
    QApplication::setOrganizationName(QStringLiteral("Zorvex"));
    // Lets desktops match the window to the installed menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("pixquill"));
    QApplication::setWindowIcon(pixquill::WindowIcon());
    pixquill::fMain* window = pixquill::StartUp();
    window->SetDecodeWorker({QCoreApplication::applicationFilePath(),
                             {QString::fromLatin1(pixquill::kDecodeWorkerOption)},
                             kWindowDecodeTimeoutSeconds});
    return QApplication::exec();
}
