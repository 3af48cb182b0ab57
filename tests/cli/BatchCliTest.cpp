// pixquill-batch end to end, on images drawn by the test.

#include <csignal>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include "tests/support/Folders.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace {

using pixquill::test::ReadFileBytes;

struct Outcome {
    int Exit = -1;
    QString Out;
    QString Err;
};

// The tool; or, when crashOn or hangOn name files (separated by "/"), its
// test build, whose decode workers are the test-only worker: it kills itself
// on crashOn's files and waits for ever on hangOn's
// (tests/support/TestWorker.cpp).
void StartTool(QProcess& process, const QStringList& arguments, const QString& crashOn = {},
               const QString& hangOn = {})
{
    if (crashOn.isEmpty() && hangOn.isEmpty()) {
        process.start(QStringLiteral(PIXQUILL_BATCH_BINARY), arguments);
        return;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PIXQUILL_TEST_WORKER_CRASH_ON"), crashOn);
    environment.insert(QStringLiteral("PIXQUILL_TEST_WORKER_HANG_ON"), hangOn);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PIXQUILL_TEST_BATCH_BINARY), arguments);
}

// input: what the tool reads on standard input.
Outcome RunTool(const QStringList& arguments, const QString& crashOn = {}, const QString& hangOn = {},
                const QByteArray& input = {})
{
    QProcess process;
    StartTool(process, arguments, crashOn, hangOn);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        return {};
    Outcome outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                    QString::fromLocal8Bit(process.readAllStandardOutput()),
                    QString::fromLocal8Bit(process.readAllStandardError())};
    // Every run lets its decode workers go at the end; in the sanitizer build
    // a worker's leak report shows here as an unclean end.
    EXPECT_FALSE(outcome.Err.contains("did not end cleanly")) << outcome.Err.toStdString();
    return outcome;
}

using pixquill::test::Folders;

QImage Solid(QColor colour)
{
    QImage image(90, 60, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

struct FormatCase {
    const char* Option;
    const char* Extension;
    QByteArray Magic;
    const char* Quality = nullptr; // --quality, where the format has one
};

std::ostream& operator<<(std::ostream& os, const FormatCase& c)
{
    return os << c.Option;
}

class EveryFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(EveryFormat, WritesThumbnailsInThatFormat)
{
    const FormatCase& c = GetParam();
    Folders f;
    f.Draw("one.png", pixquill::test::GradientImage(400, 300));
    f.Draw("two.jpg", pixquill::test::QuadrantImage(300, 400), "JPG");
    QStringList arguments {"--format", c.Option, "--width", "64", "--height", "64", f.Source, f.Destination};
    if (c.Quality)
        arguments << "--quality" << c.Quality;
    const Outcome run = RunTool(arguments);
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, QString("Completed 2 of 2 images\n"));
    const QString ext = QString::fromLatin1(c.Extension);
    EXPECT_EQ(f.Written(), QStringList({"_THone" + ext, "_THtwo" + ext}));
    for (const QString& name : f.Written()) {
        const QByteArray bytes = ReadFileBytes(f.Destination + "/" + name);
        EXPECT_TRUE(bytes.startsWith(c.Magic)) << name.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EveryFormat,
    ::testing::Values(FormatCase{"bmp", ".bmp", "BM"}, FormatCase{"gif", ".gif", "GIF8"},
                      FormatCase{"ico", ".ico", QByteArray("\0\0\1\0", 4)},
                      FormatCase{"jpg", ".jpg", "\xFF\xD8\xFF"},
                      FormatCase{"png", ".png", "\x89PNG"},
                      // A TGA header: no colour map, uncompressed true colour.
                      FormatCase{"tga", ".tga", QByteArray("\0\0\2", 3)},
                      FormatCase{"TIF", ".tif", "II*"},
                      FormatCase{"webp", ".webp", "RIFF", "50"},
                      FormatCase{"avif", ".avif", QByteArray("\0\0\0\x1c" "ftypavif", 12)},
                      FormatCase{"JXL", ".jxl", "\xFF\x0A", "95"}));

TEST(BatchCli, SizesFollowTheResizeMode)
{
    Folders f;
    f.Draw("wide.png", pixquill::test::GradientImage(801, 601));
    const Outcome run = RunTool({"--resize", "percent", "--width", "50", "--format", "png", "--prefix",
                                 "", f.Source, f.Destination});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(QImage(f.Destination + "/wide.png").size(), QSize(400, 300));
}

TEST(BatchCli, SomeNotWrittenExitsOneAndNamesThem)
{
    Folders f;
    f.Draw("a.png", pixquill::test::GradientImage(50, 50));
    f.Draw("c.png", pixquill::test::GradientImage(50, 50));
    QFile bad(f.Source + "/b.png");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    const Outcome run = RunTool({"--jobs", "2", f.Source, f.Destination});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_EQ(run.Out, QString("Completed 2 of 3 images (1 failed)\n"));
    EXPECT_TRUE(run.Err.contains(QRegularExpression("(^|\\n)b\\.png: \\S"))) << run.Err.toStdString();
    // Not a terminal: one plain progress line per image.
    EXPECT_EQ(run.Err.count("Processing "), 3);
    EXPECT_TRUE(run.Err.contains("Processing 3 of 3\n"));
}

struct UsageCase {
    QStringList Arguments;
    const char* Named; // what the message must name
};

std::ostream& operator<<(std::ostream& os, const UsageCase& c)
{
    return os << c.Arguments.join(QLatin1Char(' ')).toStdString();
}

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, ExitTwoWithOneLineNamingTheProblem)
{
    const UsageCase& c = GetParam();
    Folders f;
    QStringList arguments = c.Arguments;
    arguments.replaceInStrings("SRC", f.Source);
    arguments.replaceInStrings("DST", f.Destination);
    const Outcome run = RunTool(arguments);
    EXPECT_EQ(run.Exit, 2);
    EXPECT_EQ(run.Err.count('\n'), 1) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Named))) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.isEmpty());
    EXPECT_FALSE(QDir(f.Destination).exists());
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsageErrors,
    ::testing::Values(UsageCase{{"--resize", "stretch", "SRC", "DST"}, "--resize"},
                      UsageCase{{"--filter", "gauss", "SRC", "DST"}, "--filter"},
                      UsageCase{{"--format", "heic", "SRC", "DST"}, "--format"},
                      UsageCase{{"--width", "abc", "SRC", "DST"}, "--width"},
                      UsageCase{{"--height", "1e20", "SRC", "DST"}, "--height"},
                      UsageCase{{"--jobs", "0", "SRC", "DST"}, "--jobs"},
                      UsageCase{{"--timeout", "-1", "SRC", "DST"}, "--timeout"},
                      UsageCase{{"--memory-limit", "0", "SRC", "DST"}, "--memory-limit: \"0\" is not a memory size"},
                      UsageCase{{"--memory-limit", "lots", "SRC", "DST"}, "--memory-limit"},
                      UsageCase{{"--memory-limit", "-4G", "SRC", "DST"}, "--memory-limit"},
                      UsageCase{{"--bogus", "SRC", "DST"}, "bogus"},
                      UsageCase{{"SRC"}, "DEST"},
                      UsageCase{{"SRC/missing", "DST"}, "SOURCE"},
                      UsageCase{{"SRC", "  "}, "Choose a destination folder"},
                      UsageCase{{"SRC", "DST", "sub/a.png"}, "sub/a.png"},
                      // Paths below SOURCE: plain ones only, and never out of it.
                      UsageCase{{"--recursive", "SRC", "DST", "sub/../../a.png"}, "leads out of SOURCE"},
                      UsageCase{{"--recursive", "SRC", "DST", "/etc/passwd"}, "is an absolute path"},
                      UsageCase{{"--recursive", "SRC", "DST", "sub//a.png"}, "is not a plain path"},
                      UsageCase{{"--recursive", "SRC", "DST", "./a.png"}, "is not a plain path"},
                      UsageCase{{"--quality", "0", "SRC", "DST"}, "--quality"},
                      UsageCase{{"--quality", "101", "SRC", "DST"}, "--quality"},
                      UsageCase{{"--quality", "good", "SRC", "DST"}, "--quality"},
                      UsageCase{{"--quality", "50", "--format", "png", "SRC", "DST"}, "--quality"},
                      // Metadata goes only where the format carries it.
                      UsageCase{{"--keep", "exif", "--format", "bmp", "SRC", "DST"},
                                "--keep: only these formats carry metadata (jpg, png, tif, webp, avif, jxl)"},
                      UsageCase{{"--keep", "copyright", "--format", "gif", "SRC", "DST"}, "--keep"},
                      UsageCase{{"--keep", "gps", "SRC", "DST"}, "--keep"},
                      UsageCase{{"--null", "SRC", "DST"}, "--null"},
                      UsageCase{{"--files-from", "-", "SRC", "DST", "a.png"}, "--files-from"},
                      UsageCase{{"--files-from", "SRC/no-list", "SRC", "DST"}, "no-list"},
                      UsageCase{{"--share", "0/3", "SRC", "DST"}, "--share"},
                      UsageCase{{"--share", "4/3", "SRC", "DST"}, "--share"},
                      UsageCase{{"--share", "half", "SRC", "DST"}, "--share"},
                      UsageCase{{"--size", "320", "SRC", "DST"}, "\"320\" is not WIDTHxHEIGHT"},
                      UsageCase{{"--size", "320x200", "--size", "320x400", "SRC", "DST"}, "would share their file names"},
                      UsageCase{{"--size", "32x20", "--width", "40", "SRC", "DST"}, "not with --width"}));

