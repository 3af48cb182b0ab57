#include <gtest/gtest.h>

#include <functional>

#include <QColorSpace>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <lcms2.h>

#include "codec/ColourProfile.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestImages.h"

// Loading through the whole codec: the files carry their profile as the
// programs that write them put it there, and the surface must show the
// colours the profile describes.

namespace pixquill {
namespace {

// An RGB profile whose red and green primaries are sRGB's green and red:
// stored (r, g, b) means sRGB (g, r, b).
QByteArray SwappedRedGreenProfile()
{
    const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.30, 0.60, 1.0}, {0.64, 0.33, 1.0}, {0.15, 0.06, 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

// Flat patches, so that JPEG's losses stay small.
QImage Patches()
{
    QImage image(64, 32, QImage::Format_RGB32);
    const QRgb colours[4] = {qRgb(200, 40, 30), qRgb(30, 160, 60), qRgb(40, 60, 200), qRgb(220, 200, 40)};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, colours[(x / 16) % 4]);
    return image;
}

QImage SwappedRedGreen(const QImage& image)
{
    QImage swapped = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < swapped.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(swapped.scanLine(y));
        for (int x = 0; x < swapped.width(); ++x)
            row[x] = qRgb(qGreen(row[x]), qRed(row[x]), qBlue(row[x]));
    }
    return swapped;
}

int WorstDistance(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 4; y < a.height() - 4; ++y)
        for (int x = 0; x < a.width(); ++x)
            if (x % 16 > 3 && x % 16 < 12) // away from the patches' edges
                worst = std::max(worst, test::ColourDistance(a.pixel(x, y), b.pixel(x, y)));
    return worst;
}

struct TaggedCase {
    const char* Name;
    const char* Format;      // Qt's writer
    QImage::Format Depth;    // 8 or 16 bits per channel
    int Tolerance;
    bool Waits; // the conversion may wait for the thumbnail (8 bits or less)
};

std::ostream& operator<<(std::ostream& os, const TaggedCase& c) { return os << c.Name; }

class TaggedFileTest : public ::testing::TestWithParam<TaggedCase> {};

