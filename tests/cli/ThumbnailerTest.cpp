// pixquill-thumbnailer: its arguments and sizes, the thumbnails it writes
// through its locked-down child (inside another sandbox too), the broken and
// hostile files of the decoders' suites, and GNOME's own thumbnail factory
// running it from an installed .thumbnailer file.

#include <functional>
#include <vector>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include "cli/DesktopThumbnail.h"
#include "engine/WorkerSandbox.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestDng.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

using test::BrokenInput;
using test::Expect;

// The sanitizers' leak check stops the process's threads with ptrace at its
// end, which the outer sandboxes below refuse (as GNOME's does).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// ---- arguments -------------------------------------------------------------

struct ArgumentsCase {
    const char* Name;
    QStringList Arguments;
    int Size = 0; // 0: a usage failure is expected
    QString Input;
    QString Output;
};

void PrintTo(const ArgumentsCase& c, std::ostream* os) { *os << c.Name; }

class ThumbnailerArguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(ThumbnailerArguments, ReadsOrRefuses)
{
    const ArgumentsCase& c = GetParam();
    const Outcome<ThumbnailerCall> call = ReadThumbnailerArguments(c.Arguments);
    if (c.Size == 0) {
        ASSERT_FALSE(call);
        EXPECT_EQ(call.Error().Code, kThumbnailerUsage);
        EXPECT_FALSE(call.Reason().isEmpty());
        return;
    }
    ASSERT_TRUE(call) << call.Reason().toStdString();
    EXPECT_EQ(call->Size, c.Size);
    EXPECT_EQ(call->Input, c.Input);
    EXPECT_EQ(call->Output, c.Output);
}

QStringList Args(std::initializer_list<const char*> words)
{
    QStringList list;
    for (const char* word : words)
        list << QString::fromUtf8(word);
    return list;
}

