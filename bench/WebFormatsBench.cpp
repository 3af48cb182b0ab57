// Size and encoding time of the lossy formats over a range of qualities, on
// real photos: each *.jpg of PHOTOS (not the "-progressive" copies) is made
// into a 100 x 100 and a 400 x 400 (fit inside) thumbnail as pixquill-batch
// makes it (filter None) and written losslessly as PNG, the reference; then
// the same thumbnail is saved in each of JPEG, WebP, AVIF and JPEG XL at each
// quality, into OUT/BOX/FORMAT-qQUALITY/. Each save is timed in CPU time of
// the thread (the machine is shared), best of RUNS. One line per save on
// standard output, tab-separated: box, photo, format, quality, width, height,
// bytes, milliseconds. bench/web-formats.sh compares the files with the
// references and sums it all up.
//
//   pixquill_web_bench PHOTOS OUT [RUNS]

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include "bench/ThreadClock.h"
#include "codec/MFreeImage_2.h"
#include "codec/OutputFormats.h"
#include "codec/Surface.h"
#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"

using namespace pixquill;
using pixquill::bench::ThreadMilliseconds;

namespace {

const int kQualities[] = {30, 40, 50, 60, 70, 75, 80, 85, 90};

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: pixquill_web_bench PHOTOS OUT [RUNS]\n");
        return 2;
    }
    const QString photos = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    QStringList names = QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& n) { return n.contains(QStringLiteral("-progressive")); }),
                names.end());

    for (const int box : {100, 400}) {
        const QString boxFolder = out + QLatin1Char('/') + QString::number(box);
        JobSettings settings;
        settings.SourceFolder = photos;
        settings.DestinationFolder = boxFolder + QStringLiteral("/ref");
        settings.WidthText = settings.HeightText = QString::number(box);
        settings.Prefix.clear();
        settings.OutputFormat = 4; // PNG: the lossless reference
        QDir().mkpath(settings.DestinationFolder);
        for (const QString& name : names) {
            Surface picLoad;
            Surface picThumb;
            const ImageResult reference = ProcessImage(name, settings, picLoad, picThumb);
            if (!reference.Written) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(reference.Reason));
                continue;
            }
            const QString base = QFileInfo(name).completeBaseName();
            for (const OutputFormatEntry& format : OutputFormats()) {
                if (format.DefaultQuality == 0)
                    continue;
                for (const int quality : kQualities) {
                    const QString folder = boxFolder + QStringLiteral("/%1-q%2").arg(QLatin1String(format.Name)).arg(quality);
                    QDir().mkpath(folder);
                    const QString path = folder + QLatin1Char('/') + base + QLatin1String(format.Extension);
                    double best = 1e9;
                    for (int run = 0; run < runs; ++run) {
                        QString reason;
                        const double start = ThreadMilliseconds();
                        const int status = SaveThumbnail(picThumb, path, format, &reason, quality);
                        best = std::min(best, ThreadMilliseconds() - start);
                        if (status != kSaveWritten) {
                            std::fprintf(stderr, "%s %s: %s\n", qPrintable(path), format.Name, qPrintable(reason));
                            return 1;
                        }
                    }
                    std::printf("%d\t%s\t%s\t%d\t%d\t%d\t%lld\t%.2f\n", box, qPrintable(base), format.Name, quality,
                                reference.ThumbnailWidth, reference.ThumbnailHeight,
                                static_cast<long long>(QFileInfo(path).size()), best);
                    std::fflush(stdout);
                }
            }
        }
    }
    return 0;
}
