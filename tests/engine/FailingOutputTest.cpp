// Outputs that cannot be written: the run goes on with the next image, the
// reason carries the system's own words, no partial or temporary file is
// left and an existing file of the target's name stays byte for byte.

#include <optional>
#include <ostream>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "codec/Surface.h"
#include "engine/BatchEngine.h"
#include "engine/OptionTables.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

using test::FileSizeLimit;

bool WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray kEarlier("an earlier thumbnail that must survive");
const QString kLongName = QString(250, QLatin1Char('b')) + QStringLiteral(".png");

enum class Obstacle { DestinationIsAFile, TargetIsAFolder, DiskFullMidWrite, ReadOnlyFolder, ReadOnlyTarget, NameTooLong };

struct ObstacleCase {
    Obstacle What;
    const char* Name;
    const char* Reason;  // what the reason of each refused image holds
    bool OthersWritten;  // the images not in the way are still written
};

void PrintTo(const ObstacleCase& c, std::ostream* os) { *os << c.Name; }

class FailingOutput : public ::testing::TestWithParam<ObstacleCase> {};

TEST_P(FailingOutput, RunGoesOnAndLeavesNothingBehind)
{
    const ObstacleCase& c = GetParam();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString source = root.filePath(QStringLiteral("in"));
    const QString destination = root.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkdir(source));
    // Converted without resizing to 32-bit BMP: a.png and c.png make small
    // files, the one in the way ("b") a large one.
    ASSERT_TRUE(test::GradientImage(30, 20).save(source + QStringLiteral("/a.png")));
    const QString blocked = c.What == Obstacle::NameTooLong ? kLongName : QStringLiteral("b.png");
    ASSERT_TRUE(test::GradientImage(400, 300).save(source + QLatin1Char('/') + blocked));
    ASSERT_TRUE(test::GradientImage(20, 30).save(source + QStringLiteral("/c.png")));
    const QString blockedOutput = destination + QStringLiteral("/_TH") + QFileInfo(blocked).baseName() + QStringLiteral(".bmp");

    if (c.What != Obstacle::DestinationIsAFile) {
        ASSERT_TRUE(QDir().mkdir(destination));
    }
    std::optional<FileSizeLimit> limit;
    switch (c.What) {
    case Obstacle::DestinationIsAFile:
        ASSERT_TRUE(WriteFileBytes(destination, kEarlier));
        break;
    case Obstacle::TargetIsAFolder:
        ASSERT_TRUE(QDir().mkdir(blockedOutput));
        break;
    case Obstacle::DiskFullMidWrite:
        ASSERT_TRUE(WriteFileBytes(blockedOutput, kEarlier));
        break;
    case Obstacle::ReadOnlyFolder:
        QFile::setPermissions(destination, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (::access(QFile::encodeName(destination).constData(), W_OK) == 0)
            GTEST_SKIP() << "permissions do not bind this user (root)";
        break;
    case Obstacle::ReadOnlyTarget:
        ASSERT_TRUE(WriteFileBytes(blockedOutput, kEarlier));
        QFile::setPermissions(blockedOutput, QFileDevice::ReadOwner);
        if (::access(QFile::encodeName(blockedOutput).constData(), W_OK) == 0)
            GTEST_SKIP() << "permissions do not bind this user (root)";
        break;
    case Obstacle::NameTooLong:
        break;
    }
    const QStringList before = QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    JobSettings settings;
    settings.SourceFolder = source;
    settings.DestinationFolder = destination;
    settings.ResizeMode = kResizeNone;
    settings.OutputFormat = 0; // BMP
    ASSERT_TRUE(PrepareDestination(settings));
    BatchPlan plan;
    plan.Names = {QStringLiteral("a.png"), blocked, QStringLiteral("c.png")};
    BatchReport run;
    {
        // 64 KiB: enough for a and c, not for b's 480 KB.
        if (c.What == Obstacle::DiskFullMidWrite)
            limit.emplace(64 * 1024);
        run = RunBatch(plan, SettingsSnapshot(settings));
        limit.reset();
    }
    QFile::setPermissions(destination, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    ASSERT_FALSE(run.Stopped);
    ASSERT_EQ(run.Results.size(), 3u);
    for (const ImageResult& result : run.Results) {
        const bool inTheWay = result.Name == blocked || !c.OthersWritten;
        EXPECT_EQ(result.Written, !inTheWay) << result.Name.toStdString() << ": " << result.Reason.toStdString();
        if (inTheWay) {
            EXPECT_TRUE(result.Reason.contains(QString::fromUtf8(c.Reason))) << result.Reason.toStdString();
        }
    }

    QStringList expected = before;
    if (c.OthersWritten)
        expected << QStringLiteral("_THa.bmp") << QStringLiteral("_THc.bmp");
    expected.removeDuplicates();
    expected.sort();
    if (c.What == Obstacle::DestinationIsAFile) {
        EXPECT_EQ(test::ReadFileBytes(destination), kEarlier);
        EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList({QStringLiteral("in"), QStringLiteral("out")}));
    } else {
        EXPECT_EQ(QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
                  expected);
    }
    if (c.What == Obstacle::DiskFullMidWrite || c.What == Obstacle::ReadOnlyTarget) {
        EXPECT_EQ(test::ReadFileBytes(blockedOutput), kEarlier);
    }
    if (c.What == Obstacle::TargetIsAFolder) {
        EXPECT_TRUE(QFileInfo(blockedOutput).isDir());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Obstacles, FailingOutput,
    ::testing::Values(
        ObstacleCase{Obstacle::DestinationIsAFile, "DestinationIsAFile", "(Not a directory)", false},
        ObstacleCase{Obstacle::TargetIsAFolder, "TargetIsAFolder", "(Is a directory)", true},
        ObstacleCase{Obstacle::DiskFullMidWrite, "DiskFullMidWrite", "(File too large)", true},
        ObstacleCase{Obstacle::ReadOnlyFolder, "ReadOnlyFolder", "(Permission denied)", false},
        ObstacleCase{Obstacle::ReadOnlyTarget, "ReadOnlyTarget", "read-only (Permission denied)", true},
        ObstacleCase{Obstacle::NameTooLong, "NameTooLong", "(File name too long)", true}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(FailingOutput, MissingParentRefusesTheRunWithTheSystemsWords)
{
    QTemporaryDir root;
    JobSettings settings;
    settings.SourceFolder = root.path();
    settings.DestinationFolder = root.filePath(QStringLiteral("missing/out"));
    const Outcome<QString> destination = PrepareDestination(settings);
    ASSERT_FALSE(destination);
    EXPECT_EQ(DestinationCaption(destination.Error()),
              QStringLiteral("Cannot create the destination folder (No such file or directory)"));
    EXPECT_FALSE(QFileInfo::exists(root.filePath(QStringLiteral("missing"))));
}

} // namespace
} // namespace pixquill