ArgumentsCase Refused(const char* name, QStringList arguments)
{
    return {name, std::move(arguments), 0, {}, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThumbnailerArguments,
    ::testing::Values(
        ArgumentsCase{"DefaultSize", Args({"in.dng", "out.png"}), 256, "in.dng", "out.png"},
        ArgumentsCase{"SizeFirst", Args({"-s", "128", "in.psd", "out.png"}), 128, "in.psd", "out.png"},
        ArgumentsCase{"LongSizeLast", Args({"in.pcx", "out.png", "--size", "1024"}), 1024, "in.pcx", "out.png"},
        ArgumentsCase{"UriEscapesDecoded", Args({"-s", "256", "file:///home/a/My%20Photos/%23one%C3%A9.nef", "/tmp/o.png"}),
                      256, QStringLiteral("/home/a/My Photos/#oneé.nef"), "/tmp/o.png"},
        ArgumentsCase{"UriOfLocalhost", Args({"file://localhost/x/y.psd", "o.png"}), 256, "/x/y.psd", "o.png"},
        ArgumentsCase{"PathWithColonIsAPath", Args({"photos:2024.dng", "o.png"}), 256, "photos:2024.dng", "o.png"},
        Refused("UriOfAnotherHost", Args({"file://server/x.dng", "o.png"})),
        Refused("NotAUriAtAll", Args({"file:", "o.png"})),
        Refused("SizeZero", Args({"-s", "0", "i", "o"})),
        Refused("SizeTooLarge", Args({"-s", "4097", "i", "o"})),
        Refused("SizeWithUnit", Args({"-s", "256px", "i", "o"})),
        Refused("SizeMissing", Args({"i", "o", "-s"})),
        Refused("SizeTwice", Args({"-s", "128", "-s", "256", "i", "o"})),
        Refused("OneFile", Args({"i"})),
        Refused("ThreeFiles", Args({"i", "o", "p"})),
        Refused("EmptyOutput", Args({"i", ""})),
        Refused("UnknownOption", Args({"-x", "i", "o"}))),
    [](const auto& row) { return std::string(row.param.Name); });

// ---- sizes -----------------------------------------------------------------

struct SizeCase {
    const char* Name;
    QSize Full;
    int Size;
    QSize Expected;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.Name; }

class DesktopSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(DesktopSize, LongerSideIsTheSizeNeverEnlarged)
{
    EXPECT_EQ(DesktopThumbnailSize(GetParam().Full, GetParam().Size), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DesktopSize,
    ::testing::Values(SizeCase{"Landscape", QSize(4000, 3000), 256, QSize(256, 192)},
                      SizeCase{"Portrait", QSize(3000, 4000), 256, QSize(192, 256)},
                      SizeCase{"ShorterSideRounded", QSize(301, 200), 256, QSize(256, 170)},
                      SizeCase{"ExactlyTheSize", QSize(256, 100), 256, QSize(256, 100)},
                      SizeCase{"SmallerKept", QSize(100, 60), 256, QSize(100, 60)},
                      SizeCase{"OneSideLargerOnly", QSize(100, 300), 128, QSize(43, 128)},
                      SizeCase{"ThinStaysOnePixel", QSize(20000, 3), 256, QSize(256, 1)},
                      SizeCase{"TallThinStaysOnePixel", QSize(2, 9000), 512, QSize(1, 512)}),
    [](const auto& row) { return std::string(row.param.Name); });

// ---- the program -----------------------------------------------------------

struct ProgramRun {
    int Exit = -1; // -1: crashed or killed
    QStringList ErrLines;
    qint64 Milliseconds = 0;
};

// modifier, when given, runs in the child before the program starts.
ProgramRun RunThumbnailer(const QStringList& arguments, const std::function<void()>& modifier = {},
                          const QString& program = QStringLiteral(PIXQUILL_THUMBNAILER_BINARY))
{
    QProcess process;
    if (modifier)
        process.setChildProcessModifier(modifier);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    // Generous: the program's own limit is what is checked.
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    ProgramRun run;
    run.Milliseconds = clock.elapsed();
    if (process.exitStatus() == QProcess::NormalExit)
        run.Exit = process.exitCode();
    // Every line as written, empty ones included; a last line without its
    // end is marked.
    QString err = QString::fromUtf8(process.readAllStandardError());
    if (err.isEmpty())
        return run;
    const bool ended = err.endsWith(QLatin1Char('\n'));
    if (ended)
        err.chop(1);
    run.ErrLines = err.split(QLatin1Char('\n'));
    if (!ended)
        run.ErrLines << QStringLiteral("(no end of line)");
    return run;
}

QString Describe(const ProgramRun& run)
{
    return QStringLiteral("exit %1, %2 ms, stderr: %3").arg(run.Exit).arg(run.Milliseconds).arg(run.ErrLines.join(" | "));
}

// A spot of the upright picture, as fractions of its sides, and its colour.
struct Spot {
    double X;
    double Y;
    QRgb Colour;
};

const std::vector<Spot> kQuadrants = {{0.25, 0.25, qRgb(255, 0, 0)},
                                      {0.75, 0.25, qRgb(0, 255, 0)},
                                      {0.25, 0.75, qRgb(0, 0, 255)},
                                      {0.75, 0.75, qRgb(255, 255, 255)}};

// Checks a written thumbnail: a PNG of the size, its spots in their colours
// (within `tolerance`: previews are JPEG, RAW data is rendered).
void ExpectThumbnail(const QString& path, QSize size, const std::vector<Spot>& spots, int tolerance)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray head = file.read(25);
    file.close();
    ASSERT_TRUE(head.startsWith("\x89PNG") && head.size() == 25) << "not a PNG";
    EXPECT_EQ(head[24], 8) << "8 bits a sample";
    const QImage image(path);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), size);
    for (const Spot& spot : spots) {
        const QPoint at(static_cast<int>(spot.X * image.width()), static_cast<int>(spot.Y * image.height()));
        const QRgb seen = image.pixel(at);
        EXPECT_LE(test::ColourDistance(seen, spot.Colour), tolerance)
            << "at " << at.x() << "," << at.y() << ": " << std::hex << seen << " for " << spot.Colour;
    }
}

// The files of a folder other than `except`: nothing may be left behind.
QStringList OtherFiles(const QString& folder, const QString& except)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.removeAll(except);
    return names;
}

QRgb AdobeRgbShownInSrgb(QRgb stored)
{
    return QColorSpace(QColorSpace::AdobeRgb).transformationToColorSpace(QColorSpace::SRgb).map(stored);
}

struct ProgramCase {
    const char* Name;
    const char* FileName;
    std::function<QByteArray()> Bytes;
    int Size;
    QSize Expected;
    std::vector<Spot> Spots;
    int Tolerance = 8;
    bool AsUri = false;
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.Name; }