TEST(BatchCli, JobCountDoesNotChangeABit)
{
    Folders f;
    for (int i = 0; i < 8; ++i)
        f.Draw(QStringLiteral("g%1.png").arg(i), pixquill::test::GradientImage(120 + 17 * i, 90 + 5 * i));
    f.Draw("same.jpg", Solid(Qt::red), "JPG");
    f.Draw("same.png", Solid(Qt::blue));
    for (const char* filter : {"none", "lanczos3"}) {
        const QString one = f.Root.filePath(QStringLiteral("one-%1").arg(filter));
        const QString four = f.Root.filePath(QStringLiteral("four-%1").arg(filter));
        const QString inProcess = f.Root.filePath(QStringLiteral("in-process-%1").arg(filter));
        // same.jpg and same.png share a thumbnail: not every image is written.
        ASSERT_EQ(RunTool({"--filter", filter, "--format", "png", "--jobs", "1", f.Source, one}).Exit, 1);
        ASSERT_EQ(RunTool({"--filter", filter, "--format", "png", "--jobs", "4", f.Source, four}).Exit, 1);
        ASSERT_EQ(RunTool({"--filter", filter, "--format", "png", "--jobs", "3", "--in-process", f.Source,
                           inProcess})
                      .Exit,
                  1);
        ASSERT_EQ(f.Written(one).size(), 9);
        EXPECT_EQ(f.Written(one), f.Written(four));
        EXPECT_EQ(f.Written(one), f.Written(inProcess));
        for (const QString& name : f.Written(one)) {
            EXPECT_EQ(ReadFileBytes(one + "/" + name), ReadFileBytes(four + "/" + name))
                << filter << " " << name.toStdString();
            EXPECT_EQ(ReadFileBytes(one + "/" + name), ReadFileBytes(inProcess + "/" + name))
                << filter << " " << name.toStdString();
        }
        // Both inputs named "same" write _THsame.png; the later one in name order wins.
        EXPECT_LE(pixquill::test::ColourDistance(QImage(four + "/_THsame.png").pixel(5, 5),
                                                 qRgb(0, 0, 255)),
                  4);
    }
}

struct CrashCase {
    const char* Name;
    const char* CrashOn; // file names separated by "/"
    const char* Jobs;
    const char* HangOn = "";
};

std::ostream& operator<<(std::ostream& os, const CrashCase& c)
{
    return os << c.CrashOn << " with " << c.Jobs << " jobs";
}

class DecoderCrash : public ::testing::TestWithParam<CrashCase> {};

