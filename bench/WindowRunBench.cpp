// The window's run against pixquill-batch on the same photos and settings:
// the window itself (offscreen unless a display is given), Start pressed with
// every row selected and its default settings, timed from the press to the
// run's last caption; then pixquill-batch SOURCE DEST with the same defaults.
// Both decode in worker processes, as they do for a user. Prints the median
// of REPEATS runs of each, their ratio, and whether every thumbnail is the
// same bytes.
//
//   pixquill_window_run_bench PIXQUILL_BATCH SOURCE [REPEATS]   (default 5)
//
// The program serves as the window's decode worker (--decode-worker).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "engine/BatchThread.h"
#include "engine/DecodeWorker.h"
#include "ui/main/FileListBox.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"

using namespace pixquill;

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Seconds from pressing Start to the run's end.
double RunWindow(const QString& source, const QString& destination, QString& caption)
{
    fMain* window = StartUp();
    window->SetDecodeWorker({QCoreApplication::applicationFilePath(), {QString::fromLatin1(kDecodeWorkerOption)}, 120});
    window->chkPreview()->setChecked(false);
    window->txtImgDir()->setText(source);
    window->txtThumbDir()->setText(destination);
    window->cmdselect_Click(0);
    QEventLoop loop;
    QObject::connect(window, &fMain::BatchEnded, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    window->cmdAction_Click(0);
    if (window->Batch().IsRunning())
        loop.exec();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    caption = window->lblCount()->text().replace(QLatin1Char('\n'), QLatin1Char(' '));
    delete window;
    return seconds;
}

double RunCli(const QString& program, const QString& source, const QString& destination, QString& caption)
{
    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(program, {source, destination});
    cli.waitForFinished(-1);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    caption = QString::fromLocal8Bit(cli.readAllStandardOutput()).trimmed();
    return seconds;
}

// Names that differ between the two folders, or whose bytes do.
int Differences(const QString& a, const QString& b)
{
    const QStringList left = QDir(a).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    const QStringList right = QDir(b).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    if (left != right)
        return static_cast<int>(std::max(left.size(), right.size()));
    int different = 0;
    for (const QString& name : left) {
        QFile x(a + QLatin1Char('/') + name);
        QFile y(b + QLatin1Char('/') + name);
        if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly) || x.readAll() != y.readAll())
            ++different;
    }
    return different;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], kDecodeWorkerOption) == 0) {
        QCoreApplication worker(argc, argv);
        return RunDecodeWorker();
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PIXQUILL_BATCH SOURCE [REPEATS]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const QString cli = QString::fromLocal8Bit(argv[1]);
    const QString source = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    QTemporaryDir out;
    std::vector<double> window;
    std::vector<double> batch;
    QString windowCaption;
    QString batchCaption;
    int differences = 0;
    // A warm-up of each first: the page cache and the libraries' first loads.
    for (int r = -1; r < repeats; ++r) {
        const QString w = out.filePath(QStringLiteral("window%1").arg(r + 1));
        const QString c = out.filePath(QStringLiteral("cli%1").arg(r + 1));
        const double ws = RunWindow(source, w, windowCaption);
        const double cs = RunCli(cli, source, c, batchCaption);
        differences = Differences(w, c);
        QDir(w).removeRecursively();
        QDir(c).removeRecursively();
        if (r >= 0) {
            window.push_back(ws);
            batch.push_back(cs);
        }
    }
    std::printf("cores %d\n", QThread::idealThreadCount());
    std::printf("window         %.3f s  (%s)\n", Median(window), qPrintable(windowCaption));
    std::printf("pixquill-batch %.3f s  (%s)\n", Median(batch), qPrintable(batchCaption));
    std::printf("ratio          %.3f\n", Median(window) / Median(batch));
    std::printf("thumbnails that differ: %d\n", differences);
    return differences == 0 ? 0 : 1;
}