class ThumbnailerProgram : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ThumbnailerProgram, WritesTheUprightSrgbThumbnail)
{
    const ProgramCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray bytes = c.Bytes();
    ASSERT_FALSE(bytes.isEmpty());
    const QString input = dir.filePath(QString::fromUtf8(c.FileName));
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const QString output = dir.filePath(QStringLiteral("thumbnail.png"));
    const QString given = c.AsUri ? QUrl::fromLocalFile(input).toString(QUrl::FullyEncoded) : input;

    const ProgramRun run = RunThumbnailer({QStringLiteral("-s"), QString::number(c.Size), given, output});
    ASSERT_EQ(run.Exit, kThumbnailerWritten) << Describe(run).toStdString();
    EXPECT_TRUE(run.ErrLines.isEmpty()) << Describe(run).toStdString();
    ExpectThumbnail(output, c.Expected, c.Spots, c.Tolerance);
    EXPECT_EQ(OtherFiles(dir.path(), QStringLiteral("thumbnail.png")), QStringList{QFileInfo(input).fileName()});
}

QByteArray Dng(QSize picture, int orientation, QSize preview, bool adobeRgb = false)
{
    test::DngRecipe recipe;
    recipe.Picture = test::QuadrantImage(picture.width(), picture.height());
    recipe.Orientation = orientation;
    recipe.PreviewSize = preview;
    recipe.PreviewAdobeRgb = adobeRgb;
    if (adobeRgb)
        recipe.Picture.fill(QColor(60, 160, 90));
    return test::MakeDng(recipe);
}

// A DNG whose preview shows something else than its raw data (one flat
// colour), so that the thumbnail tells which of the two it came from.
QByteArray DngWithFlatPreview(QSize picture, QSize preview, QColor colour)
{
    test::DngRecipe recipe;
    recipe.Picture = test::QuadrantImage(picture.width(), picture.height());
    recipe.PreviewSize = preview;
    QImage flat(preview, QImage::Format_RGB32);
    flat.fill(colour);
    QBuffer buffer(&recipe.PreviewJpeg);
    buffer.open(QIODevice::WriteOnly);
    flat.save(&buffer, "JPEG", 95);
    return test::MakeDng(recipe);
}

const QColor kTeal(0, 128, 128);

INSTANTIATE_TEST_SUITE_P(
    Table, ThumbnailerProgram,
    ::testing::Values(
        ProgramCase{"Png", "large.png", [] { return test::EncodeWithCodec(test::QuadrantImage(800, 600), "png"); },
                    256, QSize(256, 192), kQuadrants, 0},
        ProgramCase{"SmallImageKeepsItsSize", "small.png",
                    [] { return test::EncodeWithCodec(test::QuadrantImage(100, 60), "png"); }, 256, QSize(100, 60),
                    kQuadrants, 0},
        ProgramCase{"Psd", "layers.psd", [] { return test::PsdOf(test::QuadrantImage(640, 480), true); }, 128,
                    QSize(128, 96), kQuadrants, 0},
        ProgramCase{"Pcx", "paint.pcx", [] { return test::PcxOf(test::QuadrantImage(301, 200)); }, 256,
                    QSize(256, 170), kQuadrants, 0},
        ProgramCase{"DngPreviewTurnedUpright", "turned.dng", [] { return Dng({600, 400}, 6, {600, 400}); }, 256,
                    QSize(256, 171), kQuadrants, 24},
        ProgramCase{"DngRawDataUpright", "raw-only.dng", [] { return Dng({640, 480}, 8, {}); }, 256,
                    QSize(256, 192), kQuadrants, 64},
        ProgramCase{"DngAdobeRgbPreviewInSrgb", "adobe.dng", [] { return Dng({600, 400}, 1, {600, 400}, true); },
                    256, QSize(256, 171), {{0.5, 0.5, AdobeRgbShownInSrgb(qRgb(60, 160, 90))}}, 6},
        ProgramCase{"PreviewOfTheIconsOwnSizeServes", "preview.dng",
                    [] { return DngWithFlatPreview({600, 400}, {300, 200}, kTeal); }, 256, QSize(256, 171),
                    {{0.25, 0.25, kTeal.rgb()}, {0.75, 0.75, kTeal.rgb()}}, 8},
        ProgramCase{"PreviewSmallerThanTheIconPassedOver", "small-preview.dng",
                    [] { return DngWithFlatPreview({600, 400}, {200, 133}, kTeal); }, 256, QSize(256, 171),
                    kQuadrants, 64},
        ProgramCase{"JpegExifUpright", "turned.jpg",
                    [] { return test::JpegWithOrientation(test::StoredAs(test::QuadrantImage(400, 300), 6), 6); },
                    256, QSize(256, 192), kQuadrants, 24},
        ProgramCase{"UriWithSpaceAndHash", "my photo #1.pcx",
                    [] { return test::PcxOf(test::QuadrantImage(64, 64)); }, 256, QSize(64, 64), kQuadrants, 0,
                    true}),
    [](const auto& row) { return std::string(row.param.Name); });

