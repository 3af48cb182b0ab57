// The decode workers' lock-down from outside: what a file that took a worker
// over can still do, and that the workers of the shipped programs run locked
// down.

#include <utility>

#include <unistd.h>

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
                      TakeOverCase{"signal", "signal the batch: Operation not permitted"},
                      // Names are not even looked at; what the worker holds is.
                      TakeOverCase{"stat", "stat /etc/passwd: Operation not permitted"},
                      TakeOverCase{"access", "access /etc/passwd: Operation not permitted"},
                      TakeOverCase{"statx", "statx /etc/passwd: Operation not permitted"},
                      TakeOverCase{"readlink", "readlink /etc/mtab: Operation not permitted"},
                      TakeOverCase{"emptypath", "newfstatat /etc/passwd with AT_EMPTY_PATH: Operation not permitted"},
                      TakeOverCase{"fstat", "fstat of a descriptor held: done"}),
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
    // Not a capability left, root's worker included; the bounding set too,
    // which root may empty.
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        EXPECT_TRUE(text.contains(QByteArray("\n") + set + ":\t0000000000000000\n")) << set << text.toStdString();
    if (::geteuid() == 0) {
        EXPECT_TRUE(text.contains("\nCapBnd:\t0000000000000000\n")) << text.toStdString();
    }
    ASSERT_TRUE(worker.Sandbox());
    EXPECT_EQ(worker.Sandbox()->Missing, QString());
    EXPECT_TRUE(worker.Finish());
}

INSTANTIATE_TEST_SUITE_P(Programs, ShippedWorker,
                         ::testing::Values(PIXQUILL_BATCH_BINARY
#ifdef PIXQUILL_GUI_BINARY
                                           , PIXQUILL_GUI_BINARY
#endif
                                           ));

// Each layer of the lock-down refused by a host around the batch, as a
// thumbnail service's bubblewrap under a stricter filter does: where no other
// road is left the run says what is missing once, on standard error and as
// the report's first line, --version says it, and the images are made all
// the same.
struct HostCase {
    const char* Name;
    const char* Refused; // see tests/support/Confine.cpp
    const char* Missing; // "": nothing is missing
    bool RootOnly = false; // a worker without capabilities has none to keep
};

void PrintTo(const HostCase& c, std::ostream* os)
{
    *os << c.Name;
}

class RefusingHost : public ::testing::TestWithParam<HostCase> {};

TEST_P(RefusingHost, IsSaidOnceAndTheImagesAreMade)
{
    if (const SandboxState available = AvailableSandbox(); !available.Missing.isEmpty())
        GTEST_SKIP() << DescribeSandbox(available).toStdString();
    if (GetParam().RootOnly && ::geteuid() != 0)
        GTEST_SKIP() << "only root's workers hold capabilities";
    const QString missing = QLatin1String(GetParam().Missing);
    const QString note = QStringLiteral("decoding is not sandboxed here: ") + missing;
    Folders f;
    for (const QString& name : {QStringLiteral("a.png"), QStringLiteral("b.png"), QStringLiteral("c.png")})
        f.Draw(name, Solid());
    const auto confined = [](const QStringList& arguments) {
        QProcess run;
        run.start(QStringLiteral(PIXQUILL_TEST_CONFINE_BINARY),
                  QStringList{QLatin1String(GetParam().Refused), QStringLiteral(PIXQUILL_BATCH_BINARY)} + arguments);
        EXPECT_TRUE(run.waitForFinished(60000));
        EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
        return std::pair(QString::fromLocal8Bit(run.readAllStandardOutput()),
                         QString::fromLocal8Bit(run.readAllStandardError()));
    };

    const auto [report, err] =
        confined({"--format", "png", "--jobs", "2", "--report", "-", f.Source, f.Destination});
    EXPECT_EQ(f.Written(), QStringList({"_THa.png", "_THb.png", "_THc.png"}));
    const QStringList lines = report.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    if (missing.isEmpty()) {
        EXPECT_FALSE(err.contains(QLatin1String("sandboxed"))) << err.toStdString();
        EXPECT_EQ(lines.size(), 3);
        EXPECT_TRUE(lines.front().startsWith(QLatin1String("{\"name\":"))) << lines.front().toStdString();
    } else {
        EXPECT_EQ(err.count(QLatin1String("sandboxed")), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("pixquill-batch: ") + note + QLatin1Char('\n'))) << err.toStdString();
        EXPECT_EQ(lines.size(), 4);
        EXPECT_EQ(lines.front(), QStringLiteral("{\"sandbox\":\"%1\"}").arg(note));
    }

    const QStringList version = confined({"--version"}).first.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(version.size(), 2);
    if (missing.isEmpty()) {
        EXPECT_EQ(version[1], QStringLiteral("decode workers: sandboxed (seccomp, Landlock %1, no capabilities)")
                                  .arg(AvailableSandbox().LandlockAbi));
    } else {
        EXPECT_TRUE(version[1].endsWith(missing + QLatin1Char(')'))) << version[1].toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layers, RefusingHost,
    ::testing::Values(HostCase{"Nothing", "none", ""},
                      // The older road to the same filter.
                      HostCase{"SeccompCall", "seccomp", ""},
                      HostCase{"SeccompBothRoads", "seccomp,seccomp-prctl", "seccomp refused (Operation not permitted)"},
                      HostCase{"Landlock", "landlock", "Landlock refused (Operation not permitted)"},
                      // Set already by the host, which is as good.
                      HostCase{"NoNewPrivileges", "no-new-privs", ""},
                      HostCase{"Capabilities", "capset", "capabilities kept (Operation not permitted)", true},
                      HostCase{"Everything", "seccomp,seccomp-prctl,landlock,no-new-privs",
                               "Landlock refused (Operation not permitted), seccomp refused (Operation not permitted)"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
