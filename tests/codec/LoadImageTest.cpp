#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <FreeImage.h>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/codec/CodecTestFiles.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

class LoadImageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    // A surface already holding an earlier image, as between two loads.
    void FillWithEarlierImage()
    {
        m_surface.Resize(13, 7);
        m_surface.Image() = test::QuadrantImage(13, 7);
        m_earlier = m_surface.Image();
    }

    void ExpectUntouched() const
    {
        EXPECT_EQ(QSize(13, 7), QSize(m_surface.Width(), m_surface.Height()));
        EXPECT_EQ(m_earlier, m_surface.Image());
    }

    QTemporaryDir m_dir;
    Surface m_surface;
    QImage m_earlier;
};

TEST_F(LoadImageTest, SizesTheSurfaceToTheImageAndDrawsItOneToOne)
{
    const QImage image = test::GradientImage(800, 600);
    ASSERT_TRUE(image.save(Path(QStringLiteral("big.png"))));
    FillWithEarlierImage();
    const LoadResult r = LoadImageToSurface(Path(QStringLiteral("big.png")), m_surface);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_TRUE(r.error.isEmpty());
    EXPECT_EQ(QSize(800, 600), QSize(m_surface.Width(), m_surface.Height()));
    EXPECT_EQ(QSize(800, 600), QSize(m_surface.ScaleWidth(), m_surface.ScaleHeight()));
    EXPECT_EQ(image, m_surface.Image());
}

TEST_F(LoadImageTest, PngNamedJpgIsDetectedByContent)
{
    const QImage image = test::GradientImage(20, 10);
    ASSERT_TRUE(image.save(Path(QStringLiteral("photo.jpg")), "PNG"));
    const LoadResult r = LoadImageToSurface(Path(QStringLiteral("photo.jpg")), m_surface);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    // Decoded as PNG: lossless, so every pixel is exact.
    EXPECT_EQ(image, m_surface.Image());
}

TEST_F(LoadImageTest, ContentWithoutSignatureIsTriedByExtension)
{
    // Wireless bitmaps carry no signature: only the name says what they are.
    // 8 x 2, one bit per pixel, top row 11110000, bottom row 00001111.
    ASSERT_TRUE(test::WriteFileBytes(Path(QStringLiteral("x.wbmp")), QByteArray("\0\0\x08\x02\xF0\x0F", 6)));
    ASSERT_EQ(FIF_UNKNOWN, FreeImage_GetFileType(QFile::encodeName(Path(QStringLiteral("x.wbmp"))).constData(), 0));
    const LoadResult r = LoadImageToSurface(Path(QStringLiteral("x.wbmp")), m_surface);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(QSize(8, 2), m_surface.Image().size());
    EXPECT_EQ(qRgb(255, 255, 255), m_surface.Image().pixel(0, 0));
    EXPECT_EQ(qRgb(0, 0, 0), m_surface.Image().pixel(7, 0));
    EXPECT_EQ(qRgb(0, 0, 0), m_surface.Image().pixel(0, 1));
    EXPECT_EQ(qRgb(255, 255, 255), m_surface.Image().pixel(7, 1));
}

struct FailedLoadCase {
    const char* name;
    const char* fileName;
    QByteArray content;
    const char* error; // nullptr: any non-empty reason
};

void PrintTo(const FailedLoadCase& c, std::ostream* os) { *os << c.name; }

class FailedLoadTest : public LoadImageTest, public ::testing::WithParamInterface<FailedLoadCase> {};

TEST_P(FailedLoadTest, LeavesSizeAndContentUntouched)
{
    const FailedLoadCase& c = GetParam();
    const QString path = Path(QString::fromUtf8(c.fileName));
    if (!c.content.isNull()) {
        ASSERT_TRUE(test::WriteFileBytes(path, c.content));
    }
    FillWithEarlierImage();
    const LoadResult r = LoadImageToSurface(path, m_surface);
    EXPECT_FALSE(r.ok);
    if (c.error)
        EXPECT_EQ(QString::fromUtf8(c.error), r.error);
    else
        EXPECT_FALSE(r.error.isEmpty());
    ExpectUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedLoadTest,
    ::testing::Values(
        // Known extension, content nobody recognises: tried as PNG, fails.
        FailedLoadCase {"GarbageWithKnownExtension", "x.png", QByteArray("not an image at all, honestly"), nullptr},
        FailedLoadCase {"NeitherContentNorExtension", "x.qqq", QByteArray("not an image at all, honestly"),
                        "unrecognised image format"},
        FailedLoadCase {"EmptyFile", "empty.bmp", QByteArray(""), "empty file"},
        FailedLoadCase {"Missing", "missing.png", QByteArray(), "file not found"},
        FailedLoadCase {"TruncatedPng", "cut.png", test::PngHeaderOnly(64, 64), nullptr},
        // Header-declared sizes beyond 2^28 pixels are refused before decoding.
        FailedLoadCase {"HugeHeader", "huge.png", test::PngHeaderOnly(100000, 100000), "image too large"},
        FailedLoadCase {"JustOverTheLimit", "over.png", test::PngHeaderOnly(16384, 16385), "image too large"},
        FailedLoadCase {"HugeBmpHeader", "huge.bmp",
                        QByteArray("BM\x36\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\xA0\x86\x01\0\xA0\x86\x01\0\x01\0\x18\0"
                                   "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0",
                                   54),
                        "image too large"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LoadImageTest, FolderIsNotLoaded)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("sub.png")));
    FillWithEarlierImage();
    EXPECT_FALSE(LoadImageToSurface(Path(QStringLiteral("sub.png")), m_surface).ok);
    ExpectUntouched();
}