// A file that kills its decode worker, or sends it into an endless loop,
// costs only itself: it is named with the reason, the other files come out
// exactly as in a run without it, and a dead worker's temporary file does not
// stay behind.
TEST_P(DecoderCrash, IsReportedAndTheRunGoesOn)
{
    const CrashCase& c = GetParam();
    Folders f;
    const QStringList names{"a.png", "b.png", "c.png", "d.png", "e.png"};
    for (int i = 0; i < names.size(); ++i)
        f.Draw(names[i], pixquill::test::GradientImage(70 + 9 * i, 50 + 4 * i));
    const QString reference = f.Root.filePath("reference");
    ASSERT_EQ(RunTool({"--format", "gif", "--in-process", f.Source, reference}).Exit, 0);

    const QString crashOn = QString::fromLatin1(c.CrashOn);
    const QString hangOn = QString::fromLatin1(c.HangOn);
    const QStringList crashing = crashOn.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QStringList hanging = hangOn.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const qsizetype failing = crashing.size() + hanging.size();
    const Outcome run = RunTool({"--format", "gif", "--jobs", c.Jobs, "--timeout", "2", f.Source, f.Destination},
                                crashOn, hangOn);
    EXPECT_EQ(run.Exit, 1) << run.Err.toStdString();
    EXPECT_EQ(run.Out, QStringLiteral("Completed %1 of 5 images (%2 failed)\n").arg(5 - failing).arg(failing));
    QStringList expected;
    for (const QString& name : names) {
        const QString output = "_TH" + name.left(1) + ".gif";
        if (crashing.contains(name)) {
            EXPECT_TRUE(run.Err.contains(name + ": the decoder crashed on this file\n")) << run.Err.toStdString();
        } else if (hanging.contains(name)) {
            EXPECT_TRUE(run.Err.contains(name + ": the decoder hung on this file (no answer within 2 s)\n"))
                << run.Err.toStdString();
        } else {
            expected << output;
            EXPECT_EQ(ReadFileBytes(f.Destination + "/" + output), ReadFileBytes(reference + "/" + output))
                << output.toStdString();
        }
    }
    EXPECT_EQ(QDir(f.Destination).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, DecoderCrash,
                         ::testing::Values(CrashCase{"MiddleOneJob", "c.png", "1"},
                                           CrashCase{"MiddleTwoJobs", "c.png", "2"},
                                           CrashCase{"First", "a.png", "1"}, CrashCase{"Last", "e.png", "2"},
                                           // One after the other: every replacement worker dies too.
                                           CrashCase{"ThreeInARow", "a.png/b.png/c.png", "1"},
                                           CrashCase{"Every", "a.png/b.png/c.png/d.png/e.png", "2"},
                                           CrashCase{"HangsOneJob", "", "1", "b.png"},
                                           CrashCase{"HangAndCrashTwoJobs", "d.png", "2", "a.png"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

struct MemoryCase {
    const char* Name;
    QStringList Options;
    bool TestWorker; // the test-only worker, which takes 4 GB for "takeover-allocate.png"
    const char* LargeReason; // for large.png (1800 x 1800); empty: written
    const char* AllocateReason; // for takeover-allocate.png, when it is listed
};

std::ostream& operator<<(std::ostream& os, const MemoryCase& c)
{
    return os << c.Name;
}

class MemoryLimit : public ::testing::TestWithParam<MemoryCase> {};

// An image that needs more than the limit alone is named with both figures
// and the run goes on; a worker that takes more than its limit fails only
// that image.
TEST_P(MemoryLimit, WhatCannotFitFailsAloneAndTheRunGoesOn)
{
    const MemoryCase& c = GetParam();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' shadow memory leaves workers without an address-space limit.
    if (std::string_view(c.Name) == "WorkerBeyondItsLimit")
        GTEST_SKIP() << "no address-space limit for the workers of a sanitizer build";
#endif
    Folders f;
    f.Draw("large.png", pixquill::test::GradientImage(1800, 1800));
    f.Draw("small.png", Solid(Qt::red));
    if (c.TestWorker)
        f.Draw("takeover-allocate.png", Solid(Qt::blue));
    // The test build's workers crash on no file ("-" names none).
    const Outcome run = RunTool(c.Options + QStringList{f.Source, f.Destination}, c.TestWorker ? "-" : "");
    QStringList failed;
    const auto expect = [&](const char* name, const char* reason) {
        if (*reason == '\0')
            return;
        failed << QString::fromLatin1(name);
        EXPECT_TRUE(run.Err.contains(QStringLiteral("%1: %2\n").arg(QLatin1String(name), QLatin1String(reason))))
            << run.Err.toStdString();
    };
    expect("large.png", c.LargeReason);
    if (c.TestWorker)
        expect("takeover-allocate.png", c.AllocateReason);
    EXPECT_EQ(run.Exit, failed.isEmpty() ? 0 : 1) << run.Err.toStdString();
    EXPECT_TRUE(QFile::exists(f.Destination + "/_THsmall.jpg"));
    EXPECT_EQ(QFile::exists(f.Destination + "/_THlarge.jpg"), !failed.contains("large.png"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MemoryLimit,
    ::testing::Values(
        MemoryCase{"Default", {}, false, "", ""},
        MemoryCase{"LargeRefused", {"--memory-limit", "30M"}, false, "needs about 41 MB, the limit is 30 MB", ""},
        MemoryCase{"LargeRefusedInProcess", {"--memory-limit", "30M", "--in-process", "--jobs", "2"}, false,
                   "needs about 41 MB, the limit is 30 MB", ""},
        MemoryCase{"LargeFits", {"--memory-limit", "42M"}, false, "", ""},
        // The worker's address space is the limit and a gigabyte for what
        // it maps: 4 GB more fails that image alone.
        MemoryCase{"WorkerBeyondItsLimit", {"--memory-limit", "200M", "--jobs", "2"}, true, "",
                   "not enough memory for the decoder (its limit is 1.2 GB)"},
        // Without a small limit the same worker takes its 4 GB untouched.
        MemoryCase{"WorkerWithinItsLimit", {"--memory-limit", "8G"}, true, "", "allocate 4 GB: done"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// Every file the fuzzer found, those that crash FreeImage or loop in it for
// ever included, among good ones: the run ends, the good files are written,
// and each finding is either written or named with a reason.
TEST(BatchCli, FuzzFindingsCostOnlyThemselves)
{
    Folders f;
    const QString data = QStringLiteral(PIXQUILL_TEST_DATA_DIR "/fuzz-regressions");
    QStringList findings;
    for (const QString& folder : {data, data + "/freeimage"}) {
        for (const QString& name : QDir(folder).entryList({"*.*"}, QDir::Files, QDir::Name)) {
            if (name == "README.md")
                continue;
            ASSERT_TRUE(QFile::copy(folder + "/" + name, f.Source + "/" + name));
            findings << name;
        }
    }
    ASSERT_FALSE(findings.isEmpty());
    f.Draw("good-1.png", pixquill::test::GradientImage(40, 30));
    f.Draw("good-2.png", pixquill::test::GradientImage(30, 40));
    const Outcome run =
        RunTool({"--mask", "*.*", "--format", "png", "--jobs", "2", "--timeout", "3", f.Source, f.Destination});
    ASSERT_TRUE(run.Exit == 0 || run.Exit == 1) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.startsWith(QStringLiteral("Completed "))) << run.Out.toStdString();
    const QStringList written = f.Written();
    EXPECT_TRUE(written.contains("_THgood-1.png"));
    EXPECT_TRUE(written.contains("_THgood-2.png"));
    for (const QString& name : findings) {
        const QString output = "_TH" + name.section('.', 0, 0) + ".png";
        EXPECT_TRUE(written.contains(output) || run.Err.contains(QRegularExpression(
                                                    "(^|\n)" + QRegularExpression::escape(name) + ": \\S")))
            << name.toStdString() << "\n" << run.Err.toStdString();
    }
    // What a decoder's library prints of its own (libjxl does) is part of
    // the file's reason, never a line of its own.
    for (const QString& line : run.Err.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith("Processing ") || line.startsWith("pixquill-batch: ")
                    || findings.contains(line.section(": ", 0, 0)))
            << line.toStdString();
    EXPECT_TRUE(run.Err.contains("jxl-invalid-histogram.jxl: cannot decode the image (damaged image data) "
                                 "[JXL_FAILURE: Invalid histogram count.]"))
        << run.Err.toStdString();
}

TEST(BatchCli, NamedFilesRunInTheGivenOrder)
{
    Folders f;
    f.Draw("same.jpg", Solid(Qt::red), "JPG");
    f.Draw("same.png", Solid(Qt::blue));
    f.Draw("other.png", Solid(Qt::green));
    const Outcome run =
        RunTool({"--format", "png", "--jobs", "4", f.Source, f.Destination, "same.png", "same.jpg"});
    EXPECT_EQ(run.Exit, 1) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("same.png and same.jpg share the thumbnail _THsame.png; it shows same.jpg"));
    EXPECT_EQ(f.Written(), QStringList({"_THsame.png"}));
    EXPECT_LE(pixquill::test::ColourDistance(QImage(f.Destination + "/_THsame.png").pixel(5, 5),
                                             qRgb(255, 0, 0)),
              12);
}

TEST(BatchCli, MaskQuietAndEmptyFolder)
{
    Folders f;
    // PNG content under TIFF names: the mask looks at names, the loader at content.
    f.Draw("a.tif", pixquill::test::GradientImage(20, 20), "PNG");
    f.Draw("b.tiff", pixquill::test::GradientImage(20, 20), "PNG");
    Outcome run = RunTool({"--quiet", f.Source, f.Destination});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_TRUE(run.Out.isEmpty());
    EXPECT_TRUE(run.Err.isEmpty());
    // The default lists every readable format, ".tif" as well as ".tiff".
    EXPECT_EQ(f.Written(), QStringList({"_THa.jpg", "_THb.jpg"}));

    run = RunTool({"--mask", "*.tif", f.Source, f.Root.filePath("masked")});
    EXPECT_EQ(f.Written(f.Root.filePath("masked")), QStringList({"_THa.jpg"}));

    run = RunTool({"--mask", "*.nothing", f.Source, f.Root.filePath("none")});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Out, QString("Completed 0 of 0 images\n"));
    EXPECT_TRUE(QDir(f.Root.filePath("none")).exists());
}

TEST(BatchCli, HelpAndVersion)
{
    Outcome run = RunTool({"--help"});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_TRUE(run.Out.contains("--jobs"));
    run = RunTool({"--version"});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_TRUE(run.Out.startsWith("pixquill-batch "));
    // The one place that tells how the workers are contained here.
    EXPECT_TRUE(run.Out.contains("\ndecode workers: ")) << run.Out.toStdString();
}

// The settings' help is made from their rows: each choice's names in list
// order and every default, as the program takes them when none is given.
TEST(BatchCli, HelpNamesEverySettingsChoicesAndDefault)
{
    const Outcome run = RunTool({"--help"});
    ASSERT_EQ(run.Exit, 0);
    const QString help = run.Out.simplified(); // the help is wrapped to the terminal
    for (const char* expected :
         {"--prefix <TEXT> Text put in front of every output name (default _TH).",
          "--width <N> Width in pixels, or the percentage in percent mode (default 100).",
          "--height <N> Height in pixels (default 100).",
          "--resize <MODE> aspect, none, exact, percent or fill (default aspect).",
          "--crop <WHERE> Where --resize fill cuts the picture: centre or attention (default centre).",
          "--filter <FILTER> none, bspline, bicubic, bilinear, box, catmullrom or lanczos3 (default none).",
          "--format <FORMAT> bmp, gif, ico, jpg, png, tga, tif, webp, avif or jxl (default jpg).",
          "--quality <N> Quality of the lossy formats", "Defaults: jpg 75, webp 80, avif 60, jxl 75",
          "--fast Also decode JPEGs", "SOURCE Folder holding the images.",
          "DEST Folder for the thumbnails (created, one level, when missing)."})
        EXPECT_TRUE(help.contains(QString::fromLatin1(expected))) << expected;
}

} // namespace

namespace {

// --fast reaches the decode workers: the same bytes as in process, and not
// the full decode's.
TEST(BatchCli, FastDecodingGoesThroughTheWorkers)
{
    Folders f;
    f.Draw("photo.jpg", pixquill::test::GradientImage(1600, 1200), "JPEG");
    const QString inProcess = f.Root.filePath("here");
    const QString full = f.Root.filePath("full");
    ASSERT_EQ(RunTool({"--quiet", "--fast", f.Source, f.Destination}).Exit, 0);
    ASSERT_EQ(RunTool({"--quiet", "--fast", "--in-process", f.Source, inProcess}).Exit, 0);
    ASSERT_EQ(RunTool({"--quiet", f.Source, full}).Exit, 0);
    const QByteArray worker = ReadFileBytes(f.Destination + "/_THphoto.jpg");
    ASSERT_FALSE(worker.isEmpty());
    EXPECT_EQ(worker, ReadFileBytes(inProcess + "/_THphoto.jpg"));
    EXPECT_NE(worker, ReadFileBytes(full + "/_THphoto.jpg"));
}

// The quality reaches the encoder in the workers and in process alike; the
// image library's default is 75, so naming it changes no byte.
TEST(BatchCli, QualityTradesBytesForPicture)
{
    Folders f;
    f.Draw("photo.png", pixquill::test::GradientImage(600, 400));
    const auto size = [&](const QStringList& options, const QString& folder) {
        EXPECT_EQ(RunTool(QStringList(options) << "--quiet" << "--width" << "300" << "--height" << "300"
                                               << f.Source << folder)
                      .Exit,
                  0);
        return ReadFileBytes(folder + "/_THphoto.jpg");
    };
    const QByteArray standard = size({}, f.Root.filePath("standard"));
    ASSERT_FALSE(standard.isEmpty());
    EXPECT_EQ(size({"--quality", "75"}, f.Root.filePath("q75")), standard);
    const QByteArray low = size({"--quality", "10"}, f.Root.filePath("q10"));
    EXPECT_EQ(size({"--quality", "10", "--in-process"}, f.Root.filePath("q10-here")), low);
    EXPECT_LT(low.size(), standard.size());
    EXPECT_GT(size({"--quality", "100"}, f.Root.filePath("q100")).size(), standard.size());
}

} // namespace

namespace {

template <std::size_t N>
QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1); // NULs included, the final one not
}

QStringList Sorted(QStringList names)
{
    names.sort();
    return names;
}

// --files-from takes the names as they are: any byte but the separator is
// part of a name, and the list alone says which images run.
struct ListCase {
    const char* Name;
    QByteArray List;
    bool Nul;
    QStringList Written;
    const char* Caption; // empty for a usage error
    int Exit;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.Name; }

class FilesFrom : public ::testing::TestWithParam<ListCase> {};

TEST_P(FilesFrom, RunsTheNamesListed)
{
    const ListCase& c = GetParam();
    Folders f;
    for (const char* name : {"plain.png", "with space.png", "line\nbreak.png", "other.png"})
        f.Draw(QString::fromUtf8(name), pixquill::test::GradientImage(40, 30), "PNG");
    QStringList arguments{"--files-from", "-", f.Source, f.Destination};
    if (c.Nul)
        arguments.prepend("--null");
    const Outcome run = RunTool(arguments, {}, {}, c.List);
    EXPECT_EQ(run.Exit, c.Exit) << run.Err.toStdString();
    EXPECT_EQ(run.Out, QString::fromUtf8(c.Caption));
    EXPECT_EQ(Sorted(f.Written()), Sorted(c.Written));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FilesFrom,
    ::testing::Values(
        ListCase{"Lines", Bytes("plain.png\n\nwith space.png\n"), false, {"_THplain.jpg", "_THwith space.jpg"},
                 "Completed 2 of 2 images\n", 0},
        ListCase{"LastLineUnended", Bytes("other.png"), false, {"_THother.jpg"}, "Completed 1 of 1 images\n", 0},
        ListCase{"NulsKeepNewlines", Bytes("line\nbreak.png\0with space.png\0\0"), true,
                 {"_THline\nbreak.jpg", "_THwith space.jpg"}, "Completed 2 of 2 images\n", 0},
        // A "\r" belongs to the name: no such file.
        ListCase{"CarriageReturnKept", Bytes("plain.png\r\n"), false, {}, "Completed 0 of 1 images (1 failed)\n", 1},
        ListCase{"EmptyListIsNoImages", QByteArray(), false, {}, "Completed 0 of 0 images\n", 0},
        ListCase{"SlashIsAUsageError", Bytes("plain.png\n./other.png\n"), false, {}, "", 2}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// One line per image as it finishes, to a file or to standard output (which
// then carries nothing else); the figures are the files' own.
TEST(BatchCli, ReportHasALineForEveryImage)
{
    Folders f;
    f.Draw("wide.png", pixquill::test::GradientImage(90, 60));
    f.Draw("tall.jpg", pixquill::test::GradientImage(60, 90), "JPG");
    QFile broken(f.Source + "/broken.png");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    for (const QString& target : {f.Root.filePath("report.jsonl"), QStringLiteral("-")}) {
        const QString destination = f.Root.filePath(target == "-" ? "to-stdout" : "to-file");
        const Outcome run = RunTool({"--report", target, "--width", "64", "--height", "64", f.Source, destination});
        EXPECT_EQ(run.Exit, 1);
        const QByteArray text = target == "-" ? run.Out.toUtf8() : ReadFileBytes(target);
        if (target == "-") {
            EXPECT_TRUE(run.Err.endsWith("Completed 2 of 3 images (1 failed)\n")) << run.Err.toStdString();
        }
        ASSERT_TRUE(text.endsWith('\n'));
        const QList<QByteArray> lines = text.chopped(1).split('\n');
        ASSERT_EQ(lines.size(), 3) << text.toStdString();
        QMap<QString, QJsonObject> byName;
        for (const QByteArray& line : lines) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            byName.insert(document.object().value("name").toString(), document.object());
        }
        ASSERT_EQ(byName.keys(), QStringList({"broken.png", "tall.jpg", "wide.png"}));
        for (const QString& name : {QStringLiteral("tall.jpg"), QStringLiteral("wide.png")}) {
            const QJsonObject line = byName.value(name);
            const QString output = destination + "/_TH" + name.section('.', 0, 0) + ".jpg";
            const QImage source(f.Source + "/" + name);
            const QImage thumbnail(output);
            EXPECT_EQ(line.value("written"), QJsonValue(true));
            EXPECT_TRUE(line.value("reason").isNull());
            EXPECT_EQ(line.value("source").toString(), f.Source + "/" + name);
            EXPECT_EQ(line.value("output").toString(), output);
            EXPECT_EQ(line.value("source_bytes").toInteger(), QFileInfo(f.Source + "/" + name).size());
            EXPECT_EQ(line.value("thumbnail_bytes").toInteger(), QFileInfo(output).size());
            EXPECT_EQ(QSize(line.value("source_width").toInt(), line.value("source_height").toInt()), source.size());
            EXPECT_EQ(QSize(line.value("thumbnail_width").toInt(), line.value("thumbnail_height").toInt()),
                      thumbnail.size());
            EXPECT_GE(line.value("milliseconds").toInteger(-1), 0);
        }
        const QJsonObject failed = byName.value("broken.png");
        EXPECT_EQ(failed.value("written"), QJsonValue(false));
        EXPECT_FALSE(failed.value("reason").toString().isEmpty());
        EXPECT_TRUE(failed.value("thumbnail_width").isNull());
    }
}

// Every save is a rename of a new file, so a file written again has another
// inode or a later time (two saves in a row may reuse the first inode).
std::tuple<ino_t, time_t, long> StampOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {status.st_ino, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

void SetModified(const QString& path, qint64 secondsFromNow)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(secondsFromNow),
                                 QFileDevice::FileModificationTime));
}

// A second run writes nothing; a source touched since is made again, and
// with it the image that shares its thumbnail, in list order as before.
TEST(BatchCli, NewerRedoesOnlyWhatChanged)
{
    Folders f;
    f.Draw("a.jpg", Solid(Qt::red), "JPG");
    f.Draw("a.png", Solid(Qt::blue));
    f.Draw("b.png", pixquill::test::GradientImage(50, 40));
    for (const char* name : {"a.jpg", "a.png", "b.png"})
        SetModified(f.Source + "/" + name, -60);
    Outcome run = RunTool({"--newer", f.Source, f.Destination});
    EXPECT_EQ(run.Out, QString("Completed 2 of 3 images (1 failed)\n"));
    const QString a = f.Destination + "/_THa.jpg";
    const QString b = f.Destination + "/_THb.jpg";
    const auto aBefore = StampOf(a);
    const auto bBefore = StampOf(b);
    ASSERT_NE(std::get<0>(aBefore), 0u);

    run = RunTool({"--newer", f.Source, f.Destination});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(run.Out, QString("Completed 0 of 3 images (3 up to date)\n"));
    EXPECT_EQ(StampOf(a), aBefore);
    EXPECT_EQ(StampOf(b), bBefore);

    SetModified(f.Source + "/a.jpg", 60);
    run = RunTool({"--newer", f.Source, f.Destination});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_EQ(run.Out, QString("Completed 1 of 3 images (1 failed, 1 up to date)\n"));
    EXPECT_NE(StampOf(a), aBefore);
    EXPECT_EQ(StampOf(b), bBefore);
    EXPECT_LE(pixquill::test::ColourDistance(QImage(a).pixel(5, 5), qRgb(0, 0, 255)), 12);

    // An output that is one of the images (a.jpg for a.png here) is never
    // taken for an up-to-date thumbnail: it is refused as ever.
    run = RunTool({"--newer", "--prefix", "", f.Source, f.Source});
    EXPECT_EQ(run.Out, QString("Completed 1 of 3 images (2 failed)\n"));
}

// Ctrl+C reaches the whole process group, decode workers included. The run
// ends after the images in hand, every one of which is written whole and
// reported; a second Ctrl+C ends it at once, even with a worker stuck on an
// image (the third: the images after it, made ahead, wait for their turn),
// and still leaves no file behind but whole thumbnails.
struct InterruptCase {
    const char* Name;
    QStringList Options;
    int Signal;
    int Times;
    const char* HangOn;
    int Exit;
};

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.Name; }

class Interrupted : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(Interrupted, LeavesOnlyWholeThumbnails)
{
    const InterruptCase& c = GetParam();
    Folders f;
    constexpr int kImages = 30;
    f.Draw("p01.png", pixquill::test::GradientImage(1600, 1200));
    for (int i = 2; i <= kImages; ++i)
        ASSERT_TRUE(QFile::copy(f.Source + "/p01.png", f.Source + QStringLiteral("/p%1.png").arg(i, 2, 10, QChar('0'))));
    const QStringList common{"--jobs", "2", "--filter", "lanczos3"};
    const QString reference = f.Root.filePath("reference");
    ASSERT_EQ(RunTool(QStringList(common) << f.Source << reference << "p01.png").Exit, 0);
    const QByteArray expected = ReadFileBytes(reference + "/_THp01.jpg");

    QProcess process;
    // A group of its own, as a terminal's foreground job has.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    const QString report = f.Root.filePath("report.jsonl");
    StartTool(process, QStringList(c.Options) << common << "--report" << report << f.Source << f.Destination, {},
              QString::fromLatin1(c.HangOn));
    ASSERT_TRUE(process.waitForStarted());
    process.setReadChannel(QProcess::StandardError);
    const pid_t group = static_cast<pid_t>(process.processId());
    QByteArray progress;
    while (!progress.contains("Processing ") && process.waitForReadyRead(30000))
        progress += process.readAllStandardError();
    if (!progress.contains("Processing ")) {
        ::kill(-group, SIGKILL);
        process.waitForFinished();
        FAIL() << "no progress: " << progress.toStdString();
    }
    for (int i = 0; i < c.Times; ++i) {
        if (i > 0) { // still waiting for the image in hand
            EXPECT_FALSE(process.waitForFinished(500));
        }
        ::kill(-group, c.Signal);
    }
    if (!process.waitForFinished(60000))
        ::kill(-group, SIGKILL);
    process.waitForFinished();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), c.Exit);

    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QRegularExpressionMatch caption =
        QRegularExpression("^Stopped after (\\d+) of 30 images \\((\\d+) written\\)\n$").match(out);
    ASSERT_TRUE(caption.hasMatch()) << out.toStdString();
    const int written = caption.captured(2).toInt();
    EXPECT_EQ(caption.captured(1).toInt(), written);
    EXPECT_LT(written, kImages);
    const QStringList files = QDir(f.Destination).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(files.size(), written) << files.join(' ').toStdString();
    for (const QString& name : files)
        EXPECT_EQ(ReadFileBytes(f.Destination + "/" + name), expected) << name.toStdString();
    const QList<QByteArray> lines = ReadFileBytes(report).split('\n');
    EXPECT_EQ(lines.size(), written + 1);
    for (const QByteArray& line : lines.mid(0, lines.size() - 1))
        EXPECT_TRUE(QJsonDocument::fromJson(line).isObject()) << line.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Interrupted,
    ::testing::Values(InterruptCase{"CtrlC", {}, SIGINT, 1, "", 130},
                      InterruptCase{"CtrlCInProcess", {"--in-process"}, SIGINT, 1, "", 130},
                      InterruptCase{"Terminated", {}, SIGTERM, 1, "", 143},
                      InterruptCase{"TwiceWithAWorkerStuck", {"--timeout", "0"}, SIGINT, 2, "p03.png", 130}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// The children of a process, from every one of its threads.
QStringList ChildrenOf(qint64 pid)
{
    QStringList children;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile list(tasks.filePath(task + QStringLiteral("/children")));
        if (list.open(QIODevice::ReadOnly))
            children += QString::fromLatin1(list.readAll()).split(' ', Qt::SkipEmptyParts);
    }
    return children;
}

// Workers deaf to Ctrl+C still go with a batch killed outright, even one
// stuck in a decoder, and even when it is killed while its worker starts.
TEST(BatchCli, KilledBatchTakesItsWorkersAlong)
{
    Folders f;
    f.Draw("stuck.png", pixquill::test::GradientImage(40, 30));
    QProcess process;
    StartTool(process, {"--timeout", "0", f.Source, f.Destination}, {}, QStringLiteral("stuck.png"));
    ASSERT_TRUE(process.waitForStarted());
    QStringList workers;
    for (int i = 0; i < 300 && workers.isEmpty(); ++i) {
        QThread::msleep(5);
        workers = ChildrenOf(process.processId());
    }
    ASSERT_EQ(workers.size(), 1);
    const QString worker = workers.front();
    process.kill();
    ASSERT_TRUE(process.waitForFinished());
    // Gone, or a zombie waiting for a reaper: either way no longer running.
    const auto running = [&worker] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(worker));
        return stat.open(QIODevice::ReadOnly)
            && !QString::fromLatin1(stat.readAll()).section(')', 1).trimmed().startsWith('Z');
    };
    for (int i = 0; i < 250 && running(); ++i)
        QThread::msleep(20);
    EXPECT_FALSE(running()) << "worker " << worker.toStdString();
}

