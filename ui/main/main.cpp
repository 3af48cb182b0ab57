#include <csignal>

#include <QApplication>
#include <QCoreApplication>

#include "engine/DecodeWorker.h"
#include "resources/Pictures.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"

namespace {

// A broken file may crash or hang FreeImage; the window would go with it.
// So the window has every file decoded first by a copy of this program
// started as a decode worker, and only then decodes it itself. The worker
// needs no display.
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
