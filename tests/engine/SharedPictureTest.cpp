// A Look's picture comes back from the worker in a memory file (after its
// glance, for a large one): the window
// gets the worker's pixels, and whatever a hostile worker sends in their place
// fails that look with a reason (never a fault) and costs the worker, whose
// successor then looks as before.

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "engine/WorkerProcess.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

struct HostileCase {
    const char* What;   // the test worker's stand-in, see TestWorker.cpp
    const char* Reason; // what the failed look's reason says after kDecoderGarbledPicture
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.What;
}

class SharedPictureLook : public ::testing::TestWithParam<HostileCase> {};

TEST_P(SharedPictureLook, AHostileAnswerFailsThatLookOnly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage gradient = test::GradientImage(53, 31);
    const QString plain = dir.filePath(QStringLiteral("plain.png"));
    const QString hostile = dir.filePath(QStringLiteral("lookover-%1.png").arg(QLatin1String(GetParam().What)));
    ASSERT_TRUE(gradient.save(plain, "PNG"));
    ASSERT_TRUE(QFile::copy(plain, hostile));
    Surface here;
    ASSERT_TRUE(LoadImageToSurface(plain, here).ok);

    WorkerProcess worker({QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}, 60}, WorkerJob{});
    const LookedPicture bad = worker.Look(hostile);
    EXPECT_FALSE(bad.Result.Written);
    EXPECT_TRUE(bad.Picture.isNull());
    EXPECT_EQ(bad.Result.Reason, QString::fromLatin1(kDecoderGarbledPicture) + QStringLiteral(" (")
                                     + QLatin1String(GetParam().Reason) + QLatin1Char(')'));
    EXPECT_EQ(worker.Starts(), 1);

    const LookedPicture good = worker.Look(plain);
    ASSERT_TRUE(good.Result.Written) << good.Result.Reason.toStdString();
    EXPECT_EQ(good.Picture, here.Image());
    EXPECT_EQ(worker.Starts(), 2); // the hostile one was not trusted again
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SharedPictureLook,
    ::testing::Values(
        HostileCase{"wider", "the picture's memory file holds 6572 bytes, not 6696"},
        HostileCase{"huge", "the picture's size is out of range (1048576 x 1048576)"},
        HostileCase{"negative", "the picture's size is out of range (-53 x 31)"},
        HostileCase{"short", "the picture's memory file holds 3180 bytes, not 6572"},
        HostileCase{"unsealed", "the picture's memory file is not sealed"},
        HostileCase{"writable", "the picture's memory file is not sealed"},
        HostileCase{"disk", "the picture's memory file is not sealed"},
        HostileCase{"pipe", "no memory file came with the picture"},
        HostileCase{"none", "no memory file came with the picture"}),
    [](const auto& testInfo) { return std::string(testInfo.param.What); });

// A large picture's glance comes before the picture, once: the picture
// averaged in blocks down to a little over kGlanceSide on its shorter side,
// with the whole picture's result. A smaller picture comes without one. A
// tagged picture's glance and picture are both in sRGB, as in process.
struct GlanceCase {
    const char* Name;
    QSize Picture;
    QSize Glance; // empty: none comes
    bool Tagged = false;
};

void PrintTo(const GlanceCase& c, std::ostream* os)
{
    *os << c.Name;
}

class LookGlance : public ::testing::TestWithParam<GlanceCase> {};

TEST_P(LookGlance, ComesFirstForALargePicture)
{
    const GlanceCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    QImage picture = test::GradientImage(c.Picture.width(), c.Picture.height());
    if (c.Tagged)
        picture.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    ASSERT_TRUE(picture.save(path, "PNG"));
    if (c.Tagged) {
        Surface inProcess;
        ASSERT_TRUE(LoadImageToSurface(path, inProcess).ok);
        const QPoint saturated(0, c.Picture.height() - 1); // Adobe RGB green lies far outside sRGB
        ASSERT_GT(test::ColourDistance(inProcess.Image().pixel(saturated), picture.pixel(saturated)), 8);
        picture = inProcess.Image();
    }

    WorkerProcess worker({QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}, 60}, WorkerJob{});
    QList<LookedPicture> glances;
    const LookedPicture looked = worker.Look(path, [&](const LookedPicture& glance) { glances.append(glance); });
    ASSERT_TRUE(looked.Result.Written) << looked.Result.Reason.toStdString();
    EXPECT_EQ(looked.Picture, picture);
    ASSERT_EQ(glances.size(), c.Glance.isEmpty() ? 0 : 1);
    if (c.Glance.isEmpty())
        return;
    const LookedPicture& glance = glances.front();
    EXPECT_EQ(glance.Picture.size(), c.Glance);
    EXPECT_EQ(QSize(glance.Result.SourceWidth, glance.Result.SourceHeight), c.Picture);
    // The top-left block's average, a gradient's value at its middle.
    const int factor = c.Picture.width() / c.Glance.width();
    EXPECT_LE(test::ColourDistance(glance.Picture.pixel(0, 0), picture.pixel(factor / 2, factor / 2)), 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LookGlance,
                         ::testing::Values(GlanceCase{"Wide", {1301, 1024}, {325, 256}},
                                           GlanceCase{"Tall", {1040, 2100}, {260, 525}},
                                           GlanceCase{"TooSmall", {1300, 1023}, {}},
                                           GlanceCase{"Tagged", {1301, 1024}, {325, 256}, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// A HEIF file's own thumbnail item comes as the glance, before the whole
// picture is decoded: the preview box is drawn from it, as a thumbnail is,
// with the whole picture's size. (640 x 480 is too small for a glance of
// its own.)
TEST(LookGlance, AThumbnailItemComesFirst)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("picture.png"));
    ASSERT_TRUE(test::GradientImage(640, 480).save(png, "PNG"));
    const QString heic = dir.filePath(QStringLiteral("picture.heic"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("90"),
                                                             QStringLiteral("-t"), QStringLiteral("160"),
                                                             QStringLiteral("-o"), heic, png}),
              0);

    WorkerProcess worker({QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}, 60}, WorkerJob{});
    QList<LookedPicture> glances;
    const LookedPicture looked = worker.Look(heic, [&](const LookedPicture& glance) { glances.append(glance); });
    ASSERT_TRUE(looked.Result.Written) << looked.Result.Reason.toStdString();
    EXPECT_EQ(looked.Picture.size(), QSize(640, 480));
    ASSERT_EQ(glances.size(), 1);
    EXPECT_EQ(glances.front().Picture.size(), QSize(160, 120));
    EXPECT_EQ(QSize(glances.front().Result.SourceWidth, glances.front().Result.SourceHeight), QSize(640, 480));
}

} // namespace
} // namespace pixquill