// One folder split into shares run side by side by GNU parallel, as over
// several machines: together they write the same bytes as one run, the
// images sharing a thumbnail name (a.b.png, a.jpg, a.png) included.
TEST(BatchCli, SharesThroughGnuParallelMatchOneRun)
{
    const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
    ASSERT_FALSE(parallel.isEmpty()) << "GNU parallel is missing: bash scripts/install-deps.sh";
    Folders f;
    for (int i = 0; i < 10; ++i)
        f.Draw(QStringLiteral("g%1.png").arg(i), pixquill::test::GradientImage(120 + 13 * i, 80 + 7 * i));
    f.Draw("a.b.png", Solid(Qt::green));
    f.Draw("a.jpg", Solid(Qt::red), "JPG");
    f.Draw("a.png", Solid(Qt::blue));
    f.Draw("with space.png", Solid(Qt::yellow));
    const QString one = f.Root.filePath("one");
    // a.b.png, a.jpg and a.png share a thumbnail: status 1, from the share that has them.
    ASSERT_EQ(RunTool({"--format", "png", "--quiet", f.Source, one}).Exit, 1);

    QProcess jobs;
    jobs.start(parallel, {"--will-cite", "-S", ":", "-q", PIXQUILL_BATCH_BINARY, "--format", "png", "--quiet",
                          "--share", "{}/3", f.Source, f.Destination, ":::", "1", "2", "3"});
    ASSERT_TRUE(jobs.waitForFinished(120000));
    EXPECT_EQ(jobs.exitCode(), 1) << jobs.readAllStandardError().toStdString();
    ASSERT_EQ(f.Written(one).size(), 12);
    EXPECT_EQ(f.Written(), f.Written(one));
    for (const QString& name : f.Written(one))
        EXPECT_EQ(ReadFileBytes(f.Destination + "/" + name), ReadFileBytes(one + "/" + name)) << name.toStdString();
    EXPECT_LE(pixquill::test::ColourDistance(QImage(one + "/_THa.png").pixel(5, 5), qRgb(0, 0, 255)), 4);
}

} // namespace

