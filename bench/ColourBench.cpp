// What converting a photo's colours to sRGB costs next to decoding it: for a
// 12- and a 24-megapixel drawn picture at 8 and 16 bits per channel, the
// time ConvertToSrgb takes with an Adobe RGB-like profile against the time
// FreeImage takes to decode the same picture from a JPEG (quality 90, read as
// the loader reads it) and from a PNG. Each figure is the best of a few runs,
// in CPU time of the thread;
// the first conversion of a profile, which makes its transform, is shown apart.
// The whole path (ProcessImage: load, render a 160 x 160 thumbnail with the
// default filter, save a JPEG) of the untagged JPEG, and of the PNG for 16
// bits, is what the conversion is to add at most a tenth to.

#include <algorithm>
#include <cstdio>
#include <functional>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>

#include <FreeImage.h>
#include <lcms2.h>

#include "bench/ThreadClock.h"
#include "codec/ColourProfile.h"
#include "codec/Surface.h"
#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"

using namespace pixquill;
using pixquill::bench::ThreadMilliseconds;

namespace {

double Milliseconds(const std::function<void()>& work)
{
    const double start = ThreadMilliseconds();
    work();
    return ThreadMilliseconds() - start;
}

double Best(int runs, const std::function<double()>& run)
{
    double best = run();
    for (int i = 1; i < runs; ++i)
        best = std::min(best, run());
    return best;
}

QByteArray AdobeLikeProfile()
{
    const cmsCIExyY white {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A photo stand-in: smooth gradients (what JPEG and PNG compress as they do
// photos' skies) under a scatter of hard-edged shapes.
QImage Drawn(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(30, 90, 200));
    sky.setColorAt(0.5, QColor(240, 200, 120));
    sky.setColorAt(1, QColor(20, 120, 40));
    painter.fillRect(image.rect(), sky);
    for (int i = 0; i < 400; ++i) {
        const int x = (i * 7919) % width;
        const int y = (i * 104729) % height;
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 80 + i % 170, 60 + i % 190));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPoint(x, y), 40 + i % 200, 30 + (i * 3) % 150);
    }
    return image;
}

// CPU time of one untagged image through load, render and save.
double WholePath(const QString& folder, const QString& name)
{
    JobSettings settings;
    settings.SourceFolder = folder;
    settings.DestinationFolder = folder + QStringLiteral("/out");
    settings.WidthText = settings.HeightText = QStringLiteral("160");
    QDir().mkpath(settings.DestinationFolder);
    Surface load;
    Surface thumb;
    return Milliseconds([&] { ProcessImage(name, settings, load, thumb); });
}

Bitmap Load(int format, const QString& path, int flags)
{
    return Bitmap(FreeImage_Load(static_cast<FREE_IMAGE_FORMAT>(format), path.toLocal8Bit().constData(), flags));
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QByteArray adobe = AdobeLikeProfile();
    constexpr int kRuns = 3;

    std::printf("%-4s %-4s %10s %10s %8s %8s %8s %9s %9s %9s %6s\n", "MP", "bits", "first conv", "convert ms",
                "JPEG ms", "PNG ms", "path ms", "conv/JPEG", "conv/PNG", "conv/path", "MP/s");
    for (const QSize size : {QSize(4000, 3000), QSize(6000, 4000)}) {
        const QImage picture = Drawn(size.width(), size.height());
        const QString jpeg = dir.filePath("photo.jpg");
        if (!picture.save(jpeg, "JPEG", 90))
            return 1;
        const double jpegMs = Best(kRuns, [&] { return Milliseconds([&] { Load(FIF_JPEG, jpeg, JPEG_ACCURATE); }); });
        const double jpegPathMs = Best(kRuns, [&] { return WholePath(dir.path(), QStringLiteral("photo.jpg")); });
        for (const bool sixteen : {false, true}) {
            const QString png = dir.filePath(sixteen ? "photo16.png" : "photo.png");
            if (!(sixteen ? picture.convertToFormat(QImage::Format_RGBX64) : picture).save(png, "PNG"))
                return 1;
            const double pngMs = Best(kRuns, [&] { return Milliseconds([&] { Load(FIF_PNG, png, 0); }); });
            const double pathMs = sixteen ? Best(kRuns, [&] { return WholePath(dir.path(), QStringLiteral("photo16.png")); })
                                          : jpegPathMs;
            const Bitmap decoded = Load(FIF_PNG, png, 0);
            if (!decoded)
                return 1;
            // A profile seen for the first time makes its transform: a
            // fresh copy of the profile bytes is a new one to the cache.
            QByteArray fresh = adobe;
            fresh[127] = static_cast<char>(sixteen ? 1 : 2); // a reserved header byte
            Bitmap first(FreeImage_Clone(decoded.get()));
            const double firstMs = Milliseconds([&] { first = ConvertToSrgb(std::move(first), fresh); });
            const double convertMs = Best(kRuns, [&] {
                Bitmap copy(FreeImage_Clone(decoded.get()));
                return Milliseconds([&] { copy = ConvertToSrgb(std::move(copy), adobe); });
            });
            const double megapixels = size.width() * double(size.height()) / 1e6;
            std::printf("%-4.0f %-4d %10.1f %10.1f %8.1f %8.1f %8.1f %8.1f%% %8.1f%% %8.1f%% %6.0f\n", megapixels,
                        sixteen ? 16 : 8, firstMs, convertMs, jpegMs, pngMs, pathMs, 100 * convertMs / jpegMs,
                        100 * convertMs / pngMs, 100 * convertMs / pathMs, megapixels / convertMs * 1000);
        }
    }
    return 0;
}