// ---- inside another sandbox ------------------------------------------------

// What a sandbox around a thumbnailer does before starting it (GNOME's
// bubblewrap does the same): no new privileges, and a filter of its own
// that refuses a few calls (and `refused`, where given) and allows the rest.
std::function<void()> OuterSandbox(long refused)
{
    return [refused] {
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            ::_exit(120);
        const auto number = static_cast<std::uint32_t>(refused);
        sock_filter program[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ptrace, 3, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_personality, 2, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 1, 0),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        };
        sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
        if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0)
            ::_exit(121);
    };
}

struct NestedCase {
    const char* Name;
    bool Bubblewrap;
    long Refused; // a call the outer filter refuses besides its own few
    bool Written;
};

void PrintTo(const NestedCase& c, std::ostream* os) { *os << c.Name; }

class ThumbnailerNested : public ::testing::TestWithParam<NestedCase> {};

TEST_P(ThumbnailerNested, LocksItselfDownInsideAnotherSandbox)
{
    const NestedCase& c = GetParam();
    if (kSanitized)
        GTEST_SKIP() << "not in sanitizer builds";
    if (const SandboxState offered = AvailableSandbox(); !c.Written && (!offered.Missing.isEmpty() || offered.LandlockAbi == 0))
        GTEST_SKIP() << "no Landlock to refuse here";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = dir.filePath(QStringLiteral("in.psd"));
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(test::PsdOf(test::QuadrantImage(400, 300), false));
    file.close();
    const QString output = dir.filePath(QStringLiteral("out.png"));
    const QStringList arguments{QStringLiteral("-s"), QStringLiteral("128"), input, output};
    ProgramRun run;
    if (c.Bubblewrap) {
        const QString bwrap = QStandardPaths::findExecutable(QStringLiteral("bwrap"));
        if (bwrap.isEmpty())
            GTEST_SKIP() << "bubblewrap is not installed (scripts/install-deps.sh installs it)";
        QStringList wrapped{QStringLiteral("--ro-bind"), QStringLiteral("/"), QStringLiteral("/"),
                            QStringLiteral("--bind"), dir.path(), dir.path(),
                            QStringLiteral("--dev"), QStringLiteral("/dev"),
                            QStringLiteral("--proc"), QStringLiteral("/proc"),
                            QStringLiteral("--unshare-all"), QStringLiteral("--die-with-parent"),
                            QStringLiteral(PIXQUILL_THUMBNAILER_BINARY)};
        run = RunThumbnailer(wrapped + arguments, OuterSandbox(c.Refused), bwrap);
        if (run.Exit != kThumbnailerWritten && run.ErrLines.join(' ').startsWith(QLatin1String("bwrap:")))
            GTEST_SKIP() << "bubblewrap cannot make its sandbox here: " << run.ErrLines.join(' ').toStdString();
    } else {
        run = RunThumbnailer(arguments, OuterSandbox(c.Refused));
    }
    if (c.Written) {
        ASSERT_EQ(run.Exit, kThumbnailerWritten) << Describe(run).toStdString();
        ExpectThumbnail(output, QSize(128, 96), kQuadrants, 0);
        return;
    }
    // Landlock offered but refused to this process: it is not sandboxed as
    // the kernel allows, and decodes nothing.
    EXPECT_EQ(run.Exit, kThumbnailerFailed) << Describe(run).toStdString();
    ASSERT_EQ(run.ErrLines.size(), 1) << Describe(run).toStdString();
    EXPECT_TRUE(run.ErrLines[0].endsWith(QLatin1String(": the decoder could not be locked down (Landlock refused)")))
        << run.ErrLines[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(output));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThumbnailerNested,
    ::testing::Values(NestedCase{"NoNewPrivilegesAndAFilter", false, SYS_kexec_load, true},
                      NestedCase{"BubblewrapWithAFilter", true, SYS_kexec_load, true},
                      NestedCase{"LandlockRefusedByTheOuterFilter", false, SYS_landlock_restrict_self, false}),
    [](const auto& row) { return std::string(row.param.Name); });

