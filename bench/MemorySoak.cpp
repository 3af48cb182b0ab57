// pixquill_soak: does a long batch grow? Runs COUNT images (the images of
// SOURCE over and over, through links with names of their own) and prints
// the resident size after the first 50 images and after the last, with the
// resident size after every 50 in between.
//
//   pixquill_soak SOURCE [COUNT] [--jobs N] [--fast] [--filter CODE]
//
// Without --jobs the images are made one after another, on one load surface
// and one thumbnail surface; with --jobs N, N at once.

#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "bench/ProcStatus.h"
#include "engine/BatchEngine.h"
#include "engine/FolderListing.h"
#include "engine/OptionTables.h"

using namespace pixquill;
using bench::StatusKiB;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    int jobs = 0;
    bool fast = false;
    int filter = kFilterHalftone;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--jobs" && i + 1 < args.size())
            jobs = args[++i].toInt();
        else if (args[i] == "--fast")
            fast = true;
        else if (args[i] == "--filter" && i + 1 < args.size())
            filter = args[++i].toInt();
        else
            positional.append(args[i]);
    }
    if (positional.isEmpty()) {
        std::fprintf(stderr, "usage: pixquill_soak SOURCE [COUNT] [--jobs N] [--fast] [--filter CODE]\n");
        return 2;
    }
    const int count = positional.value(1, "1000").toInt();
    const QString source = QDir(positional[0]).absolutePath();
    const Outcome<QStringList> listing = ReadFolderListing(source, *FileMaskAt(kFileMaskAllSupported));
    const QStringList images = listing ? *listing : QStringList();
    if (images.isEmpty() || count < 51) {
        std::fprintf(stderr, "pixquill_soak: no images in %s, or COUNT below 51\n", qPrintable(source));
        return 2;
    }

    // The images go round in a cycle whose length divides COUNT - 50, so
    // that image 50 and the last image come after the very same images: any
    // difference between the two figures is growth, not which picture the
    // load surface happens to hold or the allocator happens to keep.
    int cycle = static_cast<int>(images.size());
    while (cycle > 1 && (count - 50) % cycle != 0)
        --cycle;

    QTemporaryDir root;
    const QString links = root.filePath("links");
    QDir().mkdir(links);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QString& image = images[i % cycle];
        const QString name = QStringLiteral("n%1-%2").arg(i, 5, 10, QLatin1Char('0')).arg(image);
        QFile::link(source + "/" + image, links + "/" + name);
        names.append(name);
    }

    JobSettings settings;
    settings.SourceFolder = links;
    settings.DestinationFolder = root.filePath("thumbs");
    settings.ResampleFilter = filter;
    settings.FastDecode = fast;

    std::vector<long> every50;
    // Taken inside the run, while the surfaces still hold the image in hand.
    auto sample = [&](int done) {
        if (done % 50 == 0 || done == count)
            every50.push_back(StatusKiB("VmRSS:"));
    };
    QDir().mkdir(settings.DestinationFolder);
    BatchPlan plan;
    plan.Names = names;
    plan.Jobs = std::max(jobs, 1);
    const int written = RunBatch(plan, SettingsSnapshot(settings), [&](const ImageResult&, int done, int) {
                            sample(done);
                        }).Tally.Written;
    const long after = every50.back();
    std::printf("images %d (a cycle of %d) written %d road %s\n", count, cycle, written,
                jobs <= 0 ? "one at a time" : qPrintable(QStringLiteral("parallel, %1 jobs%2").arg(jobs).arg(fast ? ", fast" : "")));
    std::printf("rss-after-50 %ld KiB rss-after-last %ld KiB change %+.1f %% peak %ld KiB\n", every50.front(), after,
                100.0 * static_cast<double>(after - every50.front()) / static_cast<double>(every50.front()), StatusKiB("VmHWM:"));
    std::printf("rss-every-50");
    for (long kib : every50)
        std::printf(" %ld", kib);
    std::printf("\n");
    return written == count ? 0 : 1;
}