namespace {

// Every file below folder (hidden ones too), as paths relative to it, sorted.
QStringList FilesBelow(const QString& folder)
{
    QStringList files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        files << QDir(folder).relativeFilePath(it.next());
    return Sorted(files);
}

// A photo tree: equal names in several folders (2024/10's two share a
// thumbnail), numbered folders (9 before 10), a hidden folder and a link
// looping back to the top.
void DrawTree(const Folders& f)
{
    for (const char* folder : {"2024/9", "2024/10", ".hidden"})
        ASSERT_TRUE(QDir(f.Source).mkpath(folder));
    const std::pair<const char*, QColor> images[] = {{"a.png", Qt::red}, {"2024/a.png", Qt::green},
        {"2024/9/a.png", Qt::blue}, {"2024/10/a.jpg", Qt::yellow}, {"2024/10/a.png", Qt::cyan}, {".hidden/h.png", Qt::black}};
    for (const auto& [name, colour] : images)
        f.Draw(name, Solid(colour), "PNG");
    ASSERT_TRUE(QFile::link(f.Source, f.Source + "/2024/loop"));
}

// Each thumbnail of the tree and its image's colour (in 2024/10, the later image's).
const QMap<QString, QRgb> kTreeThumbs{{"2024/10/_THa.png", qRgb(0, 255, 255)}, {"2024/9/_THa.png", qRgb(0, 0, 255)},
                                      {"2024/_THa.png", qRgb(0, 255, 0)}, {"_THa.png", qRgb(255, 0, 0)}};

// A folder whose path is longer than the system takes (PATH_MAX), made
// level by level from open folders: one that even root cannot read.
void MakeTooDeepFolder(const QString& base)
{
    int fd = ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY);
    const std::string level(250, 'd');
    for (int i = 0; i < 20 && fd >= 0; ++i) {
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
        const int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    ::close(fd);
}

enum class TreeSetup { Plain, TooDeepFolder, OutputFolderIsAFile };

struct TreeCase {
    const char* Name;
    QStringList Arguments; // SRC and DST replaced
    TreeSetup Setup;
    QByteArray Input;        // standard input
    const char* Destination; // below the temporary root
    QStringList Written;     // below the destination, after either run
    const char* Caption;
    int Exit;
    const char* Said; // on standard error once per run
};

void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.Name; }

