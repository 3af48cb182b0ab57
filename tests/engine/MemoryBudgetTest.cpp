// The run's memory budget: sizes read and written, estimates from headers,
// and runs in which large images wait their turn or are refused.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include "codec/InputSource.h"
#include "codec/MemoryEstimate.h"
#include "codec/Surface.h"
#include "engine/BatchEngine.h"
#include "engine/MemoryBudget.h"
#include "tests/support/Folders.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

struct SizeCase {
    const char* Text;
    std::uint64_t Bytes; // 0: refused
};

std::ostream& operator<<(std::ostream& os, const SizeCase& c)
{
    return os << '"' << c.Text << '"';
}

class MemorySizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(MemorySizes, ReadAsBytesOrRefused)
{
    const Outcome<std::uint64_t> read = ParseMemorySize(QString::fromUtf8(GetParam().Text));
    if (GetParam().Bytes == 0) {
        ASSERT_FALSE(read);
        EXPECT_TRUE(read.Error().Reason.contains("is not a memory size")) << read.Error().Reason.toStdString();
    } else {
        ASSERT_TRUE(read) << read.Error().Reason.toStdString();
        EXPECT_EQ(*read, GetParam().Bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MemorySizes,
                         ::testing::Values(SizeCase{"4G", 4 * kGiB}, SizeCase{"6000M", 6000 * kMiB},
                                           SizeCase{"6000m", 6000 * kMiB}, SizeCase{"1.5G", 3 * kGiB / 2},
                                           SizeCase{" 512K ", 512 * 1024}, SizeCase{"1T", 1024 * kGiB},
                                           SizeCase{"123456", 123456}, SizeCase{"100MB", 0}, SizeCase{"0", 0},
                                           SizeCase{"0.1", 0}, SizeCase{"-4G", 0}, SizeCase{"lots", 0},
                                           SizeCase{"1e9", 0}, SizeCase{"inf", 0}, SizeCase{"4X", 0},
                                           SizeCase{"G", 0}, SizeCase{"", 0}, SizeCase{"9999999T", 0}));

TEST(MemoryText, RefusalSaysBothFigures)
{
    EXPECT_EQ(MemoryRefusal(std::uint64_t(5.1 * double(kGiB)), 4 * kGiB), "needs about 5.1 GB, the limit is 4 GB");
    EXPECT_EQ(MemoryRefusal(156 * kMiB + 300, 100 * kMiB), "needs about 156 MB, the limit is 100 MB");
    EXPECT_EQ(MemoryRefusal(9 * kGiB + 1, 8 * kGiB), "needs about 9 GB, the limit is 8 GB");
    EXPECT_EQ(MemoryText(1023), "1023 bytes");
    EXPECT_EQ(MemoryText(kGiB - kMiB), "1023 MB");
    EXPECT_EQ(MemAvailableOf("MemTotal: 100 kB\nMemAvailable:    2048 kB\n"), std::optional<std::uint64_t>(2 * kMiB));
    EXPECT_EQ(MemAvailableOf("MemTotal: 100 kB\n"), std::nullopt);
}

// ISOBMFF boxes, as a HEIF holds them.
QByteArray BoxOf(const char* type, const QByteArray& body, bool full = false)
{
    QByteArray box;
    const auto length = static_cast<std::uint32_t>(8 + (full ? 4 : 0) + body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        box.append(char((length >> shift) & 0xFF));
    box.append(type, 4);
    if (full)
        box.append(4, '\0');
    return box + body;
}

QByteArray Be32Bytes(std::uint32_t value)
{
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xFF));
    return bytes;
}

// A grid of 256 x 256 tiles declaring width x height, its samples of `bits`.
QByteArray HeifGrid(std::uint32_t width, std::uint32_t height, int bits)
{
    const QByteArray tile = BoxOf("ispe", Be32Bytes(256) + Be32Bytes(256), true);
    const QByteArray grid = BoxOf("ispe", Be32Bytes(width) + Be32Bytes(height), true);
    const QByteArray pixi = BoxOf("pixi", QByteArray("\x03", 1) + QByteArray(3, char(bits)), true);
    const QByteArray meta = BoxOf("meta", BoxOf("hdlr", QByteArray(20, '\0'), true)
                                              + BoxOf("iprp", BoxOf("ipco", tile + pixi + grid)),
                                  true);
    return BoxOf("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16)) + meta;
}

QByteArray Encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A little-endian TIFF's first directory alone: width (LONG), height
// (SHORT) and bits per sample, and a second directory for a larger picture.
QByteArray TiffDirectories(std::uint32_t width, std::uint32_t height, std::uint16_t bits)
{
    const auto le = [](std::uint32_t value, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out.append(char((value >> (8 * i)) & 0xFF));
        return out;
    };
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        return le(tag, 2) + le(type, 2) + le(1, 4) + le(value, 4);
    };
    // A small preview first, the picture itself in the next directory.
    QByteArray tiff = QByteArray("II*\0", 4) + le(8, 4);
    tiff += le(2, 2) + entry(256, 3, 160) + entry(257, 3, 120) + le(8 + 2 + 24 + 4, 4);
    tiff += le(3, 2) + entry(256, 4, width) + entry(257, 3, height) + entry(258, 3, bits) + le(0, 4);
    return tiff;
}

struct EstimateCase {
    const char* Name;
    QByteArray File;
    EstimateKind Kind;
    std::uint64_t Width; // 0: the size cannot be told
    std::uint64_t Height;
    bool Deep;
};

std::ostream& operator<<(std::ostream& os, const EstimateCase& c)
{
    return os << c.Name;
}

class HeaderEstimates : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(HeaderEstimates, SizeAndDepthFromTheHeaderAlone)
{
    const EstimateCase& c = GetParam();
    const InputSource file(c.File);
    const MemoryEstimate estimate = EstimateFromHeader(file.Reader(), file.Size());
    EXPECT_EQ(estimate.Kind, c.Kind);
    EXPECT_EQ(estimate.Width, c.Width);
    EXPECT_EQ(estimate.Height, c.Height);
    EXPECT_EQ(estimate.Deep, c.Deep);
    if (c.Width == 0) {
        EXPECT_EQ(estimate.Bytes, kUnknownImageBytes);
    } else if (c.Width * c.Height <= (std::uint64_t{1} << 28)) {
        EXPECT_EQ(estimate.Bytes, kDecodeBaseBytes + c.Width * c.Height * PeakBytesPerPixel(c.Kind, c.Deep));
    }
}

QImage Deep(int width, int height)
{
    QImage image(width, height, QImage::Format_RGBX64);
    image.fill(QColor(10, 200, 30));
    return image;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeaderEstimates,
    ::testing::Values(
        EstimateCase{"jpeg", Encoded(test::GradientImage(640, 400), "JPG"), EstimateKind::Jpeg, 640, 400, false},
        EstimateCase{"png", Encoded(test::GradientImage(300, 200), "PNG"), EstimateKind::Png, 300, 200, false},
        EstimateCase{"png16", Encoded(Deep(30, 20), "PNG"), EstimateKind::Png, 30, 20, true},
        EstimateCase{"tiff", TiffDirectories(2100, 1200, 8), EstimateKind::Tiff, 2100, 1200, false},
        EstimateCase{"tiff16", TiffDirectories(70000, 500, 16), EstimateKind::Tiff, 70000, 500, true},
        // The grid's own size, not its tiles'; 10-bit samples are kept at 16.
        EstimateCase{"heifGrid", HeifGrid(16384, 16384, 8), EstimateKind::Heif, 16384, 16384, false},
        EstimateCase{"heifDeep", HeifGrid(4000, 3000, 10), EstimateKind::Heif, 4000, 3000, true},
        // Past the decoders' pixel limit: refused before any pixel, so it
        // costs little.
        EstimateCase{"heifHuge", HeifGrid(100000, 100000, 8), EstimateKind::Heif, 100000, 100000, false},
        EstimateCase{"heifNoMeta", BoxOf("ftyp", QByteArray("heic\0\0\0\0", 8)) + BoxOf("mdat", "x"),
                     EstimateKind::Heif, 0, 0, false},
        // A box claiming more than the file holds ends the walk.
        EstimateCase{"heifCut", HeifGrid(800, 600, 8).left(60), EstimateKind::Heif, 0, 0, false},
        EstimateCase{"garbage", QByteArray(64, 'x'), EstimateKind::Unknown, 0, 0, false},
        EstimateCase{"empty", QByteArray(), EstimateKind::Unknown, 0, 0, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(HeaderEstimates, PastThePixelLimitCostsOnlyTheDecodersBase)
{
    const InputSource file(HeifGrid(100000, 100000, 8));
    EXPECT_EQ(EstimateFromHeader(file.Reader(), file.Size()).Bytes, kDecodeBaseBytes);
}

struct SurfaceCase {
    const char* Name;
    int Width;
    int Height;
    bool Kept;
};

std::ostream& operator<<(std::ostream& os, const SurfaceCase& c)
{
    return os << c.Name;
}

class SurfaceBetweenImages : public ::testing::TestWithParam<SurfaceCase> {};

// A surface keeps a photo's worth for the next image, never a giant's.
TEST_P(SurfaceBetweenImages, GivesBackOnlyALargePicture)
{
    const SurfaceCase& c = GetParam();
    Surface surface;
    surface.ResizeForOverwrite(c.Width, c.Height);
    surface.SetPictureFromImage();
    ReleaseLargePicture(surface);
    EXPECT_EQ(surface.Image().isNull(), !c.Kept);
    EXPECT_EQ(surface.Picture().isNull(), !c.Kept);
}

INSTANTIATE_TEST_SUITE_P(Table, SurfaceBetweenImages,
                         ::testing::Values(SurfaceCase{"Photo", 4096, 4096, true},
                                           SurfaceCase{"JustLarger", 4096, 4097, false},
                                           SurfaceCase{"Grid", 8000, 9000, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// Watches the images in making: how many of the large ones at most at once.
// Each large image stays in making until `wanted` of them are, or a while
// has passed, so that a run which may overlap them does.
struct InHand {
    std::mutex Mutex;
    std::condition_variable Changed;
    int Large = 0;
    int MostLarge = 0;
    int Wanted = 1;

    ImageMaker Wrap(ImageMaker maker)
    {
        return [this, maker = std::move(maker)](const QString& name, const JobSettings& settings) {
            const bool large = name.startsWith("large");
            if (large) {
                std::unique_lock lock(Mutex);
                MostLarge = std::max(MostLarge, ++Large);
                Changed.notify_all();
                Changed.wait_for(lock, std::chrono::seconds(2), [this] { return Large >= Wanted; });
            }
            MadeImage made = maker(name, settings);
            if (large) {
                const std::lock_guard lock(Mutex);
                --Large;
            }
            return made;
        };
    }
};

struct TurnCase {
    const char* Name;
    std::uint64_t Limit;
    int Jobs;
    int MostLarge;    // at once
    bool LargeRefused; // each alone needs more than the limit
};

std::ostream& operator<<(std::ostream& os, const TurnCase& c)
{
    return os << c.Name;
}

class WaitTheirTurn : public ::testing::TestWithParam<TurnCase> {};

// Three large images (2000 x 1500) among small ones: each large one needs
// about 39 MB by its header, a small one 16 MB.
TEST_P(WaitTheirTurn, LargeImagesNeverMeetBeyondTheLimit)
{
    const TurnCase& c = GetParam();
    test::Folders f;
    const QStringList names{"large1.png", "small1.png", "large2.png", "small2.png", "large3.png", "small3.png"};
    for (const QString& name : names)
        f.Draw(name, name.startsWith("large") ? test::GradientImage(2000, 1500) : test::GradientImage(90, 60));
    JobSettings settings;
    settings.SourceFolder = f.Source;
    settings.DestinationFolder = f.Destination;
    SettingsSnapshot snapshot(settings);
    ASSERT_TRUE(PrepareDestination(settings));
    InHand watch;
    watch.Wanted = c.MostLarge;
    BatchPlan plan;
    plan.Names = names;
    plan.Jobs = c.Jobs;
    plan.MemoryLimit = c.Limit;
    plan.WrapMaker = [&watch](ImageMaker maker) { return watch.Wrap(std::move(maker)); };
    const BatchReport report = RunBatch(plan, snapshot);

    EXPECT_EQ(watch.MostLarge, c.MostLarge);
    ASSERT_EQ(report.Results.size(), std::size_t(6));
    for (const ImageResult& result : report.Results) {
        if (c.LargeRefused && result.Name.startsWith("large")) {
            EXPECT_FALSE(result.Written);
            EXPECT_EQ(result.Reason, MemoryRefusal(EstimateImageMemory(f.Source + "/" + result.Name).Bytes, c.Limit));
        } else {
            EXPECT_TRUE(result.Written) << result.Name.toStdString() << ": " << result.Reason.toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, WaitTheirTurn,
                         ::testing::Values(TurnCase{"OneLargeAtATime", 60 * kMiB, 3, 1, false},
                                           TurnCase{"TwoFit", 100 * kMiB, 3, 2, false},
                                           TurnCase{"AllFit", 4 * kGiB, 3, 3, false},
                                           TurnCase{"OneJob", 4 * kGiB, 1, 1, false},
                                           TurnCase{"LargeTooLargeAlone", 30 * kMiB, 3, 0, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
