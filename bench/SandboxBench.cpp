// What the decode workers' lock-down costs: the start-up of a worker (from
// its start to the answer to its first request, a look at a small file) and
// the time per image of a batch of photos through one worker, each with the
// lock-down and without it (the files handed over in both). The two kinds
// take turns, round after round, so that a machine whose load changes
// weighs on both alike; printed are the medians and the median of each
// round's ratio (locked down against unlocked), which drifts least. Last,
// the lock-down's own calls, timed by 200 fresh processes (forked, each
// with one thread, as a worker has when it locks itself down).
//
//   pixquill_sandbox_bench PHOTOS [ROUNDS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "codec/MFreeImage_2.h"
#include "engine/DecodeWorker.h"
#include "engine/FolderListing.h"
#include "engine/OptionTables.h"
#include "engine/WorkerProcess.h"
#include "engine/WorkerSandbox.h"

using namespace pixquill;

namespace {

constexpr char kUnlockedWorkerOption[] = "--decode-worker-unlocked";

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

WorkerCommand Worker(bool locked)
{
    return {QCoreApplication::applicationFilePath(),
            {QString::fromLatin1(locked ? kDecodeWorkerOption : kUnlockedWorkerOption)}};
}

// The microseconds a fresh process takes to prepare the libraries and lock
// itself down, from a child that reports them through a pipe; -1 on failure.
double LockDownAloneMicroseconds()
{
    int ends[2];
    if (::pipe(ends) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        const auto start = std::chrono::steady_clock::now();
        PrepareLibrariesForSandbox();
        const SandboxState state = LockDownWorker();
        const double us = MillisecondsSince(start) * 1000.0;
        const double report = state.Seccomp ? us : -1;
        ::_exit(::write(ends[1], &report, sizeof report) == sizeof report ? 0 : 1);
    }
    ::close(ends[1]);
    double us = -1;
    if (child < 0 || ::read(ends[0], &us, sizeof us) != sizeof us)
        us = -1;
    ::close(ends[0]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return us;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], kDecodeWorkerOption) == 0)
        return RunDecodeWorker();
    if (argc == 2 && qstrcmp(argv[1], kUnlockedWorkerOption) == 0) {
        DecodeWorkerHooks hooks;
        hooks.LockDown = false;
        return RunDecodeWorker(hooks);
    }
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: pixquill_sandbox_bench PHOTOS [ROUNDS]\n");
        return 2;
    }
    const QString photos = args[0];
    const int rounds = args.value(1, QStringLiteral("7")).toInt();

    QTemporaryDir root;
    const QString small = root.filePath(QStringLiteral("small.png"));
    QImage(64, 48, QImage::Format_RGB32).save(small);
    JobSettings settings;
    settings.SourceFolder = photos;
    settings.WidthText = QStringLiteral("160");
    settings.HeightText = QStringLiteral("160");
    settings.OutputFormat = 3; // JPEG
    const Outcome<QStringList> listing = ReadFolderListing(photos, QStringLiteral("*.*"));
    const QStringList names = listing ? *listing : QStringList();

    std::vector<double> startup[2];
    std::vector<double> perImage[2];
    std::vector<double> startupRatio;
    std::vector<double> perImageRatio;
    for (int round = 0; round < rounds; ++round) {
        double roundStartup[2] = {};
        for (const bool locked : {false, true}) {
            std::vector<double> starts;
            for (int i = 0; i < 10; ++i) {
                const auto start = std::chrono::steady_clock::now();
                WorkerProcess worker(Worker(locked), WorkerJob{});
                if (!worker.Look(small).Result.Written)
                    return 1;
                starts.push_back(MillisecondsSince(start));
            }
            startup[locked].insert(startup[locked].end(), starts.begin(), starts.end());
            roundStartup[locked] = Median(starts);
            settings.DestinationFolder = root.filePath(QStringLiteral("out-%1").arg(locked));
            QDir().mkpath(settings.DestinationFolder);
            WorkerProcess worker(Worker(locked), WorkerJob{settings, {}});
            worker.Look(small); // started before the clock runs
            const auto start = std::chrono::steady_clock::now();
            int written = 0;
            for (const QString& name : names)
                written += CommitImage(worker.Make(name)).front().Written ? 1 : 0;
            perImage[locked].push_back(MillisecondsSince(start) / static_cast<double>(std::max<qsizetype>(1, names.size())));
            if (written != names.size())
                std::fprintf(stderr, "%d of %lld written\n", written, static_cast<long long>(names.size()));
        }
        startupRatio.push_back(roundStartup[1] / roundStartup[0]);
        perImageRatio.push_back(perImage[1].back() / perImage[0].back());
    }
    std::printf("%lld images in %s, thumbnails fit in 160 x 160, JPEG; %d rounds, medians\n",
                static_cast<long long>(names.size()), qPrintable(photos), rounds);
    std::printf("%-12s %18s %18s\n", "worker", "start-up (ms)", "per image (ms)");
    for (const bool locked : {false, true})
        std::printf("%-12s %18.2f %18.2f\n", locked ? "locked down" : "unlocked", Median(startup[locked]),
                    Median(perImage[locked]));
    std::printf("%-12s %17.1f%% %17.1f%%\n", "difference",
                100.0 * (Median(startup[1]) / Median(startup[0]) - 1),
                100.0 * (Median(perImage[1]) / Median(perImage[0]) - 1));
    std::printf("%-12s %17.1f%% %17.1f%%\n", "per round",
                100.0 * (Median(startupRatio) - 1), 100.0 * (Median(perImageRatio) - 1));
    std::vector<double> alone;
    for (int i = 0; i < 200; ++i)
        if (const double us = LockDownAloneMicroseconds(); us >= 0)
            alone.push_back(us);
    std::sort(alone.begin(), alone.end());
    if (alone.empty())
        std::printf("lock-down alone: not measured (%s)\n", qPrintable(DescribeSandbox(AvailableSandbox())));
    else
        std::printf("lock-down alone, %zu processes (us): median %.0f, tenth %.0f, ninetieth %.0f\n", alone.size(),
                    Median(alone), alone[alone.size() / 10], alone[alone.size() * 9 / 10]);
    return 0;
}