// 16-bit and grey files written by FreeImage, read back with their colours.
struct DeepCase {
    const char* name;
    FREE_IMAGE_TYPE type;
    int bpp; // for FIT_BITMAP
};

void PrintTo(const DeepCase& c, std::ostream* os) { *os << c.name; }

class DeepImageTest : public LoadImageTest, public ::testing::WithParamInterface<DeepCase> {};

TEST_P(DeepImageTest, DrawsWithItsRealColours)
{
    const DeepCase& c = GetParam();
    constexpr int w = 16;
    constexpr int h = 4;
    Bitmap b(c.type == FIT_BITMAP ? FreeImage_Allocate(w, h, c.bpp) : FreeImage_AllocateT(c.type, w, h));
    ASSERT_TRUE(b);
    QImage expected(w, h, QImage::Format_RGB32);
    if (c.type == FIT_BITMAP) { // 8-bit greyscale
        RGBQUAD* pal = FreeImage_GetPalette(b.get());
        for (int i = 0; i < 256; ++i)
            pal[i] = RGBQUAD {BYTE(i), BYTE(i), BYTE(i), 0};
    }
    for (int y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(b.get(), h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const int level = (x * 16 + y * 60) % 256;
            switch (c.type) {
            case FIT_UINT16:
                reinterpret_cast<WORD*>(line)[x] = static_cast<WORD>(level << 8 | 0x7F);
                expected.setPixel(x, y, qRgb(level, level, level));
                break;
            case FIT_RGB16:
                reinterpret_cast<FIRGB16*>(line)[x] =
                    FIRGB16 {WORD(level << 8), WORD((255 - level) << 8 | 0xFF), WORD(0x8000)};
                expected.setPixel(x, y, qRgb(level, 255 - level, 0x80));
                break;
            case FIT_RGBA16:
                reinterpret_cast<FIRGBA16*>(line)[x] = FIRGBA16 {WORD(level << 8), WORD(0x1000), WORD(0xFFFF), WORD(0)};
                expected.setPixel(x, y, qRgb(level, 0x10, 0xFF));
                break;
            default:
                line[x] = static_cast<BYTE>(level);
                expected.setPixel(x, y, qRgb(level, level, level));
            }
        }
    }
    const QString path = Path(QStringLiteral("deep.png"));
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, b.get(), QFile::encodeName(path).constData(), 0));
    const LoadResult r = LoadImageToSurface(path, m_surface);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(expected, m_surface.Image());
}

