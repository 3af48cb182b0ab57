// Camera RAW thumbnails from the embedded preview against the same previews
// as plain JPEG files: for each of the 8 orientations, a 12-megapixel DNG
// (4000 x 3000 16-bit mosaic) whose JPEG preview is half its size (2000 x
// 1500, quality 90, stored unturned as cameras store it, the DNG's
// Orientation tag saying how to turn it), and the same JPEG bytes as a file
// of their own with an EXIF block giving the orientation. Each file goes
// through ProcessImage (load, a thumbnail in a 100-pixel box with the
// default filter, saved as JPEG) as a batch runs it, in process.
//
// Reported per orientation: the median over the rounds of the CPU time of
// the thread (LibRaw's threads do not run on this road: it renders nothing),
// DNG against JPEG, and whether both thumbnails came out the same bytes.
//
// Then the raw data: a DNG of the same scene whose preview (320 x 240) is
// too small for a 400-pixel box, decoded by the camera RAW row for that box
// (LibRaw's half-size rendering): its wall time (LibRaw may use threads
// here), best of three, and its mean colour per channel against the mean
// of LibRaw's own dcraw_emu -w rendering of the file (Debian's libraw-bin).
//   pixquill_raw_bench [ROUNDS]   (default 7)

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <FreeImage.h>

#include "bench/DrawnPhoto.h"
#include "bench/ThreadClock.h"
#include "codec/InputSource.h"
#include "codec/RawDecoder.h"
#include "codec/Surface.h"
#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"
#include "tests/support/TestDng.h"
#include "tests/support/TestImages.h"

using namespace pixquill;
using pixquill::bench::ThreadMilliseconds;

namespace {

QByteArray Jpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The mean of each channel, 0 to 1, of a 24-bit bitmap or a QImage.
std::array<double, 3> Means(FIBITMAP* bitmap)
{
    std::array<double, 3> sums{};
    const unsigned width = FreeImage_GetWidth(bitmap);
    const unsigned height = FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* p = FreeImage_GetScanLine(bitmap, int(y));
        for (unsigned x = 0; x < width; ++x, p += 3) {
            sums[0] += p[FI_RGBA_RED];
            sums[1] += p[FI_RGBA_GREEN];
            sums[2] += p[FI_RGBA_BLUE];
        }
    }
    for (double& sum : sums)
        sum /= 255.0 * width * height;
    return sums;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QImage scene = bench::DrawnPhoto(4000, 3000);
    const QImage half = scene.scaled(2000, 1500, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QByteArray preview = Jpeg(test::StoredAs(half, orientation));
        test::DngRecipe recipe;
        recipe.Picture = scene;
        recipe.Orientation = orientation;
        recipe.PreviewSize = orientation >= 5 ? QSize(1500, 2000) : QSize(2000, 1500);
        recipe.PreviewJpeg = preview;
        const QByteArray dng = test::MakeDng(recipe);
        if (dng.isEmpty() || !Write(dir.filePath(QStringLiteral("o%1.dng").arg(orientation)), dng)
            || !Write(dir.filePath(QStringLiteral("o%1.jpg").arg(orientation)),
                      test::WithExif(preview, test::OrientationExif(orientation))))
            return 1;
    }

    JobSettings settings;
    settings.SourceFolder = dir.path();
    settings.DestinationFolder = dir.filePath(QStringLiteral("out"));
    settings.WidthText = settings.HeightText = QStringLiteral("100");
    QDir().mkpath(settings.DestinationFolder);
    Surface load;
    Surface thumb;
    const auto run = [&](const QString& name, QByteArray* thumbnail) {
        const double start = ThreadMilliseconds();
        const ImageResult result = ProcessImage(name, settings, load, thumb);
        const double ms = ThreadMilliseconds() - start;
        if (!result.Written) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(result.Reason));
            std::exit(1);
        }
        if (thumbnail)
            *thumbnail = test::ReadFileBytes(result.OutputPath);
        return ms;
    };

    std::printf("%-11s %9s %9s %7s %5s\n", "orientation", "DNG ms", "JPEG ms", "ratio", "same");
    double dngTotal = 0;
    double jpegTotal = 0;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString dng = QStringLiteral("o%1.dng").arg(orientation);
        const QString jpg = QStringLiteral("o%1.jpg").arg(orientation);
        QByteArray fromDng;
        QByteArray fromJpeg;
        run(dng, &fromDng); // warm-up: the file in the page cache, the libraries' first use
        run(jpg, &fromJpeg);
        std::vector<double> dngMs;
        std::vector<double> jpegMs;
        for (int round = 0; round < rounds; ++round) {
            // Taking turns, the order turning each round.
            if (round % 2 == 0) {
                dngMs.push_back(run(dng, nullptr));
                jpegMs.push_back(run(jpg, nullptr));
            } else {
                jpegMs.push_back(run(jpg, nullptr));
                dngMs.push_back(run(dng, nullptr));
            }
        }
        const double d = Median(dngMs);
        const double j = Median(jpegMs);
        dngTotal += d;
        jpegTotal += j;
        std::printf("%-11d %9.1f %9.1f %7.2f %5s\n", orientation, d, j, d / j, fromDng == fromJpeg ? "yes" : "no");
    }
    std::printf("%-11s %9.1f %9.1f %7.2f\n", "all 8", dngTotal, jpegTotal, dngTotal / jpegTotal);

    test::DngRecipe small;
    small.Picture = scene;
    small.PreviewSize = QSize(320, 240);
    const QString rendered = dir.filePath(QStringLiteral("small-preview.dng"));
    if (!Write(rendered, test::MakeDng(small)))
        return 1;
    QString error;
    const std::unique_ptr<InputSource> file = OpenRegularFile(QFile::encodeName(rendered), error);
    if (!file)
        return 1;
    DecodeHints hints;
    hints.Width = 400;
    hints.Height = 300;
    double bestMs = 1e9;
    DecodedImage decoded;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        decoded = DecodeRaw(file->Reader(), file->Size(), hints);
        bestMs = std::min(bestMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    if (!decoded.Image) {
        std::fprintf(stderr, "%s\n", qPrintable(decoded.Error));
        return 1;
    }
    QProcess dcraw;
    dcraw.start(QStringLiteral("dcraw_emu"), {QStringLiteral("-w"), QStringLiteral("-Z"), QStringLiteral("-"), rendered});
    const QImage reference = dcraw.waitForFinished(120000) ? QImage::fromData(dcraw.readAllStandardOutput(), "PPM") : QImage();
    if (reference.isNull()) {
        std::fprintf(stderr, "dcraw_emu -w failed (libraw-bin)\n");
        return 1;
    }
    const auto ours = Means(decoded.Image.get());
    const auto theirs = test::ChannelMeans(reference);
    double worst = 0;
    for (std::size_t c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(ours[c] - theirs[c]));
    std::printf("\nraw data for a 400-px box (preview 320 x 240): %u x %u in %.1f ms (wall, best of 3)\n",
                FreeImage_GetWidth(decoded.Image.get()), FreeImage_GetHeight(decoded.Image.get()), bestMs);
    std::printf("mean r g b: ours %.3f %.3f %.3f, dcraw_emu -w %.3f %.3f %.3f; largest difference %.3f\n", ours[0],
                ours[1], ours[2], theirs[0], theirs[1], theirs[2], worst);
    return 0;
}
