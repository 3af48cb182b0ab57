// pixquill-batch over the broken-input table: it completes, names every
// image it did not write with the reason, prints nothing but its own lines
// on stderr, and leaves the originals as they were.

#include <csignal>

#include <sys/resource.h>

#include <QDir>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/support/BrokenInputs.h"
#include "tests/support/Folders.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

using test::BrokenInput;
using test::Expect;
using test::Snapshot;

struct ToolRun {
    int Exit = -1;
    QString Out;
    QStringList ErrLines;
};

ToolRun RunTool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(PIXQUILL_BATCH_BINARY), arguments);
    if (!process.waitForFinished(300000))
        return {};
    QString err = QString::fromLocal8Bit(process.readAllStandardError());
    if (err.endsWith(QLatin1Char('\n')))
        err.chop(1);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()), err.split(QLatin1Char('\n'))};
}

// Names are given after "--", so the FIFO, the socket, the dangling link and
// the names that look like options are all handed over.
TEST(BrokenCli, NamesEveryImageNotWrittenAndPrintsNothingElse)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString source = root.filePath(QStringLiteral("in"));
    const QString destination = root.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkdir(source));
    const std::vector<BrokenInput> inputs = test::MakeBrokenInputs(source, test::BrokenInputs());
    const auto before = Snapshot(source);
    QHash<QString, const BrokenInput*> byName;
    QStringList arguments {QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--format"),
                           QStringLiteral("png"), QStringLiteral("--"), source, destination};
    for (const BrokenInput& input : inputs) {
        byName.insert(input.Name, &input);
        arguments.append(input.Name);
    }

    const ToolRun run = RunTool(arguments);
    ASSERT_EQ(run.Exit, 1) << run.ErrLines.join(QLatin1Char('\n')).toStdString();

    int failed = 0;
    int foreign = 0;
    const QRegularExpression progress(QStringLiteral("^Processing \\d+ of \\d+$"));
    for (const QString& line : run.ErrLines) {
        if (progress.match(line).hasMatch())
            continue;
        // "NAME: reason", where NAME may itself hold ": ".
        const BrokenInput* input = nullptr;
        QString reason;
        for (qsizetype at = line.indexOf(QStringLiteral(": ")); at >= 0 && !input;
             at = line.indexOf(QStringLiteral(": "), at + 1)) {
            input = byName.value(line.left(at));
            reason = line.mid(at + 2);
        }
        if (!input) {
            ++foreign;
            ADD_FAILURE() << "not one of ours: " << line.toStdString();
            continue;
        }
        // A file cut late decodes with the library's warning beside it.
        if (reason.startsWith(QLatin1String("written, but "))) {
            EXPECT_NE(input->Expected, Expect::Fails) << line.toStdString();
            EXPECT_EQ(input->Kind, test::BrokenKind::Cut) << line.toStdString();
            continue;
        }
        ++failed;
        EXPECT_NE(input->Expected, Expect::Loads) << line.toStdString();
        EXPECT_TRUE(input->ReasonMatches(reason)) << line.toStdString();
    }
    EXPECT_EQ(foreign, 0);
    const int total = static_cast<int>(inputs.size());
    EXPECT_EQ(run.Out, QStringLiteral("Completed %1 of %2 images (%3 failed)\n").arg(total - failed).arg(total).arg(failed));
    EXPECT_EQ(before, Snapshot(source));
    for (const QString& name : QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        EXPECT_TRUE(name.startsWith(QLatin1String("_TH")) && name.endsWith(QLatin1String(".png"))) << name.toStdString();
}

