// The window's batch with its decode worker: milliseconds per image with few
// and with many names listed and selected. What the worker is sent for each
// image must not grow with the list, so every row should show about the same
// time after the first image (which starts the worker and sends it the
// names once). The folders are filled with hard links to one small image, so the
// decoding itself costs little and what is measured is the road around it.
//
//   pixquill_window_batch_bench [LISTED] [SELECTED]   (default 100000 1000)
//
// The program serves as its own decode worker (--decode-worker).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>

#include "engine/BatchThread.h"
#include "engine/DecodeWorker.h"
#include "engine/OptionTables.h"
#include "ui/main/FileListBox.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"

using namespace pixquill;

namespace {

// count files IMG_0.jpg... in folder, hard links to one small JPEG.
bool FillFolder(const QString& folder, int count)
{
    QByteArray original;
    for (int i = 0; i < count; ++i) {
        const QString path = folder + QStringLiteral("/IMG_%1.jpg").arg(i);
        // ext4 allows 65,000 links to one file.
        if (i % 50000 == 0) {
            QImage image(64, 48, QImage::Format_RGB32);
            image.fill(Qt::darkCyan);
            if (!image.save(path, "JPEG"))
                return false;
            original = QFile::encodeName(path);
            continue;
        }
        if (::link(original.constData(), QFile::encodeName(path).constData()) != 0) {
            std::perror("link");
            return false;
        }
    }
    return true;
}

struct Row {
    int Listed;
    int Selected;
    int Processed;      // images the run handled before it was stopped
    double FirstMs;     // the first image, with the start of the worker and the names sent to it
    double MsPerImage;  // every image after the first
};

// Selects the first `selected` rows of a folder of `listed` files, starts the
// run and stops it after at most `limit` images.
Row Measure(const QString& program, int listed, int selected, int limit)
{
    QTemporaryDir source;
    QTemporaryDir destination;
    if (!FillFolder(source.path(), listed))
        return {listed, selected, 0, 0.0, 0.0};
    fMain* window = StartUp();
    window->SetDecodeWorker({program, {QString::fromLatin1(kDecodeWorkerOption)}, 60});
    window->chkPreview()->setChecked(false);
    window->txtImgDir()->setText(source.path());
    window->txtThumbDir()->setText(destination.path());
    // One change of the selection: row by row is quadratic in Qt.
    QListWidget* list = window->fbImages();
    const int last = std::min(selected, list->count()) - 1;
    list->selectionModel()->select(QItemSelection(list->model()->index(0, 0), list->model()->index(last, 0)),
                                   QItemSelectionModel::Select);

    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    int processed = 0;
    Clock::time_point first;
    QObject::connect(window, &fMain::BatchImageDone, window, [&](int i, int) {
        processed = i;
        if (i == 1)
            first = Clock::now();
        if (i >= limit)
            window->cmdAction_Click(1);
    });
    const auto start = Clock::now();
    // The run goes on off the window's thread: wait for its end here.
    QEventLoop loop;
    QObject::connect(window, &fMain::BatchEnded, &loop, &QEventLoop::quit);
    window->cmdAction_Click(0);
    if (window->Batch().IsRunning())
        loop.exec();
    const auto end = Clock::now();
    delete window;
    return {listed, selected, processed, ms(first - start), processed > 1 ? ms(end - first) / (processed - 1) : 0.0};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], kDecodeWorkerOption) == 0) {
        QCoreApplication worker(argc, argv);
        return RunDecodeWorker();
    }
    QApplication app(argc, argv);
    const int listed = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int selected = argc > 2 ? std::atoi(argv[2]) : 1000;
    const QString program = QCoreApplication::applicationFilePath();

    // A warm-up run first: the worker's first start and the page cache.
    Measure(program, 100, 100, 100);
    const Row rows[] = {
        Measure(program, 100, 100, 100),
        Measure(program, listed, selected, selected),
        // Everything selected: the run is stopped after `selected` images.
        Measure(program, listed, listed, selected),
    };
    std::printf("%10s %10s %10s %14s %14s\n", "listed", "selected", "processed", "first image ms",
                "ms/image after");
    for (const Row& row : rows)
        std::printf("%10d %10d %10d %14.1f %14.2f\n", row.Listed, row.Selected, row.Processed, row.FirstMs,
                    row.MsPerImage);
    return 0;
}