// ---- broken and hostile files ----------------------------------------------

// The broken-input table of the decoders' suites and the files the fuzzer
// found (those that crash or hang FreeImage itself included): through the
// program, each either gives a thumbnail (where the table says it may) or
// ends with status 1, one line on stderr naming the file and the reason, and
// nothing left in the output's folder.
struct HostileCase {
    QString Name;
    std::optional<BrokenInput> Broken; // else a fuzzer's file
    QString FuzzFile;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.Name.toStdString(); }

std::vector<HostileCase> HostileCases()
{
    std::vector<HostileCase> cases;
    for (const BrokenInput& input : test::BrokenInputs())
        cases.push_back({input.Name, input, {}});
    // Not the oversized DDS files, which no decode replays yet (see their
    // README): FreeImage allocates gigabytes before failing on them.
    QDirIterator files(QStringLiteral(PIXQUILL_TEST_DATA_DIR "/fuzz-regressions"), QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (!path.endsWith(QLatin1String(".md")) && !path.contains(QLatin1String("/oversized/")))
            cases.push_back({QStringLiteral("fuzz-") + QFileInfo(path).fileName(), std::nullopt, path});
    }
    return cases;
}

class ThumbnailerHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ThumbnailerHostile, FailsInOneLineLeavingNothing)
{
    const HostileCase& c = GetParam();
    QTemporaryDir inDir;
    QTemporaryDir outDir;
    ASSERT_TRUE(inDir.isValid() && outDir.isValid());
    QString input;
    Expect expected = Expect::LoadsOrFails;
    if (c.Broken) {
        const std::vector<BrokenInput> made = test::MakeBrokenInputs(inDir.path(), {*c.Broken});
        if (made.empty())
            GTEST_SKIP() << "cannot be made on this system";
        input = inDir.filePath(c.Broken->Name);
        expected = c.Broken->Expected;
    } else {
        input = c.FuzzFile;
    }
    const QString output = outDir.filePath(QStringLiteral("thumbnail.png"));

    const ProgramRun run = RunThumbnailer({input, output});
    ASSERT_NE(run.Exit, -1) << "crashed or hung: " << Describe(run).toStdString();
    // Refused by the guards, not by the program's time limit (whose words
    // would be "the decoder hung"); the time itself is measured in
    // bench/ThumbnailerBench.
    EXPECT_LT(run.Milliseconds, DesktopThumbnailMilliseconds(QFileInfo(input).size()));
    if (run.Exit == kThumbnailerWritten) {
        EXPECT_NE(expected, Expect::Fails) << "a thumbnail of a file that must fail";
        EXPECT_TRUE(run.ErrLines.isEmpty()) << Describe(run).toStdString();
        EXPECT_FALSE(QImage(output).isNull());
        EXPECT_EQ(OtherFiles(outDir.path(), QStringLiteral("thumbnail.png")), QStringList());
        return;
    }
    EXPECT_NE(expected, Expect::Loads) << Describe(run).toStdString();
    EXPECT_EQ(run.Exit, kThumbnailerFailed) << Describe(run).toStdString();
    ASSERT_EQ(run.ErrLines.size(), 1) << Describe(run).toStdString();
    QString shownName = input;
    shownName.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QString prefix = QStringLiteral("pixquill-thumbnailer: ") + shownName + QStringLiteral(": ");
    ASSERT_TRUE(run.ErrLines[0].startsWith(prefix)) << run.ErrLines[0].toStdString();
    const QString reason = run.ErrLines[0].mid(prefix.size());
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(reason.startsWith(QLatin1String("the decoder hung"))) << reason.toStdString();
    if (c.Broken) {
        EXPECT_TRUE(c.Broken->ReasonMatches(reason)) << reason.toStdString();
    }
    EXPECT_EQ(OtherFiles(outDir.path(), QString()), QStringList()) << "left behind";
}

