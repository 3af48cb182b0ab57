// The roads a picture takes to its thumbnail against the full decode (the
// reduced JPEG decode, the colours converted after the reduction), and the
// parallel batch against the window's one-image-at-a-time run, on JPEG and
// PNG files drawn here.

#include <cmath>
#include <ostream>

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "codec/MFreeImage_2.h"
#include "codec/ReducedJpeg.h"
#include "codec/Surface.h"
#include "engine/OptionTables.h"
#include "engine/BatchEngine.h"
#include "engine/ProcessImage.h"
#include "engine/RenderThumbnail.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

// Smooth waves across and down, and a different colour in each corner, so
// that a turn, a flip or a shift of the fast road shows against the full one.
QImage WavePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb(static_cast<int>(128 + 100 * std::sin(x / 15.0)),
                          static_cast<int>(128 + 100 * std::sin(y / 14.0)),
                          255 * (x + 2 * y) / std::max(1, width + 2 * height - 3));
    }
    return image;
}

double Psnr(const QImage& a, const QImage& b)
{
    double squares = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const double dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
            squares += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = squares / (3.0 * a.width() * a.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

struct FastCase {
    int StoredWidth;
    int StoredHeight;
    int Orientation;
    int Mode;
    int W;
    int H;
    int Filter;
    int Scale;          // the reduced scale the fast road must pick (1: full decode)
    QSize Thumbnail;    // what both roads write
};

std::ostream& operator<<(std::ostream& out, const FastCase& c)
{
    return out << c.StoredWidth << "x" << c.StoredHeight << " orientation " << c.Orientation << " mode " << c.Mode
               << " " << c.W << "x" << c.H << " filter " << c.Filter;
}

class FastRoad : public ::testing::TestWithParam<FastCase> {};

TEST_P(FastRoad, WritesTheFullRoadsSizeFromTheReducedDecode)
{
    const FastCase& c = GetParam();
    QTemporaryDir root;
    const QString source = root.filePath("photos");
    QDir().mkdir(source);
    QFile file(source + "/cam.jpg");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(test::JpegWithOrientation(WavePicture(c.StoredWidth, c.StoredHeight), c.Orientation));
    file.close();

    JobSettings settings;
    settings.SourceFolder = source;
    settings.ResizeMode = c.Mode;
    settings.WidthText = QString::number(c.W);
    settings.HeightText = QString::number(c.H);
    settings.ResampleFilter = c.Filter;
    settings.OutputFormat = 4; // PNG: the pixels as drawn, no JPEG noise

    Surface fullLoad, fullThumb, fastLoad, fastThumb;
    settings.DestinationFolder = root.filePath("full");
    QDir().mkdir(settings.DestinationFolder);
    ASSERT_TRUE(ProcessImage("cam.jpg", settings, fullLoad, fullThumb).Written);
    settings.DestinationFolder = root.filePath("fast");
    settings.FastDecode = true;
    QDir().mkdir(settings.DestinationFolder);
    const ImageResult fast = ProcessImage("cam.jpg", settings, fastLoad, fastThumb);
    ASSERT_TRUE(fast.Written) << fast.Reason.toStdString();

    // The load surface shows which decode ran: the full one holds the
    // upright image, the fast one that image divided by the scale.
    const JpegHeader header = ReadJpegHeader(source + "/cam.jpg");
    ASSERT_TRUE(header.Ok);
    EXPECT_EQ(QSize(fullLoad.Width(), fullLoad.Height()), QSize(header.Width, header.Height));
    EXPECT_EQ(QSize(fastLoad.Width(), fastLoad.Height()),
              QSize(static_cast<int>(std::lround(double(header.Width) / c.Scale)),
                    static_cast<int>(std::lround(double(header.Height) / c.Scale))));

    const QImage full(root.filePath("full/_THcam.png"));
    const QImage reduced(root.filePath("fast/_THcam.png"));
    EXPECT_EQ(full.size(), c.Thumbnail);
    ASSERT_EQ(reduced.size(), full.size());
    if (c.Thumbnail.width() >= 8 && c.Thumbnail.height() >= 8) {
        // A partial edge block trimmed on the wrong side shifts the waves
        // enough to fall below this.
        EXPECT_GE(Psnr(full, reduced), 35.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ShapesAndOrientations, FastRoad,
    ::testing::Values(
        // Partial blocks at the right and bottom, ending up on every side.
        FastCase{1001, 603, 1, kResizeMaintainAspect, 100, 100, kFilterHalftone, 4, {100, 60}},
        FastCase{1001, 603, 2, kResizeMaintainAspect, 100, 100, kFilterBilinear, 4, {100, 60}},
        FastCase{1001, 603, 3, kResizeMaintainAspect, 100, 100, kFilterHalftone, 4, {100, 60}},
        FastCase{1001, 603, 4, kResizeMaintainAspect, 100, 100, kFilterLanczos3, 4, {100, 60}},
        FastCase{1001, 603, 5, kResizeMaintainAspect, 100, 100, kFilterHalftone, 4, {60, 100}},
        FastCase{1001, 603, 6, kResizeMaintainAspect, 100, 100, kFilterBilinear, 4, {60, 100}},
        FastCase{1001, 603, 7, kResizeMaintainAspect, 100, 100, kFilterHalftone, 4, {60, 100}},
        FastCase{1001, 603, 8, kResizeMaintainAspect, 100, 100, kFilterBox, 4, {60, 100}},
        FastCase{2400, 1600, 1, kResizeMaintainAspect, 100, 100, kFilterHalftone, 8, {100, 67}},
        // The other modes that shrink, and those that do not.
        FastCase{640, 480, 6, kResizeExact, 120, 80, kFilterCatmullRom, 2, {120, 80}},
        FastCase{640, 480, 1, kResizePercent, 10, 0, kFilterHalftone, 4, {64, 48}},
        FastCase{640, 480, 1, kResizeNone, 100, 100, kFilterBilinear, 1, {640, 480}},
        FastCase{300, 200, 1, kResizeMaintainAspect, 100, 100, kFilterHalftone, 1, {100, 67}},
        FastCase{640, 480, 1, kResizeExact, 400, 100, kFilterHalftone, 1, {400, 100}},
        // Extreme shapes: a side of one pixel.
        FastCase{3000, 17, 1, kResizeMaintainAspect, 100, 100, kFilterHalftone, 8, {100, 1}},
        FastCase{17, 3000, 6, kResizeMaintainAspect, 100, 100, kFilterBicubic, 8, {100, 1}},
        FastCase{17, 3000, 1, kResizeMaintainAspect, 100, 100, kFilterHalftone, 8, {1, 100}}));

TEST(FastRoad, OtherFormatsTakeTheFullRoad)
{
    QTemporaryDir root;
    ASSERT_TRUE(WavePicture(800, 600).save(root.filePath("a.png")));
    JobSettings settings;
    settings.SourceFolder = root.path();
    settings.DestinationFolder = root.filePath("out");
    settings.FastDecode = true;
    QDir().mkdir(settings.DestinationFolder);
    Surface picLoad, picThumb;
    ASSERT_TRUE(ProcessImage("a.png", settings, picLoad, picThumb).Written);
    EXPECT_EQ(QSize(picLoad.Width(), picLoad.Height()), QSize(800, 600));
}

// A tagged 8-bit photo is reduced in its own colours and the thumbnail
// converted: close to converting the photo first (these waves are saturated
// well beyond sRGB, where the two orders clip differently: 37 to 40 dB here,
// 50 and more on photographs), and far from not converting at all (21 dB).
// PNG keeps the pixels as drawn.
class ColourAfterReduction : public ::testing::TestWithParam<int> {};

TEST_P(ColourAfterReduction, MatchesConvertingFirst)
{
    QTemporaryDir root;
    QImage photo = WavePicture(900, 600);
    photo.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    ASSERT_TRUE(photo.save(root.filePath("adobe.jpg"), "JPEG", 95));
    JobSettings settings;
    settings.SourceFolder = root.path();
    settings.DestinationFolder = root.path();
    settings.ResampleFilter = GetParam();
    settings.OutputFormat = 4; // PNG
    Surface picLoad, picThumb;
    ASSERT_TRUE(ProcessImage("adobe.jpg", settings, picLoad, picThumb).Written);

    Surface convertedLoad, convertedThumb;
    ASSERT_TRUE(LoadImageToSurface(root.filePath("adobe.jpg"), convertedLoad).ok);
    ASSERT_TRUE(RenderThumbnail(convertedLoad, convertedThumb, kResizeMaintainAspect, GetParam(), 100, 100).Drawn);
    const QImage made(root.filePath("_THadobe.png"));
    ASSERT_EQ(made.size(), QSize(100, 67));
    EXPECT_GE(Psnr(made, convertedThumb.Image()), 35.0);
    // And the conversion did happen: the file's own numbers are far off.
    Surface rawLoad;
    ThumbnailRequest stored;
    stored.ColourAfterReduction = true;
    ASSERT_TRUE(LoadImageForThumbnail(root.filePath("adobe.jpg"), rawLoad, stored).ok);
    EXPECT_LT(Psnr(rawLoad.Image(), convertedLoad.Image()), 35.0);
}

INSTANTIATE_TEST_SUITE_P(Filters, ColourAfterReduction,
                         ::testing::Values(kFilterHalftone, kFilterBox, kFilterBilinear, kFilterLanczos3));

// Images made on several threads, some ahead of their turn, are byte for byte
// what one image after another on one pair of surfaces gives.
TEST(BatchEngine, ManyAtOnceWritesWhatOneAtATimeWrites)
{
    QTemporaryDir root;
    const QString source = root.filePath("photos");
    QDir().mkdir(source);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(test::GradientImage(150 + 37 * i, 110 + 23 * i).save(source + QStringLiteral("/g%1.png").arg(i)));
    QFile turned(source + "/turned.jpg");
    ASSERT_TRUE(turned.open(QIODevice::WriteOnly));
    turned.write(test::JpegWithOrientation(WavePicture(333, 201), 6));
    turned.close();
    ASSERT_TRUE(WavePicture(90, 60).save(source + "/small.jpg", "JPG"));
    const QStringList names = QDir(source).entryList(QDir::Files, QDir::Name);

    for (int filter : {kFilterHalftone, kFilterBilinear, kFilterLanczos3}) {
        for (int format : {0, 1, 3, 4, 5}) { // BMP, GIF, JPEG, PNG, TGA
            JobSettings settings;
            settings.SourceFolder = source;
            settings.ResampleFilter = filter;
            settings.OutputFormat = format;
            const QString tag = QStringLiteral("%1-%2").arg(filter).arg(format);
            settings.DestinationFolder = root.filePath("window-" + tag);
            QDir().mkdir(settings.DestinationFolder);
            BatchPlan plan;
            plan.Names = names;
            ASSERT_EQ(RunBatch(plan, SettingsSnapshot(settings)).Tally.Written, names.size());

            settings.DestinationFolder = root.filePath("parallel-" + tag);
            QDir().mkdir(settings.DestinationFolder);
            plan.Jobs = 3;
            ASSERT_EQ(RunBatch(plan, SettingsSnapshot(settings)).Tally.Written, names.size());

            const QStringList written = QDir(root.filePath("window-" + tag)).entryList(QDir::Files, QDir::Name);
            ASSERT_EQ(written, QDir(settings.DestinationFolder).entryList(QDir::Files, QDir::Name));
            for (const QString& name : written)
                EXPECT_EQ(test::ReadFileBytes(root.filePath("window-" + tag + "/" + name)),
                          test::ReadFileBytes(settings.DestinationFolder + "/" + name))
                    << tag.toStdString() << " " << name.toStdString();
        }
    }
}

} // namespace
} // namespace pixquill