class RecursiveRun : public ::testing::TestWithParam<TreeCase> {};

// Each case runs twice: the second run lists and writes what the first did
// (no thumbnails of thumbnails).
TEST_P(RecursiveRun, KeepsTheTree)
{
    const TreeCase& c = GetParam();
    Folders f;
    DrawTree(f);
    const QString destination = f.Root.filePath(QString::fromUtf8(c.Destination));
    // QTemporaryDir cannot remove a path longer than the system takes.
    const auto removeDeep = qScopeGuard([&f] { QProcess::execute("rm", {"-rf", f.Source + "/2024/" + QString(250, 'd')}); });
    if (c.Setup == TreeSetup::TooDeepFolder)
        MakeTooDeepFolder(f.Source + "/2024");
    if (c.Setup == TreeSetup::OutputFolderIsAFile) {
        ASSERT_TRUE(QDir().mkpath(destination) && QFile(destination + "/2024").open(QIODevice::WriteOnly));
    }
    QStringList arguments = c.Arguments;
    arguments.replaceInStrings("SRC", f.Source).replaceInStrings("DST", destination);
    for (int run = 1; run <= 2; ++run) {
        const Outcome outcome = RunTool(arguments, {}, {}, c.Input);
        EXPECT_EQ(outcome.Exit, c.Exit) << run << ": " << outcome.Err.toStdString();
        EXPECT_EQ(outcome.Out, QString::fromUtf8(c.Caption)) << run;
        if (*c.Said) {
            EXPECT_EQ(outcome.Err.count(QString::fromUtf8(c.Said)), 1) << run << ": " << outcome.Err.toStdString();
        }
        EXPECT_EQ(FilesBelow(destination), c.Written) << run;
    }
    for (const QString& name : c.Written) {
        if (kTreeThumbs.contains(name)) {
            EXPECT_LE(pixquill::test::ColourDistance(QImage(destination + "/" + name).pixel(5, 5), kTreeThumbs[name]), 4)
                << name.toStdString();
        }
    }
}

