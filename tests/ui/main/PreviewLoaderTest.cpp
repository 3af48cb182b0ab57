#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "codec/Surface.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"
#include "ui/display/mScaleImage.h"
#include "ui/main/PreviewLoader.h"

namespace pixquill {
namespace {

// The answer to a request that a newer one overtook never reaches the
// window, even when it comes after the newer one was asked for.
TEST(PreviewLoader, AnAnswerOvertakenByANewerRequestIsDropped)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString first = dir.filePath("first.png");
    const QString second = dir.filePath("second.png");
    ASSERT_TRUE(test::GradientImage(40, 30).save(first, "PNG"));
    ASSERT_TRUE(test::GradientImage(20, 10).save(second, "PNG"));

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> firstInHand{false};
    PreviewLoader loader;
    loader.SetLoader([&](const QString& path, Surface& surface) {
        if (path == first) {
            firstInHand = true;
            released.wait();
        }
        return LoadImageToSurface(path, surface);
    });
    QStringList shown;
    QObject::connect(&loader, &PreviewLoader::Ready, [&](const PreviewReply& reply) {
        shown.append(reply.Path + QStringLiteral(" %1x%2").arg(reply.Picture.width()).arg(reply.Picture.height()));
    });

    loader.Request(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstInHand.load(); }, 10000));
    loader.Request(second);
    release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loader.Pending(); }, 10000));
    QTest::qWait(50); // time for a late answer to the first, were one sent
    EXPECT_EQ(shown, QStringList{second + QStringLiteral(" 20x10")});
}

// A large picture is averaged in blocks (on two threads from four
// megapixels) before the smooth scale: the drawing matches the picture
// scaled smoothly in one step, channel for channel and row for row. From a
// worker, a large picture's drawing comes first, from its glance, and the
// answer with the picture after it.
struct ShrinkCase {
    const char* Name;
    QSize Picture;
    qreal Ratio; // the screen's device pixel ratio: above 1, the sharp copy is checked
    bool Worker; // decoded by the test worker from a PNG file; else handed over here
};

void PrintTo(const ShrinkCase& c, std::ostream* os)
{
    *os << c.Name;
}

class PreviewShrink : public ::testing::TestWithParam<ShrinkCase> {};

TEST_P(PreviewShrink, MatchesOneSmoothScale)
{
    const ShrinkCase& c = GetParam();
    const QImage picture = test::GradientImage(c.Picture.width(), c.Picture.height());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("picture.png");
    PreviewLoader loader;
    if (c.Worker) {
        ASSERT_TRUE(picture.save(path, "PNG"));
        loader.SetWorker({QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}, 60});
    } else {
        loader.SetLoader([&](const QString&, Surface& surface) { return LoadResult{surface.AdoptImage(picture), {}}; });
    }
    loader.SetFitBox(QSize(98, 101), Qt::black, c.Ratio);
    QList<PreviewReply> replies;
    QObject::connect(&loader, &PreviewLoader::Ready, [&](const PreviewReply& reply) { replies.append(reply); });
    loader.Request(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loader.Pending(); }, 20000));

    ASSERT_EQ(replies.size(), c.Worker ? 2 : 1);
    const PreviewReply& first = replies.front();
    EXPECT_EQ(first.Early, c.Worker);
    EXPECT_EQ(first.Picture.isNull(), c.Worker);
    EXPECT_EQ(first.Dimensions, picture.size());
    EXPECT_EQ(replies.back().Picture, picture);
    const QImage& drawn = c.Ratio > 1 ? first.Sharp : first.Fitted;
    ASSERT_FALSE(drawn.isNull());
    const std::optional<QRect> target = FitTargetRect(picture.width(), picture.height(), 98, 101, 0, true);
    ASSERT_TRUE(target);
    const QRect area = c.Ratio > 1 ? QRect(QPoint(), drawn.size()) : *target;
    const QImage expected = picture.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int worst = 0;
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x)
            worst = std::max(worst,
                             test::ColourDistance(drawn.pixel(area.x() + x, area.y() + y), expected.pixel(x, y)));
    EXPECT_LE(worst, 3);
}

INSTANTIATE_TEST_SUITE_P(Pictures, PreviewShrink,
                         ::testing::Values(ShrinkCase{"OneThread", {1200, 900}, 1.0, false},
                                           ShrinkCase{"TwoThreadsOddSizes", {2403, 1801}, 1.0, false},
                                           ShrinkCase{"Tall", {700, 3001}, 1.0, false},
                                           ShrinkCase{"DenseScreen", {2403, 1801}, 2.0, false},
                                           ShrinkCase{"WorkersGlance", {1400, 1100}, 1.0, true},
                                           ShrinkCase{"WorkersGlanceDenseScreen", {1400, 1100}, 2.0, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
