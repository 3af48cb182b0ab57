// pixquill-batch end to end, on images drawn by the test.

#include <ostream>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace {

using pixquill::test::ReadFileBytes;

struct Outcome {
    int Exit = -1;
    QString Out;
    QString Err;
};

// crashOn, hangOn: file names on which the tool's decode workers kill
// themselves or wait for ever.
Outcome RunTool(const QStringList& arguments, const QString& crashOn = {}, const QString& hangOn = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!crashOn.isEmpty())
        environment.insert(QStringLiteral("PIXQUILL_WORKER_CRASH_ON"), crashOn);
    if (!hangOn.isEmpty())
        environment.insert(QStringLiteral("PIXQUILL_WORKER_HANG_ON"), hangOn);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PIXQUILL_BATCH_BINARY), arguments);
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

struct Folders {
    QTemporaryDir Root;
    QString Source = Root.filePath("in");
    QString Destination = Root.filePath("out");

    Folders() { QDir().mkdir(Source); }
    void Draw(const QString& name, const QImage& image, const char* format = nullptr) const
    {
        ASSERT_TRUE(image.save(Source + "/" + name, format));
    }
    QStringList Written(const QString& folder = {}) const
    {
        return QDir(folder.isEmpty() ? Destination : folder).entryList(QDir::Files, QDir::Name);
    }
};

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
    const Outcome run = RunTool({"--format", c.Option, "--width", "64", "--height", "64", f.Source,
                                 f.Destination});
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
                      FormatCase{"TIF", ".tif", "II*"}));

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
                      UsageCase{{"--format", "webp", "SRC", "DST"}, "--format"},
                      UsageCase{{"--width", "abc", "SRC", "DST"}, "--width"},
                      UsageCase{{"--height", "1e20", "SRC", "DST"}, "--height"},
                      UsageCase{{"--jobs", "0", "SRC", "DST"}, "--jobs"},
                      UsageCase{{"--timeout", "-1", "SRC", "DST"}, "--timeout"},
                      UsageCase{{"--bogus", "SRC", "DST"}, "bogus"},
                      UsageCase{{"SRC"}, "DEST"},
                      UsageCase{{"SRC/missing", "DST"}, "SOURCE"},
                      UsageCase{{"SRC", "  "}, "Choose a destination folder"},
                      UsageCase{{"SRC", "DST", "sub/a.png"}, "sub/a.png"},
                      UsageCase{{"--quality", "0", "SRC", "DST"}, "--quality"},
                      UsageCase{{"--quality", "101", "SRC", "DST"}, "--quality"},
                      UsageCase{{"--quality", "good", "SRC", "DST"}, "--quality"},
                      UsageCase{{"--quality", "50", "--format", "png", "SRC", "DST"}, "--quality"}));

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
        ASSERT_EQ(RunTool({"--filter", filter, "--format", "png", "--jobs", "1", f.Source, one}).Exit, 0);
        ASSERT_EQ(RunTool({"--filter", filter, "--format", "png", "--jobs", "4", f.Source, four}).Exit, 0);
        ASSERT_EQ(RunTool({"--filter", filter, "--format", "png", "--jobs", "3", "--in-process", f.Source,
                           inProcess})
                      .Exit,
                  0);
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
                         [](const auto& info) { return std::string(info.param.Name); });

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
}

TEST(BatchCli, NamedFilesRunInTheGivenOrder)
{
    Folders f;
    f.Draw("same.jpg", Solid(Qt::red), "JPG");
    f.Draw("same.png", Solid(Qt::blue));
    f.Draw("other.png", Solid(Qt::green));
    const Outcome run =
        RunTool({"--format", "png", "--jobs", "4", f.Source, f.Destination, "same.png", "same.jpg"});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
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
    EXPECT_EQ(f.Written(), QStringList({"_THb.jpg"}));

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