INSTANTIATE_TEST_SUITE_P(Types, DeepImageTest,
                         ::testing::Values(DeepCase {"Rgb16Png", FIT_RGB16, 0}, DeepCase {"Rgba16Png", FIT_RGBA16, 0},
                                           DeepCase {"Grey16Png", FIT_UINT16, 0}, DeepCase {"Grey8Png", FIT_BITMAP, 8}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LoadImageTest, JpegWithExifOrientation6LoadsUpright)
{
    // Landscape as stored; orientation 6 means "turn 90 degrees clockwise".
    const QImage stored = test::QuadrantImage(40, 20);
    ASSERT_TRUE(test::WriteFileBytes(Path(QStringLiteral("cam.jpg")), test::JpegWithOrientation(stored, 6)));
    const LoadResult r = LoadImageToSurface(Path(QStringLiteral("cam.jpg")), m_surface);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    ASSERT_EQ(QSize(20, 40), m_surface.Image().size());
    // Stored top-left (red) is now top-right; stored bottom-left (blue) top-left.
    EXPECT_LE(test::ColourDistance(qRgb(255, 0, 0), m_surface.Image().pixel(15, 5)), 16);
    EXPECT_LE(test::ColourDistance(qRgb(0, 0, 255), m_surface.Image().pixel(4, 5)), 16);
    EXPECT_LE(test::ColourDistance(qRgb(0, 255, 0), m_surface.Image().pixel(15, 35)), 16);
}

TEST_F(LoadImageTest, JpegWithoutOrientationKeepsItsShape)
{
    const QImage stored = test::QuadrantImage(40, 20);
    ASSERT_TRUE(test::WriteFileBytes(Path(QStringLiteral("cam.jpg")), test::JpegWithOrientation(stored, 1)));
    ASSERT_TRUE(LoadImageToSurface(Path(QStringLiteral("cam.jpg")), m_surface).ok);
    EXPECT_EQ(QSize(40, 20), m_surface.Image().size());
}

TEST_F(LoadImageTest, NonAsciiFileNamesAreRead)
{
    const QString path = Path(QStringLiteral("Grüße – 写真.png"));
    ASSERT_TRUE(test::GradientImage(5, 3).save(path));
    const LoadResult r = LoadImageToSurface(path, m_surface);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(QSize(5, 3), m_surface.Image().size());
}

// Virtual memory of this process now, in bytes.
rlim_t CurrentVirtualSize()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return static_cast<rlim_t>(line.mid(7).trimmed().split(' ').first().toULongLong()) * 1024;
    }
    return 0;
}

// Loads with the address space limited to what the process uses now plus
// 100 MB; 0 when the load failed for lack of memory and left the surface as
// promised: an ordinary surface keeps the earlier image, a scratch one is
// empty (never half drawn). Unused under the address sanitizer, which skips
// the test.
[[maybe_unused]] int LoadWithLittleMemoryLeft(const QString& path, bool scratch)
{
    Surface surface;
    surface.SetScratch(scratch);
    surface.Resize(13, 7);
    surface.Image() = test::QuadrantImage(13, 7);
    const QImage earlier = surface.Image();
    rlimit limit {};
    limit.rlim_cur = CurrentVirtualSize() + 100u * 1024 * 1024;
    limit.rlim_max = RLIM_INFINITY;
    setrlimit(RLIMIT_AS, &limit);
    const LoadResult result = LoadImageToSurface(path, surface);
    const bool asPromised = scratch ? surface.Image().isNull()
                                    : surface.Width() == 13 && surface.Height() == 7 && surface.Image() == earlier;
    std::fprintf(stderr, "[%s]\n", result.error.toUtf8().constData());
    return !result.ok && asPromised ? 0 : 1;
}

// The decoded bitmap fits in what is left (36 MB of grey), the 32-bit
// picture made from it does not (144 MB): the load fails for lack of memory.
// Runs in a child process.
class LoadImageMemoryTest : public ::testing::TestWithParam<bool> {};

TEST_P(LoadImageMemoryTest, RunningOutOfMemoryFailsCleanly)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit allows";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("grey.png"));
    QImage grey(6000, 6000, QImage::Format_Grayscale8);
    grey.fill(128);
    ASSERT_TRUE(grey.save(path));
    EXPECT_EXIT(std::_Exit(LoadWithLittleMemoryLeft(path, GetParam())), ::testing::ExitedWithCode(0),
                "\\[not enough memory for the image\\]");
#endif
}

INSTANTIATE_TEST_SUITE_P(Surfaces, LoadImageMemoryTest, ::testing::Bool(),
                         [](const auto& testInfo) { return testInfo.param ? "Scratch" : "KeepsTheEarlierImage"; });

// A batch worker's scratch load surface frees before it allocates; what it
// ends up holding must be what an ordinary surface holds, through size
// changes up and down and a reload at the same size.
TEST_F(LoadImageTest, ScratchSurfaceHoldsWhatAnOrdinaryOneHolds)
{
    Surface scratch;
    scratch.SetScratch(true);
    const QSize sizes[] = {{30, 20}, {12, 40}, {12, 40}, {50, 50}};
    for (const QSize& size : sizes) {
        const QString path = Path(QStringLiteral("g%1x%2.png").arg(size.width()).arg(size.height()));
        ASSERT_TRUE(test::QuadrantImage(size.width(), size.height()).save(path));
        ASSERT_TRUE(LoadImageToSurface(path, m_surface).ok);
        ASSERT_TRUE(LoadImageToSurface(path, scratch).ok);
        EXPECT_EQ(QSize(m_surface.Width(), m_surface.Height()), QSize(scratch.Width(), scratch.Height()));
        EXPECT_EQ(m_surface.Image(), scratch.Image());
    }
}

} // namespace
} // namespace pixquill
