#include <algorithm>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <FreeImage.h>

#include "codec/MFreeImage_2.h"
#include "codec/OutputFormats.h"
#include "codec/Surface.h"
#include "tests/codec/CodecTestFiles.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

using test::OutputFormatNamed;
using test::ReadWithFreeImage;

// Draws the image into a fresh thumbnail surface of its size.
void DrawInto(Surface& surface, const QImage& image)
{
    surface.Resize(image.width(), image.height());
    surface.Image() = image.convertToFormat(QImage::Format_RGB32);
}

QStringList FolderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

struct FormatCase {
    const char* name;
    const char* format; // command-line name
    const char* extension;
    int bitsPerPixel;
    int tolerance; // largest channel difference the encoding may introduce
    int fourthByte; // -1: not a 32-bit file
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class SaveFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SaveFormatTest, WritesTheCapturedSurfaceWithTheFormatsDepth)
{
    const FormatCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage drawn = test::GradientImage(64, 48);
    Surface thumb;
    DrawInto(thumb, drawn);
    const QString path = dir.filePath(QStringLiteral("thumb.") + QLatin1String(c.extension));

    QString reason;
    ASSERT_EQ(kSaveWritten, SaveThumbnail(thumb, path, OutputFormatNamed(c.format), &reason)) << reason.toStdString();
    EXPECT_TRUE(reason.isEmpty());

    const test::ReadBack back = ReadWithFreeImage(path);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(QSize(64, 48), QSize(back.width, back.height));
    EXPECT_EQ(c.bitsPerPixel, back.bitsPerPixel);
    if (c.fourthByte >= 0) {
        ASSERT_TRUE(back.fourthByte.has_value());
        EXPECT_EQ(c.fourthByte, *back.fourthByte);
    }
    const int distance = test::MaxImageDistance(drawn, back.pixels);
    EXPECT_GE(distance, 0);
    EXPECT_LE(distance, c.tolerance);
    // Only the thumbnail is left in the folder.
    EXPECT_EQ(QStringList {QStringLiteral("thumb.") + QLatin1String(c.extension)}, FolderEntries(dir.path()));
    // The capture became the surface's picture.
    EXPECT_EQ(drawn, thumb.Picture().convertToFormat(QImage::Format_RGB32));
}