TEST_P(TaggedFileTest, ShowsTheColoursTheProfileDescribes)
{
    const TaggedCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tagged.") + QString::fromLatin1(c.Format).toLower());
    QImage stored = SwappedRedGreen(Patches()).convertToFormat(c.Depth);
    stored.setColorSpace(QColorSpace::fromIccProfile(SwappedRedGreenProfile()));
    ASSERT_TRUE(stored.colorSpace().isValid());
    ASSERT_TRUE(stored.save(path, c.Format, 100));

    Surface surface;
    test::StderrCapture stderrCapture;
    const LoadResult loaded = LoadImageToSurface(path, surface);
    ASSERT_TRUE(loaded.ok) << loaded.error.toStdString();
    EXPECT_LE(WorstDistance(surface.Image(), Patches()), c.Tolerance);
    EXPECT_TRUE(stderrCapture.Take().isEmpty());

    // On the road to a thumbnail an 8-bit picture keeps the file's numbers
    // and hands the profile on; converting the drawing afterwards shows the
    // same colours. A deeper one is converted on the way in.
    Surface stays;
    ThumbnailRequest request;
    request.ColourAfterReduction = true;
    const ThumbnailLoad road = LoadImageForThumbnail(path, stays, request);
    ASSERT_TRUE(road.ok) << road.error.toStdString();
    EXPECT_EQ(!road.ColourProfile.isEmpty(), c.Waits);
    if (c.Waits) {
        EXPECT_LE(WorstDistance(stays.Image(), SwappedRedGreen(Patches())), c.Tolerance);
    }
    ConvertPictureToSrgb(stays.Image(), road.ColourProfile);
    EXPECT_LE(WorstDistance(stays.Image(), Patches()), c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(Files, TaggedFileTest,
                         ::testing::Values(TaggedCase{"Png8", "PNG", QImage::Format_RGB32, 2, true},
                                           TaggedCase{"Png16", "PNG", QImage::Format_RGBX64, 2, false},
                                           TaggedCase{"Jpeg", "JPEG", QImage::Format_RGB32, 8, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// A PNG whose iCCP chunk is replaced: what it holds must not cost the picture.
QByteArray WithIccpChunk(const QByteArray& png, const QByteArray& compressedProfile)
{
    QByteArray body = QByteArray("iCCP") + QByteArray("x\0\0", 3) + compressedProfile;
    const quint32 crc = 0; // readers of the profile alone do not check it; FreeImage skips the chunk
    QByteArray chunk;
    const auto be32 = [](QByteArray& out, quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(static_cast<char>((v >> shift) & 0xFF));
    };
    be32(chunk, static_cast<quint32>(body.size() - 4));
    chunk += body;
    be32(chunk, crc);
    return png.left(33) + chunk + png.mid(33); // after the signature and IHDR
}

struct BrokenChunk {
    const char* Name;
    std::function<QByteArray()> Compressed;
};

std::ostream& operator<<(std::ostream& os, const BrokenChunk& c) { return os << c.Name; }

class BrokenProfileTest : public ::testing::TestWithParam<BrokenChunk> {};

TEST_P(BrokenProfileTest, DrawsThePictureUnconverted)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.png"));
    ASSERT_TRUE(Patches().save(plain, "PNG"));
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    const QString broken = dir.filePath(QStringLiteral("broken.png"));
    QFile out(broken);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(WithIccpChunk(png, GetParam().Compressed()));
    out.close();

    Surface expected;
    ASSERT_TRUE(LoadImageToSurface(plain, expected).ok);
    Surface surface;
    test::StderrCapture stderrCapture;
    const LoadResult loaded = LoadImageToSurface(broken, surface);
    EXPECT_TRUE(stderrCapture.Take().isEmpty());
    if (loaded.ok) // FreeImage may refuse the damaged chunk's CRC outright; never a wrong colour
        EXPECT_EQ(surface.Image(), expected.Image());
    else
        EXPECT_FALSE(loaded.error.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, BrokenProfileTest,
    ::testing::Values(
        BrokenChunk{"NotZlib", [] { return QByteArray("not a zlib stream at all"); }},
        // 64 MB of zeros in a few kilobytes: refused past 4 MB.
        BrokenChunk{"Bomb", [] { return qCompress(QByteArray(64 << 20, '\0'), 9).mid(4); }},
        // A profile whose header claims far more bytes than it has.
        BrokenChunk{"LyingSize", [] {
            QByteArray icc = SwappedRedGreenProfile();
            icc[0] = '\x7F';
            return qCompress(icc).mid(4);
        }}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// Today's photo formats, written by their libraries' own encoders, through
// the loader at their size.
TEST(TodaysFormats, LoadAtTheirSize)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("source.png"));
    ASSERT_TRUE(test::GradientImage(96, 64).save(png, "PNG"));
    const std::pair<QString, QStringList> encoders[] = {
        {QStringLiteral("a.heic"), {QStringLiteral("heif-enc"), QStringLiteral("-q"), QStringLiteral("80"), QStringLiteral("-o"), dir.filePath(QStringLiteral("a.heic")), png}},
        {QStringLiteral("a.avif"), {QStringLiteral("heif-enc"), QStringLiteral("-A"), QStringLiteral("-p"), QStringLiteral("speed=9"), QStringLiteral("-o"), dir.filePath(QStringLiteral("a.avif")), png}},
        {QStringLiteral("a.jxl"), {QStringLiteral("cjxl"), png, dir.filePath(QStringLiteral("a.jxl")), QStringLiteral("--quiet")}},
    };
    for (const auto& [name, command] : encoders) {
        QProcess encoder;
        encoder.start(command.first(), command.mid(1));
        ASSERT_TRUE(encoder.waitForFinished(60000)) << name.toStdString();
        ASSERT_EQ(encoder.exitCode(), 0) << name.toStdString() << encoder.readAllStandardError().toStdString();
        // Under a name that says nothing: found by content.
        const QString renamed = dir.filePath(name + QStringLiteral(".bin"));
        ASSERT_TRUE(QFile::rename(dir.filePath(name), renamed));
        Surface surface;
        const LoadResult loaded = LoadImageToSurface(renamed, surface);
        ASSERT_TRUE(loaded.ok) << name.toStdString() << ": " << loaded.error.toStdString();
        EXPECT_EQ(QSize(surface.Width(), surface.Height()), QSize(96, 64)) << name.toStdString();
        EXPECT_LE(test::ColourDistance(surface.Image().pixel(48, 32), test::GradientImage(96, 64).pixel(48, 32)), 24)
            << name.toStdString();
    }
}

} // namespace
} // namespace pixquill
