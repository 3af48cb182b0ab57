// The decode workers' lock-down from outside: what a file that took a worker
// over can still do, and that the workers of the shipped programs run locked
// down.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include "engine/WorkerProcess.h"
#include "engine/WorkerSandbox.h"
#include "tests/support/Folders.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestDng.h"

namespace pixquill {
namespace {

using test::Folders;

bool Sandboxed()
{
    return AvailableSandbox().Seccomp;
}

QImage Solid()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

struct TakeOverCase {
    const char* What; // the test worker's take-over: see TestWorker.cpp
    const char* Reason;
};

void PrintTo(const TakeOverCase& c, std::ostream* os)
{
    *os << c.What;
}

class TakeOver : public ::testing::TestWithParam<TakeOverCase> {};

TEST_P(TakeOver, IsRefusedWithAPermissionErrorAndTheRunGoesOn)
{
    if (!Sandboxed())
        GTEST_SKIP() << DescribeSandbox(AvailableSandbox()).toStdString();
    Folders f;
    const QString hostile = QStringLiteral("takeover-%1.png").arg(QLatin1String(GetParam().What));
    for (const QString& name : {QStringLiteral("a.png"), hostile, QStringLiteral("z.png")})
        f.Draw(name, Solid());
    QProcess run;
    run.start(QStringLiteral(PIXQUILL_TEST_BATCH_BINARY), {"--format", "png", f.Source, f.Destination});
    ASSERT_TRUE(run.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(run.readAllStandardError());
    EXPECT_EQ(run.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(hostile + QStringLiteral(": ") + QLatin1String(GetParam().Reason) + QLatin1Char('\n')))
        << err.toStdString();
    // Nothing of the intruder's, and the good images with one worker: a
    // worker was not lost over it.
    EXPECT_EQ(f.Written(), QStringList({"_THa.png", "_THz.png"}));
    EXPECT_FALSE(err.contains(QLatin1String(kDecoderCrashed))) << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, TakeOver,
    ::testing::Values(TakeOverCase{"read", "open for reading: Permission denied"},
                      TakeOverCase{"write", "open for writing: Permission denied"},
                      TakeOverCase{"socket", "socket: Operation not permitted"},
                      TakeOverCase{"exec", "exec /bin/sh: Operation not permitted"},
                      TakeOverCase{"fork", "fork: Operation not permitted"},
                      TakeOverCase{"signal", "signal the batch: Operation not permitted"}),
    [](const auto& testInfo) { return std::string(testInfo.param.What); });

class ShippedWorker : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedWorker, RunsUnderTheFilterWithoutNewPrivileges)
{
    if (!Sandboxed())
        GTEST_SKIP() << DescribeSandbox(AvailableSandbox()).toStdString();
    Folders f;
    f.Draw(QStringLiteral("a.png"), Solid());
    WorkerProcess worker({QString::fromLatin1(GetParam()), {QStringLiteral("--decode-worker")}, 60}, WorkerJob{});
    const ImageResult looked = worker.Look(f.Source + QStringLiteral("/a.png")).Result;
    ASSERT_TRUE(looked.Written) << looked.Reason.toStdString();
    // LibRaw renders a camera's raw data (on threads of its own) in there too.
    test::DngRecipe recipe;
    recipe.Picture = Solid();
    QFile dng(f.Source + QStringLiteral("/b.dng"));
    ASSERT_TRUE(dng.open(QIODevice::WriteOnly) && dng.write(test::MakeDng(recipe)) > 0);
    dng.close();
    const ImageResult raw = worker.Look(dng.fileName()).Result;
    EXPECT_TRUE(raw.Written) << raw.Reason.toStdString();
    QFile status(QStringLiteral("/proc/%1/status").arg(worker.ProcessId()));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    const QByteArray text = status.readAll();
    EXPECT_TRUE(text.contains("\nSeccomp:\t2\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nNoNewPrivs:\t1\n")) << text.toStdString();
    EXPECT_TRUE(worker.Finish());
}

INSTANTIATE_TEST_SUITE_P(Programs, ShippedWorker,
                         ::testing::Values(PIXQUILL_BATCH_BINARY
#ifdef PIXQUILL_GUI_BINARY
                                           , PIXQUILL_GUI_BINARY
#endif
                                           ));

} // namespace
} // namespace pixquill