// Listing the folder by mask names what matches but is no ordinary file,
// each with its reason, and counts it as not written.
TEST(BrokenCli, MaskedListingNamesWhatIsNotAFile)
{
    QTemporaryDir root;
    const QString source = root.filePath(QStringLiteral("in"));
    ASSERT_TRUE(QDir().mkdir(source));
    const std::vector<test::BrokenInput> special = test::BrokenInputsOf(test::BrokenKind::NotAFile);
    test::MakeBrokenInputs(source, special);
    test::MakeBrokenInputs(source, test::BrokenInputsOf(test::BrokenKind::OddName));
    // A folder and a link loop of an image's name as well.
    ASSERT_TRUE(QDir(source).mkdir(QStringLiteral("folder.png")));
    ASSERT_TRUE(QFile::link(QStringLiteral("loop.png"), source + QStringLiteral("/loop.png")));
    const ToolRun run = RunTool({QStringLiteral("--mask"), QStringLiteral("*.*"), source, root.filePath(QStringLiteral("out"))});
    EXPECT_EQ(run.Exit, 1);
    const int odd = static_cast<int>(test::BrokenInputsOf(test::BrokenKind::OddName).size());
    int made = 0;
    for (const test::BrokenInput& input : special) {
        if (!QFileInfo(source + QLatin1Char('/') + input.Name).isSymLink() && !QFileInfo::exists(source + QLatin1Char('/') + input.Name))
            continue; // could not be made here
        ++made;
        const QStringList said = run.ErrLines.filter(input.Name + QStringLiteral(": "));
        ASSERT_EQ(said.size(), 1) << input.Name.toStdString();
        EXPECT_TRUE(input.ReasonMatches(said.front().section(QStringLiteral(": "), 1))) << said.front().toStdString();
    }
    for (const char* name : {"folder.png: is a folder", "loop.png: file cannot be read (Too many levels of symbolic links)"})
        EXPECT_EQ(run.ErrLines.filter(QString::fromLatin1(name)).size(), 1) << name;
    const int failed = made + 2;
    EXPECT_EQ(run.Out, QStringLiteral("Completed %1 of %2 images (%3 failed)\n").arg(odd).arg(odd + failed).arg(failed));
}

// A disk that fills while pixquill-batch writes (a file-size limit on the
// child): the large thumbnail is refused with the system's words, an earlier
// file of its name survives, the others are written. Whether or not whoever
// set the limit also ignores SIGXFSZ: the tool must not die of it.
class BrokenCliFileSizeLimit : public ::testing::TestWithParam<bool> {};

TEST_P(BrokenCliFileSizeLimit, DiskFullMidWriteKeepsTheEarlierFileAndGoesOn)
{
    const bool parentIgnoresSignal = GetParam();
    QTemporaryDir root;
    const QString source = root.filePath(QStringLiteral("in"));
    const QString destination = root.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkdir(source));
    ASSERT_TRUE(QDir().mkdir(destination));
    ASSERT_TRUE(test::GradientImage(30, 20).save(source + QStringLiteral("/a.png")));
    ASSERT_TRUE(test::GradientImage(400, 300).save(source + QStringLiteral("/b.png")));
    ASSERT_TRUE(test::GradientImage(20, 30).save(source + QStringLiteral("/c.png")));
    const QByteArray earlier("an earlier thumbnail");
    {
        QFile file(destination + QStringLiteral("/_THb.bmp"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(earlier);
    }

    QProcess process;
    process.setChildProcessModifier([parentIgnoresSignal] {
        std::signal(SIGXFSZ, parentIgnoresSignal ? SIG_IGN : SIG_DFL);
        rlimit limit {};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start(QStringLiteral(PIXQUILL_BATCH_BINARY),
                  {QStringLiteral("--resize"), QStringLiteral("none"), QStringLiteral("--format"), QStringLiteral("bmp"),
                   QStringLiteral("--jobs"), QStringLiteral("2"), source, destination});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(QString::fromLocal8Bit(process.readAllStandardOutput()),
              QStringLiteral("Completed 2 of 3 images (1 failed)\n"));
    EXPECT_TRUE(err.contains(QStringLiteral("b.png: cannot write the file (File too large)\n"))) << err.toStdString();
    EXPECT_EQ(test::ReadFileBytes(destination + QStringLiteral("/_THb.bmp")), earlier);
    EXPECT_EQ(QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              QStringList({QStringLiteral("_THa.bmp"), QStringLiteral("_THb.bmp"), QStringLiteral("_THc.bmp")}));
}

INSTANTIATE_TEST_SUITE_P(Signal, BrokenCliFileSizeLimit, ::testing::Bool(),
                         [](const auto& testInfo) { return testInfo.param ? "SignalIgnored" : "SignalDefault"; });

TEST(BrokenCli, DestinationThatCannotBeMadeSaysWhy)
{
    QTemporaryDir root;
    const ToolRun run = RunTool({root.path(), root.filePath(QStringLiteral("missing/out"))});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_EQ(run.ErrLines, QStringList({QStringLiteral("pixquill-batch: cannot create the destination folder \"%1\" "
                                                        "(No such file or directory)")
                                             .arg(root.filePath(QStringLiteral("missing/out")))}));
}

} // namespace
} // namespace pixquill
