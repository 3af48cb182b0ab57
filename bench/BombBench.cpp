// How fast and how cheaply the loader refuses images whose headers declare
// more than 2^28 pixels: for every format's "bomb" (the test suite's own),
// the wall time of the refusal and the peak resident memory it added, each
// in a child process of its own so that peaks do not mix.

#include <chrono>
#include <cstdio>

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include "bench/ProcStatus.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/support/BrokenInputs.h"

using namespace pixquill;
using bench::PeakResidentKiB;

namespace {

// Child: load one file, print "milliseconds peak-KiB-added reason".
int RunChild(const QString& path)
{
    Surface surface;
    const long before = PeakResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    const LoadResult result = LoadImageToSurface(path, surface);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const long after = PeakResidentKiB();
    std::printf("%.2f %ld %s\n", ms, after - before,
                (result.ok ? QStringLiteral("LOADED") : result.error).toUtf8().constData());
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--child") {
        QCoreApplication app(argc, argv);
        return RunChild(QString::fromLocal8Bit(argv[2]));
    }
    QGuiApplication app(argc, argv); // the JPEG bombs are drawn with Qt

    // --write DIR: only leave the files there, for measuring other readers
    // by hand (/usr/bin/time -v).
    const bool writeOnly = argc == 3 && QByteArray(argv[1]) == "--write";
    QTemporaryDir temporary;
    const QString folder = writeOnly ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    if (!writeOnly && !temporary.isValid())
        return 1;
    if (!writeOnly)
        std::printf("%-12s %-14s %10s %12s  %s\n", "format", "file", "ms", "peak KiB +", "result");
    int over = 0;
    for (const test::ImageBomb& bomb : test::ImageBombs()) {
        const QString path = folder + QLatin1Char('/') + QString::fromLatin1(bomb.FileName);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bomb.Bytes()) < 0)
            return 1;
        file.close();
        if (writeOnly)
            continue;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), path});
        if (!child.waitForFinished(600000)) {
            std::printf("%-12s %-14s timed out\n", bomb.Format, bomb.FileName);
            ++over;
            continue;
        }
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        if (fields.size() < 3) {
            std::printf("%-12s %-14s child failed\n", bomb.Format, bomb.FileName);
            ++over;
            continue;
        }
        const double ms = fields[0].toDouble();
        const long kib = fields[1].toLong();
        const QByteArray reason = fields.mid(2).join(' ');
        const bool within = ms <= 100.0 && kib <= 50 * 1024 && reason == "image too large";
        over += !within;
        std::printf("%-12s %-14s %10.2f %12ld  %s%s\n", bomb.Format, bomb.FileName, ms, kib, reason.constData(),
                    within ? "" : "   <-- over 0.1 s / 50 MB or not refused");
    }
    if (writeOnly)
        return 0;
    std::printf("%d of %zu outside 0.1 s and 50 MB or not refused\n", over, test::ImageBombs().size());
    return over == 0 ? 0 : 2;
}