INSTANTIATE_TEST_SUITE_P(SevenFormats, SaveFormatTest,
                         ::testing::Values(FormatCase {"Bmp", "bmp", "bmp", 32, 0, 0},
                                           FormatCase {"Targa", "tga", "tga", 32, 0, 255},
                                           FormatCase {"Jpeg", "jpg", "jpg", 24, 24, -1},
                                           FormatCase {"Png", "png", "png", 24, 0, -1},
                                           FormatCase {"Ico", "ico", "ico", 24, 0, -1},
                                           FormatCase {"Tiff", "tif", "tif", 24, 0, -1},
                                           FormatCase {"Gif", "gif", "gif", 8, 24, -1}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(SaveThumbnailTest, TiffIsUncompressed)
{
    QTemporaryDir dir;
    Surface thumb;
    DrawInto(thumb, test::GradientImage(40, 30));
    const QString path = dir.filePath(QStringLiteral("t.tif"));
    ASSERT_EQ(kSaveWritten, SaveThumbnail(thumb, path, OutputFormatNamed("tif")));
    EXPECT_EQ(std::optional<int>(1), test::TiffCompression(test::ReadFileBytes(path)));
}

TEST(SaveThumbnailTest, GifHasAPaletteOfAtMost256Colours)
{
    QTemporaryDir dir;
    Surface thumb;
    DrawInto(thumb, test::QuadrantImage(40, 30));
    const QString path = dir.filePath(QStringLiteral("t.gif"));
    ASSERT_EQ(kSaveWritten, SaveThumbnail(thumb, path, OutputFormatNamed("gif")));
    const test::ReadBack back = ReadWithFreeImage(path);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(8, back.bitsPerPixel);
    EXPECT_TRUE(back.palette);
    // Four flat colours survive quantisation exactly.
    EXPECT_EQ(0, test::MaxImageDistance(test::QuadrantImage(40, 30), back.pixels));
}

struct IconCase {
    int width;
    int height;
    int status;
};

void PrintTo(const IconCase& c, std::ostream* os) { *os << c.width << " x " << c.height; }

class SaveIconTest : public ::testing::TestWithParam<IconCase> {};

TEST_P(SaveIconTest, EveryThumbnailUpTo256IsAValidIcon)
{
    const IconCase& c = GetParam();
    QTemporaryDir dir;
    Surface thumb;
    const QImage drawn = test::GradientImage(c.width, c.height);
    DrawInto(thumb, drawn);
    const QString path = dir.filePath(QStringLiteral("t.ico"));
    QString reason;
    ASSERT_EQ(c.status, SaveThumbnail(thumb, path, OutputFormatNamed("ico"), &reason));
    if (c.status != kSaveWritten) {
        EXPECT_EQ(QStringLiteral("icons are at most 256 × 256"), reason);
        EXPECT_TRUE(FolderEntries(dir.path()).isEmpty());
        return;
    }
    const test::ReadBack back = ReadWithFreeImage(path);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(QSize(c.width, c.height), QSize(back.width, back.height));
    EXPECT_EQ(0, test::MaxImageDistance(drawn, back.pixels));
}

INSTANTIATE_TEST_SUITE_P(Sizes, SaveIconTest,
                         ::testing::Values(IconCase {100, 75, kSaveWritten}, IconCase {10, 10, kSaveWritten},
                                           IconCase {1, 1, kSaveWritten}, IconCase {16, 16, kSaveWritten},
                                           IconCase {256, 256, kSaveWritten}, IconCase {256, 1, kSaveWritten},
                                           IconCase {300, 200, kSaveFailed}, IconCase {257, 10, kSaveFailed},
                                           IconCase {10, 257, kSaveFailed}));

TEST(SaveThumbnailTest, EmptySurfaceGivesNoCaptureAndWritesNothing)
{
    QTemporaryDir dir;
    Surface thumb(0, 0);
    QString reason;
    EXPECT_EQ(kSaveNoCapture,
              SaveThumbnail(thumb, dir.filePath(QStringLiteral("t.png")), OutputFormatNamed("png"), &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(FolderEntries(dir.path()).isEmpty());
}

// A process about to end at once refuses every save from then on, touching
// nothing. The refusal is for good, so it runs in a child process.
TEST(SaveThumbnailDeathTest, RefusedSavesTouchNothing)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool ok = false;
            {
                QTemporaryDir dir;
                Surface thumb;
                DrawInto(thumb, test::QuadrantImage(20, 10));
                const OutputFormatEntry& png = OutputFormatNamed("png");
                const int before = SaveThumbnail(thumb, dir.filePath(QStringLiteral("before.png")), png);
                RefuseFurtherSaves();
                QString reason;
                const int after = SaveThumbnail(thumb, dir.filePath(QStringLiteral("after.png")), png, &reason);
                ok = before == kSaveWritten && after == kSaveFailed && reason == QStringLiteral("saving was stopped")
                    && FolderEntries(dir.path()) == QStringList{QStringLiteral("before.png")};
            }
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SaveThumbnailTest, ReplacesAnExistingFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.bmp"));
    ASSERT_TRUE(test::WriteFileBytes(path, "old contents"));
    Surface thumb;
    DrawInto(thumb, test::QuadrantImage(20, 10));
    ASSERT_EQ(kSaveWritten, SaveThumbnail(thumb, path, OutputFormatNamed("bmp")));
    const test::ReadBack back = ReadWithFreeImage(path);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(QSize(20, 10), QSize(back.width, back.height));
    EXPECT_EQ(QStringList {QStringLiteral("t.bmp")}, FolderEntries(dir.path()));
}

// A save that cannot be completed must leave the folder as it was: an existing
// file of the target's name byte for byte, and no temporary file.
enum class Obstacle { EncoderRefuses, FolderIsMissing, TargetIsAFolder, ReadOnlyFile, ReadOnlyFolder };

const char* ObstacleName(Obstacle o)
{
    switch (o) {
    case Obstacle::EncoderRefuses: return "EncoderRefuses";
    case Obstacle::FolderIsMissing: return "FolderIsMissing";
    case Obstacle::TargetIsAFolder: return "TargetIsAFolder";
    case Obstacle::ReadOnlyFile: return "ReadOnlyFile";
    case Obstacle::ReadOnlyFolder: return "ReadOnlyFolder";
    }
    return "Unknown";
}

void PrintTo(Obstacle o, std::ostream* os) { *os << ObstacleName(o); }

class UnwritableTargetTest : public ::testing::TestWithParam<Obstacle> {};

TEST_P(UnwritableTargetTest, FailsWithStatus6AndLeavesTheFolderAsItWas)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray existing("an earlier thumbnail that must survive");
    QString folder = dir.path();
    QString target = dir.filePath(QStringLiteral("thumb.png"));
    OutputFormatEntry format = OutputFormatNamed("png");
    switch (GetParam()) {
    case Obstacle::EncoderRefuses:
        // A format FreeImage reads but cannot write: the encoder fails after
        // the temporary file exists.
        format.FreeImageFormat = FIF_PCD;
        ASSERT_TRUE(test::WriteFileBytes(target, existing));
        break;
    case Obstacle::FolderIsMissing:
        target = dir.filePath(QStringLiteral("missing/thumb.png"));
        ASSERT_TRUE(test::WriteFileBytes(dir.filePath(QStringLiteral("thumb.png")), existing));
        break;
    case Obstacle::TargetIsAFolder:
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("thumb.png")));
        break;
    case Obstacle::ReadOnlyFile:
        // The folder would allow a rename over it; the file itself says no.
        ASSERT_TRUE(test::WriteFileBytes(target, existing));
        QFile::setPermissions(target, QFileDevice::ReadOwner);
        if (QFileInfo(target).isWritable())
            GTEST_SKIP() << "permissions do not bind this user (root)";
        break;
    case Obstacle::ReadOnlyFolder:
        ASSERT_TRUE(test::WriteFileBytes(target, existing));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (QFileInfo(folder).isWritable()) {
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            GTEST_SKIP() << "permissions do not bind this user (root)";
        }
        break;
    }
    const QStringList before = FolderEntries(folder);

    Surface thumb;
    DrawInto(thumb, test::GradientImage(30, 20));
    QString reason;
    EXPECT_EQ(kSaveFailed, SaveThumbnail(thumb, target, format, &reason));
    EXPECT_FALSE(reason.isEmpty());

    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(before, FolderEntries(folder));
    if (GetParam() != Obstacle::TargetIsAFolder) {
        EXPECT_EQ(existing, test::ReadFileBytes(dir.filePath(QStringLiteral("thumb.png"))));
    }
}

