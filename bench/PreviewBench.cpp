// The window's preview of a large photo: how long until it is on screen,
// against decoding the file alone, and how quickly the list answers a key
// while previews of that photo are being made.
//
//   pixquill_preview_bench PHOTO [ROUNDS]   (default 7 rounds)
//
// The program serves as its own decode worker (--decode-worker), as the
// window's program does. Times are medians of the rounds after a first one
// that starts the worker.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "engine/DecodeWorker.h"
#include "engine/WorkerProcess.h"
#include "ui/main/FileListBox.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"
#include "ui/widgets/SurfaceWidget.h"

using namespace pixquill;

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Processes events until the window draws the newest preview (from its
// glance, for a large picture) and then until its picture has come; the
// milliseconds from clock's start to the drawing.
double WaitForPreview(fMain* window, const QElapsedTimer& clock)
{
    // Waiting, not spinning: the worker and the preview's thread share the
    // cores with this one.
    while (!window->PreviewDrawn())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    window->ImgPreview()->repaint();
    const double drawn = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    while (window->PreviewPending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    window->ImgPreview()->repaint();
    return drawn;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], kDecodeWorkerOption) == 0) {
        QCoreApplication worker(argc, argv);
        return RunDecodeWorker();
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PHOTO [ROUNDS]\n", argv[0]);
        return 2;
    }
    const QString photo = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 7;

    // Rows 0..3: the photo under four names, so each row is a new request.
    QTemporaryDir dir;
    for (int i = 0; i < 4; ++i) {
        const QString copy = dir.filePath(QStringLiteral("photo_%1.").arg(i) + QFileInfo(photo).suffix());
        if (::link(QFile::encodeName(photo).constData(), QFile::encodeName(copy).constData()) != 0
            && !QFile::copy(photo, copy)) {
            std::fprintf(stderr, "cannot copy %s\n", argv[1]);
            return 1;
        }
    }

    // Decoding alone, in this process.
    std::vector<double> decode;
    for (int i = 0; i < rounds; ++i) {
        Surface surface;
        QElapsedTimer clock;
        clock.start();
        if (!LoadImageToSurface(photo, surface).ok) {
            std::fprintf(stderr, "cannot decode %s\n", argv[1]);
            return 1;
        }
        decode.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }

    // The worker's decode and the handing back of its picture.
    std::vector<double> look;
    {
        WorkerProcess worker({QCoreApplication::applicationFilePath(), {QString::fromLatin1(kDecodeWorkerOption)}, 60},
                             WorkerJob{});
        for (int i = 0; i <= rounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            const LookedPicture looked = worker.Look(photo);
            if (i > 0)
                look.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
            if (!looked.Result.Written) {
                std::fprintf(stderr, "worker: %s\n", qPrintable(looked.Result.Reason));
                return 1;
            }
        }
    }

    fMain* window = StartUp();
    window->SetDecodeWorker({QCoreApplication::applicationFilePath(),
                             {QString::fromLatin1(kDecodeWorkerOption)}, 60});
    window->txtImgDir()->setText(dir.path());
    FileListBox* list = window->fbImages();
    QCoreApplication::processEvents();

    // From the click to the preview drawn in the box, and to the picture
    // itself in the window (what the full-screen view shows).
    std::vector<double> preview;
    std::vector<double> whole;
    double first = 0;
    for (int i = 0; i <= rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        list->setCurrentRow(i % 4);
        window->fbImages_Click();
        const double ms = WaitForPreview(window, clock);
        if (i == 0) {
            first = ms;
        } else {
            preview.push_back(ms);
            whole.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
    }

    // Keys pressed every 20 ms for 3 s, each a new preview request: from the
    // key event being queued to the highlight having moved.
    std::vector<double> keys;
    QElapsedTimer span;
    span.start();
    int key = Qt::Key_Down;
    while (span.elapsed() < 3000) {
        const int before = list->currentRow();
        if (before == 3)
            key = Qt::Key_Up;
        else if (before == 0)
            key = Qt::Key_Down;
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
        while (list->currentRow() == before)
            QCoreApplication::processEvents();
        keys.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        // The rest of the 20 ms: the window idles in its event loop.
        QEventLoop idle;
        QTimer::singleShot(20, &idle, &QEventLoop::quit);
        idle.exec();
    }
    WaitForPreview(window, span);

    std::printf("photo: %s\n", argv[1]);
    std::printf("decode alone (in process), median of %d: %.1f ms\n", rounds, Median(decode));
    std::printf("decode in the worker, picture handed back, median of %d: %.1f ms\n", rounds, Median(look));
    std::printf("click to preview on screen, first (starts the worker): %.1f ms\n", first);
    std::printf("click to preview on screen, median of %d: %.1f ms (%.2f x decode)\n", rounds, Median(preview),
                Median(preview) / Median(decode));
    std::printf("click to the picture itself in the window, median of %d: %.1f ms\n", rounds, Median(whole));
    std::printf("key press to highlight, %zu presses while previewing: median %.2f ms, max %.2f ms\n", keys.size(),
                Median(keys), keys.empty() ? 0.0 : *std::max_element(keys.begin(), keys.end()));
    delete window;
    return 0;
}