const QStringList kTree{kTreeThumbs.keys()};

INSTANTIATE_TEST_SUITE_P(
    Table, RecursiveRun,
    ::testing::Values(
        TreeCase{"Plain", {"--recursive", "--format", "png", "--jobs", "2", "SRC", "DST"}, TreeSetup::Plain, {},
                 "out", kTree, "Completed 4 of 5 images (1 failed)\n", 1, ""},
        TreeCase{"DestinationInsideSource", {"--recursive", "--format", "png", "SRC", "DST"}, TreeSetup::Plain, {},
                 "in/2024/../Thumbs", kTree, "Completed 4 of 5 images (1 failed)\n", 1, "lies inside SOURCE: its folder is left out\n"},
        TreeCase{"UnreadableFolder", {"--recursive", "--format", "png", "SRC", "DST"}, TreeSetup::TooDeepFolder, {},
                 "out", kTree, "Completed 4 of 5 images (1 failed)\n", 1, "(File name too long)\n"},
        TreeCase{"OutputFolderIsAFile", {"--recursive", "--format", "png", "SRC", "DST"}, TreeSetup::OutputFolderIsAFile,
                 {}, "out", {"2024", "_THa.png"}, "Completed 1 of 5 images (4 failed)\n", 1,
                 "2024/9/a.png: cannot create the folder "},
        // Beside their images without a prefix, each PNG would replace
        // itself, and 2024/06/a.jpg's thumbnail another image of the tree.
        TreeCase{"NoOutputReplacesASource", {"--recursive", "--format", "png", "--prefix", "", "SRC", "SRC"},
                 TreeSetup::Plain, {}, "in",
                 {".hidden/h.png", "2024/10/a.jpg", "2024/10/a.png", "2024/9/a.png", "2024/a.png", "a.png"},
                 "Completed 0 of 5 images (5 failed)\n", 1, "2024/10/a.jpg: would overwrite the source image 2024/10/a.png\n"},
        TreeCase{"ListedPaths", {"--recursive", "--files-from", "-", "--format", "png", "SRC", "DST"}, TreeSetup::Plain,
                 "2024/9/a.png\n.hidden/h.png\n", "out", {".hidden/_THh.png", "2024/9/_THa.png"},
                 "Completed 2 of 2 images\n", 0, ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// The tree's images in file-manager order, depth first, each named in the
// report by its path below SOURCE; a second run with --newer finds every
// thumbnail up to date; and shares, one after the other, write what one run
// writes, byte for byte.
TEST(BatchCli, SharesOfATreeMatchOneRun)
{
    Folders f;
    DrawTree(f);
    QStringList names{"a.png", "2024/a.png", "2024/9/a.png"};
    for (int i = 0; i < 6; ++i) {
        names << QStringLiteral("2024/9/g%1.png").arg(i);
        f.Draw(names.back(), pixquill::test::GradientImage(90 + 11 * i, 60 + 7 * i));
    }
    names << "2024/10/a.jpg" << "2024/10/a.png";
    const QString one = f.Root.filePath("one");
    const QString report = f.Root.filePath("report.jsonl");
    ASSERT_EQ(RunTool({"--recursive", "--quiet", "--jobs", "1", "--report", report, f.Source, one}).Exit, 1);
    QStringList reported;
    for (const QByteArray& line : ReadFileBytes(report).trimmed().split('\n'))
        reported << QJsonDocument::fromJson(line).object().value("name").toString();
    EXPECT_EQ(reported, names);
    EXPECT_EQ(RunTool({"--recursive", "--newer", f.Source, one}).Out, QString("Completed 0 of 11 images (11 up to date)\n"));
    for (const char* share : {"1/3", "2/3", "3/3"})
        ASSERT_LE(RunTool({"--recursive", "--quiet", "--share", share, f.Source, f.Destination}).Exit, 1);
    ASSERT_EQ(FilesBelow(one).size(), 10);
    EXPECT_EQ(FilesBelow(f.Destination), FilesBelow(one));
    for (const QString& name : FilesBelow(one))
        EXPECT_EQ(ReadFileBytes(f.Destination + "/" + name), ReadFileBytes(one + "/" + name)) << name.toStdString();
}

} // namespace

namespace {

struct SizesCase {
    const char* Name;
    QStringList Arguments; // besides the boxes, SOURCE and DEST
};

void PrintTo(const SizesCase& c, std::ostream* os) { *os << c.Name; }

class SeveralSizes : public ::testing::TestWithParam<SizesCase> {};

// Three boxes in one run: each thumbnail byte for byte what a run of its box
// alone writes (under the box's name), a report line each; then with
// --newer, only the box whose thumbnail went missing is made again.
TEST_P(SeveralSizes, EachBoxAsItsRunAlone)
{
    const SizesCase& c = GetParam();
    Folders f;
    ASSERT_TRUE(QDir(f.Source).mkpath("2024"));
    f.Draw("wide.png", pixquill::test::GradientImage(300, 140));
    f.Draw("2024/tall.jpg", pixquill::test::GradientImage(90, 210), "JPG");
    const QStringList names{"2024/tall.jpg", "wide.png"};
    const QStringList boxes{"48x48", "20x30", "96x64"};
    QStringList arguments = c.Arguments + QStringList{"--recursive", "--files-from", "-"};
    QStringList several = arguments;
    for (const QString& box : boxes)
        several << "--size" << box;
    const QString report = f.Root.filePath("report.jsonl");
    const QByteArray list = names.join('\n').toUtf8();
    const Outcome run = RunTool(several + QStringList{"--report", report, f.Source, f.Destination}, {}, {}, list);
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, QString("Completed 6 of 6 images\n"));
    const QString extension = c.Arguments.contains("webp") ? ".webp" : ".jpg";
    QStringList reported;
    for (const QByteArray& line : ReadFileBytes(report).trimmed().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        reported << object.value("name").toString() + " " + object.value("size").toString();
    }
    EXPECT_EQ(reported, QStringList({"2024/tall.jpg 48x48", "2024/tall.jpg 20x30", "2024/tall.jpg 96x64",
                                     "wide.png 48x48", "wide.png 20x30", "wide.png 96x64"}));
    for (const QString& box : boxes) {
        const QString alone = f.Root.filePath("alone-" + box);
        ASSERT_EQ(RunTool(arguments + QStringList{"--size", box, "--quiet", f.Source, alone}, {}, {}, list).Exit, 0);
        const QString width = box.section('x', 0, 0);
        for (const QString& name : {QString("2024/_THtall"), QString("_THwide")}) {
            const QByteArray bytes = ReadFileBytes(alone + "/" + name + extension);
            ASSERT_FALSE(bytes.isEmpty()) << name.toStdString();
            EXPECT_EQ(ReadFileBytes(f.Destination + "/" + name + "-" + width + extension), bytes)
                << name.toStdString() << " " << box.toStdString();
        }
    }

    const QString gone = f.Destination + "/_THwide-20" + extension;
    ASSERT_TRUE(QFile::remove(gone));
    const Outcome again = RunTool(several + QStringList{"--newer", f.Source, f.Destination}, {}, {}, list);
    EXPECT_EQ(again.Out, QString("Completed 1 of 6 images (5 up to date)\n")) << again.Err.toStdString();
    EXPECT_TRUE(QFileInfo(gone).isFile());
}

INSTANTIATE_TEST_SUITE_P(Table, SeveralSizes,
                         ::testing::Values(SizesCase{"Workers", {}}, SizesCase{"InProcess", {"--in-process"}},
                                           SizesCase{"FillAsWebP", {"--resize", "fill", "--format", "webp"}},
                                           SizesCase{"AttentionOneJob",
                                                     {"--resize", "fill", "--crop", "attention", "--jobs", "1"}}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace

namespace {

// A temporary file as a run killed with SIGKILL leaves it: named after a
// process that is gone.
QString DeadRunsTemporary(const QString& folder, const char* tail)
{
    QProcess gone;
    gone.start(QStringLiteral("true"));
    const qint64 pid = gone.processId();
    gone.waitForFinished();
    const QString path = folder + QStringLiteral("/.pixquill-%1-%2.tmp").arg(pid).arg(tail);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return path;
}

struct LoudCase {
    const char* Name;
    std::function<void(const Folders&)> Setup;
    const char* Said;    // a line on standard error
    const char* Caption;
    QMap<QString, QString> ShownBy; // name -> shown_by in the report ("" for null)
    std::function<void(const Folders&)> Check;
};

void PrintTo(const LoudCase& c, std::ostream* os) { *os << c.Name; }

class SaidOutLoud : public ::testing::TestWithParam<LoudCase> {};

// What a run used to pass over in silence is said, and nothing is lost to it.
TEST_P(SaidOutLoud, OnStderrAndInTheReport)
{
    const LoudCase& c = GetParam();
    Folders f;
    ASSERT_TRUE(QDir().mkpath(f.Destination));
    c.Setup(f);
    const QString report = f.Root.filePath("report.jsonl");
    const Outcome run = RunTool({"--format", "png", "--report", report, f.Source, f.Destination});
    if (*c.Said) {
        EXPECT_EQ(run.Err.count(QString::fromUtf8(c.Said)), 1) << run.Err.toStdString();
    }
    EXPECT_EQ(run.Out, QString::fromUtf8(c.Caption));
    QMap<QString, QString> shownBy;
    for (const QByteArray& line : ReadFileBytes(report).trimmed().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        shownBy.insert(object.value("name").toString(), object.value("shown_by").toString());
    }
    EXPECT_EQ(shownBy, c.ShownBy);
    if (c.Check)
        c.Check(f);
}

const QRgb kGreen = qRgb(0, 255, 0);

INSTANTIATE_TEST_SUITE_P(
    Table, SaidOutLoud,
    ::testing::Values(
        // The file shows the last of them, in list order; the others say so.
        LoudCase{"SharedName",
                 [](const Folders& f) {
                     f.Draw("a.JPG", Solid(Qt::red), "JPG");
                     f.Draw("a.jpg", Solid(Qt::blue), "JPG");
                     f.Draw("a.png", Solid(Qt::green));
                     f.Draw("b.png", Solid(Qt::green));
                 },
                 "a.JPG, a.jpg and a.png share the thumbnail _THa.png; it shows a.png\n",
                 "Completed 2 of 4 images (2 failed)\n",
                 {{"a.JPG", "a.png"}, {"a.jpg", "a.png"}, {"a.png", "a.png"}, {"b.png", ""}},
                 [](const Folders& f) {
                     EXPECT_EQ(QImage(f.Destination + "/_THa.png").pixel(3, 3), kGreen);
                 }},
        // One that cannot be read writes nothing: the file shows the other.
        LoudCase{"SharedNameLastUnreadable",
                 [](const Folders& f) {
                     f.Draw("a.jpg", Solid(Qt::green), "JPG");
                     f.Garbage("a.png");
                 },
                 "a.png: ", "Completed 1 of 2 images (1 failed)\n", {{"a.jpg", ""}, {"a.png", ""}},
                 [](const Folders& f) {
                     EXPECT_LE(pixquill::test::ColourDistance(QImage(f.Destination + "/_THa.png").pixel(3, 3), kGreen),
                               12);
                 }},
        // What a killed run left goes; a file another run holds stays.
        LoudCase{"StaleTemporaries",
                 [](const Folders& f) {
                     f.Draw("b.png", Solid(Qt::green));
                     DeadRunsTemporary(f.Destination, "stale");
                     QFile(f.Destination + QStringLiteral("/.pixquill-%1-live.tmp").arg(QCoreApplication::applicationPid()))
                         .open(QIODevice::WriteOnly);
                 },
                 "", "Completed 1 of 1 images\n", {{"b.png", ""}},
                 [](const Folders& f) {
                     EXPECT_EQ(f.Written(), QStringList({"_THb.png"}));
                     const QStringList hidden = QDir(f.Destination).entryList({".pixquill-*"}, QDir::Files | QDir::Hidden);
                     EXPECT_EQ(hidden, QStringList({QStringLiteral(".pixquill-%1-live.tmp").arg(QCoreApplication::applicationPid())}));
                 }}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
