// Throughput and peak memory of a thumbnail batch: images per second and the
// process's peak resident size, for 1 and 2 workers, for the area-averaging
// stretch against FreeImage's Lanczos3 filter, and with the images decoded on
// threads of the batch's own process or in decode worker processes (as
// pixquill-batch does by default). Each configuration runs in a child
// process of its own so that peaks do not mix.

#include <chrono>
#include <cstdio>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include "bench/ProcStatus.h"
#include "engine/DecodeWorker.h"
#include "engine/FolderListing.h"
#include "engine/OptionTables.h"
#include "engine/BatchEngine.h"

using namespace pixquill;
using bench::PeakResidentKiB;

namespace {

// This process's and its finished children's (the decode workers').
double CpuSeconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// The largest peak of a finished child (a decode worker), in KiB.
long ChildrenPeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

// A photo-like picture: gradients, shapes and fine detail, so that decoders
// and filters have real work to do.
QImage DrawPicture(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb((x * 255 / width + seed * 37) & 0xFF, (y * 255 / height) & 0xFF,
                          ((x ^ y) + seed * 11) & 0xFF);
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(QColor::fromHsv((i * 29 + seed * 13) % 360, 200, 220));
        painter.drawEllipse(QPoint((i * 397 + seed * 101) % width, (i * 211 + seed * 53) % height),
                            40 + i * 3, 30 + i * 2);
    }
    return image;
}

int RunChild(const QStringList& args)
{
    // args: SOURCE DEST JOBS FILTERCODE PROCESSES(0 or 1)
    JobSettings settings;
    settings.SourceFolder = args[0];
    settings.DestinationFolder = args[1];
    settings.ResampleFilter = args[3].toInt();
    settings.WidthText = "160";
    settings.HeightText = "160";
    QDir().mkpath(settings.DestinationFolder);
    const Outcome<QStringList> listing = ReadFolderListing(settings.SourceFolder, "*.*");
    const QStringList names = listing ? *listing : QStringList();
    const long before = PeakResidentKiB();
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    WorkerCommand workers;
    if (args[4] == "1")
        workers = {QCoreApplication::applicationFilePath(), {QString::fromLatin1(kDecodeWorkerOption)}};
    BatchPlan plan;
    plan.Names = names;
    plan.Jobs = args[2].toInt();
    plan.Workers = workers;
    const BatchReport result = RunBatch(plan, SettingsSnapshot(settings));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d %.3f %ld %ld %.3f %ld\n", result.Tally.Written, seconds, before, PeakResidentKiB(),
                CpuSeconds() - cpuBefore, ChildrenPeakKiB());
    return result.Tally.Failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], kDecodeWorkerOption) == 0)
        return RunDecodeWorker();
    QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() && args.first() == "--child")
        return RunChild(args.mid(1));

    const int count = args.value(0, "24").toInt();
    const int width = args.value(1, "2400").toInt();
    const int height = args.value(2, "1600").toInt();

    QTemporaryDir root;
    const QString source = root.filePath("source");
    QDir().mkdir(source);
    for (int i = 0; i < count; ++i)
        DrawPicture(width, height, i).save(QStringLiteral("%1/img%2.jpg").arg(source).arg(i, 3, 10, QLatin1Char('0')), "JPG", 90);
    std::printf("%d JPEG images of %d x %d, thumbnails fit in 160 x 160, written as JPEG\n", count,
                width, height);
    std::printf("%-10s %5s %-9s %10s %12s %12s %16s %14s %16s\n", "filter", "jobs", "decoding", "seconds",
                "images/s", "CPU seconds", "peak RSS (MiB)", "baseline (MiB)", "worker peak (MiB)");

    struct Config {
        const char* Name;
        int Filter;
        int Jobs;
        bool Processes;
    };
    for (const Config& config :
         {Config{"None", kFilterHalftone, 1, false}, Config{"None", kFilterHalftone, 1, true},
          Config{"None", kFilterHalftone, 2, false}, Config{"None", kFilterHalftone, 2, true},
          Config{"Lanczos3", kFilterLanczos3, 1, false}, Config{"Lanczos3", kFilterLanczos3, 1, true},
          Config{"Lanczos3", kFilterLanczos3, 2, false}, Config{"Lanczos3", kFilterLanczos3, 2, true}}) {
        const char* decoding = config.Processes ? "processes" : "threads";
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--child", source,
                     root.filePath(QStringLiteral("out-%1-%2-%3").arg(config.Name).arg(config.Jobs).arg(decoding)),
                     QString::number(config.Jobs), QString::number(config.Filter),
                     config.Processes ? "1" : "0"});
        child.waitForFinished(-1);
        const QStringList fields = QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(u' ');
        if (child.exitCode() != 0 || fields.size() != 6) {
            std::printf("%-10s %5d %-9s  failed\n", config.Name, config.Jobs, decoding);
            continue;
        }
        const double seconds = fields[1].toDouble();
        std::printf("%-10s %5d %-9s %10.2f %12.2f %12.2f %16.1f %14.1f %16.1f\n", config.Name, config.Jobs,
                    decoding, seconds, fields[0].toInt() / seconds, fields[4].toDouble(),
                    fields[3].toDouble() / 1024.0, fields[2].toDouble() / 1024.0,
                    config.Processes ? fields[5].toDouble() / 1024.0 : 0.0);
    }
    return 0;
}