INSTANTIATE_TEST_SUITE_P(Table, ThumbnailerHostile, ::testing::ValuesIn(HostileCases()),
                         [](const auto& row) {
                             std::string name;
                             for (const QChar ch : row.param.Name)
                                 name += ch.isLetterOrNumber() && ch.unicode() < 128 ? static_cast<char>(ch.unicode()) : '_';
                             return name + "_" + std::to_string(row.index);
                         });

// ---- GNOME's thumbnail factory ----------------------------------------------

// GNOME's factory runs a thumbnailer in bubblewrap, where only /usr is
// seen: the build is installed under a prefix of its own below /usr/local
// (as root), the factory pointed at it through XDG_DATA_DIRS, and asked
// for a DNG, a PSD and a PCX, none of which it has a thumbnailer for
// without Pixquill. The prefix is removed afterwards.
TEST(GnomeThumbnailFactory, ThumbnailsDngPsdAndPcxThroughTheInstalledThumbnailer)
{
    if (kSanitized)
        GTEST_SKIP() << "not in sanitizer builds";
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to install the build under /usr/local where the factory's sandbox sees it";
    const QString python = QStringLiteral("/usr/bin/python3");
    QProcess probe;
    probe.start(python, {QStringLiteral("-c"),
                         QStringLiteral("import gi; gi.require_version('GnomeDesktop', '3.0'); "
                                        "from gi.repository import GnomeDesktop")});
    if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        GTEST_SKIP() << "python3-gi and gir1.2-gnomedesktop-3.0 are not installed (scripts/install-deps.sh)";
    if (QStandardPaths::findExecutable(QStringLiteral("bwrap")).isEmpty())
        GTEST_SKIP() << "bubblewrap is not installed (scripts/install-deps.sh)";

    const QString prefix = QStringLiteral("/usr/local/lib/pixquill-factory-test-%1").arg(::getpid());
    struct RemovePrefix {
        QString Path;
        ~RemovePrefix() { QDir(Path).removeRecursively(); }
    } removePrefix{prefix};
    QProcess install;
    install.start(QStringLiteral(PIXQUILL_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(PIXQUILL_BUILD_DIR), QStringLiteral("--prefix"), prefix});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    const QString thumbnailer = prefix + QStringLiteral("/share/thumbnailers/pixquill.thumbnailer");
    ASSERT_TRUE(QFileInfo::exists(thumbnailer));

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    struct FactoryCase {
        const char* Name;
        QByteArray Bytes;
        QSize Expected; // the factory's "large" size, 256
        int Tolerance;
    };
    const std::vector<FactoryCase> cases = {
        {"camera.dng", Dng({600, 900}, 6, {600, 900}), QSize(171, 256), 24},
        {"layers.psd", test::PsdOf(test::QuadrantImage(640, 480), true), QSize(256, 192), 0},
        {"paint.pcx", test::PcxOf(test::QuadrantImage(500, 400)), QSize(256, 205), 0},
    };
    QStringList arguments{QStringLiteral(PIXQUILL_FACTORY_SCRIPT)};
    for (const FactoryCase& c : cases) {
        QFile file(home.filePath(QString::fromLatin1(c.Name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.Bytes) == c.Bytes.size());
        file.close();
        arguments << file.fileName() << home.filePath(QString::fromLatin1(c.Name) + QStringLiteral(".png"));
    }
    QProcess factory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), prefix + QStringLiteral("/share:/usr/share"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("HOME"), home.path());
    factory.setProcessEnvironment(environment);
    factory.start(python, arguments);
    ASSERT_TRUE(factory.waitForFinished(120000));
    const QString said = QString::fromUtf8(factory.readAllStandardOutput() + factory.readAllStandardError());
    ASSERT_EQ(factory.exitCode(), 0) << said.toStdString();
    for (const FactoryCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectThumbnail(home.filePath(QString::fromLatin1(c.Name) + QStringLiteral(".png")), c.Expected, kQuadrants,
                        c.Tolerance);
    }
}

} // namespace
} // namespace pixquill
