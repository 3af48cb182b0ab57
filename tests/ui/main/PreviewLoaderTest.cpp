#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "codec/Surface.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"
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

} // namespace
} // namespace pixquill