INSTANTIATE_TEST_SUITE_P(Obstacles, UnwritableTargetTest,
                         ::testing::Values(Obstacle::EncoderRefuses, Obstacle::FolderIsMissing,
                                           Obstacle::TargetIsAFolder, Obstacle::ReadOnlyFile,
                                           Obstacle::ReadOnlyFolder),
                         [](const auto& testInfo) { return std::string(ObstacleName(testInfo.param)); });

// The formats for web pages are read back by the library that reads them
// here (FreeImage, libheif, libjxl) and by the decoder the encoding library
// ships, at the odd size written: an odd side is where a 4:2:0 encoder or a
// row stride goes wrong, the gradient shows swapped channels or flipped rows.
struct WebCase {
    const char* name;
    const char* format; // command-line name
    const char* extension;
    const char* decoder;
    QStringList arguments; // IN and OUT stand for the file and a PNG to write
    int tolerance;
};

void PrintTo(const WebCase& c, std::ostream* os) { *os << c.name; }

class WebFormatTest : public ::testing::TestWithParam<WebCase> {};

TEST_P(WebFormatTest, IsReadBackByItsLibraryAndItsOwnDecoderAtTheRightSize)
{
    const WebCase& c = GetParam();
    QTemporaryDir dir;
    QTemporaryDir decoded;
    ASSERT_TRUE(dir.isValid() && decoded.isValid());
    const QImage drawn = test::GradientImage(65, 47);
    Surface thumb;
    DrawInto(thumb, drawn);
    const QString path = dir.filePath(QStringLiteral("thumb") + QLatin1String(c.extension));
    QString reason;
    ASSERT_EQ(kSaveWritten, SaveThumbnail(thumb, path, OutputFormatNamed(c.format), &reason)) << reason.toStdString();
    EXPECT_EQ(QStringList {QFileInfo(path).fileName()}, FolderEntries(dir.path()));

    Surface loaded;
    const LoadResult load = LoadImageToSurface(path, loaded);
    ASSERT_TRUE(load.ok) << load.error.toStdString();
    EXPECT_EQ(QSize(65, 47), loaded.Image().size());
    EXPECT_LE(test::MaxImageDistance(drawn, loaded.Image()), c.tolerance);

    const QString png = decoded.filePath(QStringLiteral("out.png"));
    QStringList arguments = c.arguments;
    arguments.replaceInStrings(QStringLiteral("IN"), path).replaceInStrings(QStringLiteral("OUT"), png);
    QProcess decoder;
    decoder.start(QString::fromLatin1(c.decoder), arguments);
    ASSERT_TRUE(decoder.waitForFinished(60000)) << c.decoder << " did not run (scripts/install-deps.sh installs it)";
    ASSERT_EQ(0, decoder.exitCode()) << decoder.readAllStandardError().toStdString();
    const QImage theirs(png);
    EXPECT_EQ(QSize(65, 47), theirs.size());
    EXPECT_LE(test::MaxImageDistance(drawn, theirs), c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    WebFormats, WebFormatTest,
    ::testing::Values(WebCase {"Webp", "webp", ".webp", "dwebp", {"IN", "-o", "OUT"}, 24},
                      WebCase {"Avif", "avif", ".avif", "avifdec", {"IN", "OUT"}, 24},
                      WebCase {"Jxl", "jxl", ".jxl", "djxl", {"IN", "OUT"}, 24}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A gradient with fine grain, which a lower quality must give up.
QImage GrainyImage(int width, int height)
{
    QImage image = test::GradientImage(width, height);
    unsigned state = 12345;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int grain = int((state >> 16) % 61) - 30;
            row[x] = qRgb(std::clamp(qRed(row[x]) + grain, 0, 255), std::clamp(qGreen(row[x]) - grain, 0, 255),
                          std::clamp(qBlue(row[x]) + grain / 2, 0, 255));
        }
    }
    return image;
}

double MeanSquaredError(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

struct Written {
    QByteArray bytes;
    double error = -1; // mean squared error against the drawing
};

class QualityTest : public ::testing::TestWithParam<int> {};

// Every lossy format takes the quality: a lower one gives a smaller file and
// a worse picture, and none asked for (the window's case) is the default.
TEST_P(QualityTest, LowerQualityIsSmallerAndWorseAndNoneIsTheDefault)
{
    const OutputFormatEntry& entry = OutputFormats()[std::size_t(GetParam())];
    QTemporaryDir dir;
    const QImage drawn = GrainyImage(120, 90);
    Surface thumb;
    const auto save = [&](int quality) {
        Written written;
        DrawInto(thumb, drawn);
        const QString path = dir.filePath(QString::number(quality) + QLatin1String(entry.Extension));
        QString reason;
        EXPECT_EQ(kSaveWritten, SaveThumbnail(thumb, path, entry, &reason, quality))
            << reason.toStdString();
        written.bytes = test::ReadFileBytes(path);
        Surface loaded;
        if (LoadImageToSurface(path, loaded).ok && loaded.Image().size() == drawn.size())
            written.error = MeanSquaredError(drawn, loaded.Image());
        return written;
    };
    const Written low = save(20);
    const Written high = save(95);
    ASSERT_GE(low.error, 0);
    ASSERT_GE(high.error, 0);
    EXPECT_LT(low.bytes.size(), high.bytes.size());
    EXPECT_LT(high.error, low.error);
    EXPECT_EQ(save(entry.DefaultQuality).bytes, save(0).bytes);
}

std::vector<int> LossyFormats()
{
    std::vector<int> indexes;
    for (int i = 0; i < kOutputFormatCount; ++i) {
        if (OutputFormats()[std::size_t(i)].DefaultQuality > 0)
            indexes.push_back(i);
    }
    return indexes;
}

INSTANTIATE_TEST_SUITE_P(LossyFormats, QualityTest, ::testing::ValuesIn(LossyFormats()),
                         [](const auto& testInfo) {
                             return std::string(OutputFormats()[std::size_t(testInfo.param)].Name);
                         });

class FullDiskTest : public ::testing::TestWithParam<int> {};

// Whatever the encoder, a disk that fills up mid-write gives the system's
// reason, leaves no partial or temporary file and the earlier file intact.
TEST_P(FullDiskTest, RefusesWithTheSystemsReasonAndLeavesTheEarlierFile)
{
    const OutputFormatEntry& entry = OutputFormats()[std::size_t(GetParam())];
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("thumb") + QLatin1String(entry.Extension));
    const QByteArray earlier("an earlier thumbnail that must survive");
    ASSERT_TRUE(test::WriteFileBytes(path, earlier));
    Surface thumb;
    DrawInto(thumb, GrainyImage(200, 150)); // far more than 1 KiB in any format
    QString reason;
    int status = kSaveWritten;
    {
        const test::FileSizeLimit limit(1024);
        status = SaveThumbnail(thumb, path, entry, &reason);
    }
    EXPECT_EQ(kSaveFailed, status);
    EXPECT_EQ(QStringLiteral("cannot write the file (File too large)"), reason);
    EXPECT_EQ(QStringList {QFileInfo(path).fileName()}, FolderEntries(dir.path()));
    EXPECT_EQ(earlier, test::ReadFileBytes(path));
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FullDiskTest, ::testing::Range(0, kOutputFormatCount),
                         [](const auto& testInfo) {
                             return std::string(OutputFormats()[std::size_t(testInfo.param)].Name);
                         });

TEST(CaptureThumbnailTest, CapturesEveryRowAt32BitsWithFourthByteZero)
{
    // Taller than a 16-bit row count can hold.
    Surface thumb(2, 40000);
    thumb.Image().fill(qRgb(10, 20, 30));
    thumb.Image().setPixel(1, 0, qRgb(200, 100, 50));
    const CapturedBitmap captured = CaptureThumbnail(thumb);
    ASSERT_TRUE(captured.Bitmap);
    EXPECT_EQ(2, captured.Width);
    EXPECT_EQ(40000, captured.Height);
    FIBITMAP* b = captured.Bitmap.get();
    EXPECT_EQ(32u, FreeImage_GetBPP(b));
    // Bottom-up: the surface's top row is the bitmap's last.
    const BYTE* top = FreeImage_GetScanLine(b, 39999) + 4;
    EXPECT_EQ(200, top[FI_RGBA_RED]);
    EXPECT_EQ(100, top[FI_RGBA_GREEN]);
    EXPECT_EQ(50, top[FI_RGBA_BLUE]);
    EXPECT_EQ(0, top[FI_RGBA_ALPHA]);
    const BYTE* bottom = FreeImage_GetScanLine(b, 0);
    EXPECT_EQ(10, bottom[FI_RGBA_RED]);
    EXPECT_EQ(0, bottom[FI_RGBA_ALPHA]);
    EXPECT_FALSE(thumb.Picture().isNull());
}

TEST(CaptureThumbnailTest, EmptySurfaceCapturesNothing)
{
    Surface thumb(0, 5);
    const CapturedBitmap captured = CaptureThumbnail(thumb);
    EXPECT_FALSE(captured.Bitmap);
    EXPECT_EQ(0, captured.Width);
    EXPECT_EQ(0, captured.Height);
}

} // namespace
} // namespace pixquill
