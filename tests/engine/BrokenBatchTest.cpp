// The whole broken-input table as one batch, for every output format: the
// run completes, each broken image is counted as not written with its
// reason, the good ones are written, no original changes and no partial
// or temporary file is left.

#include <ostream>

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "codec/Surface.h"
#include "engine/BatchRules.h"
#include "engine/BatchEngine.h"
#include "engine/OptionTables.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/Folders.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

using test::BrokenInput;
using test::Expect;
using test::Snapshot;

class BrokenBatch : public ::testing::TestWithParam<int> {};

TEST_P(BrokenBatch, CompletesAndCountsEveryBrokenImageWithItsReason)
{
    const int outputFormat = GetParam();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString source = root.filePath(QStringLiteral("in"));
    const QString destination = root.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkdir(source));
    const std::vector<BrokenInput> inputs = test::MakeBrokenInputs(source, test::BrokenInputs());
    ASSERT_GT(inputs.size(), 100u);
    const QMap<QString, QByteArray> before = Snapshot(source);

    JobSettings settings;
    settings.SourceFolder = source;
    settings.DestinationFolder = destination;
    settings.OutputFormat = outputFormat;
    settings.WidthText = QStringLiteral("40");
    settings.HeightText = QStringLiteral("40");
    ASSERT_TRUE(PrepareDestination(settings));
    BatchPlan plan;
    for (const BrokenInput& input : inputs)
        plan.Names.append(input.Name);
    plan.Jobs = 2;

    test::StderrCapture capture;
    const BatchReport run = RunBatch(plan, SettingsSnapshot(settings));
    const QByteArray printed = capture.Take();

    EXPECT_FALSE(run.Stopped);
    EXPECT_TRUE(printed.isEmpty()) << printed.toStdString();
    ASSERT_EQ(run.Results.size(), inputs.size());
    int written = 0;
    int withoutReason = 0;
    QStringList expectedFiles;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const BrokenInput& input = inputs[i];
        const ImageResult& result = run.Results[i];
        SCOPED_TRACE(input.Name.toStdString());
        if (result.Written) {
            ++written;
            EXPECT_NE(input.Expected, Expect::Fails);
            expectedFiles.append(QFileInfo(result.OutputPath).fileName());
        } else {
            withoutReason += result.Reason.isEmpty();
            EXPECT_NE(input.Expected, Expect::Loads) << result.Reason.toStdString();
            EXPECT_TRUE(input.ReasonMatches(result.Reason)) << result.Reason.toStdString();
        }
    }
    EXPECT_EQ(withoutReason, 0);
    EXPECT_EQ(run.Tally.Written, written);
    // Originals byte for byte; in the destination only whole thumbnails.
    EXPECT_EQ(before, Snapshot(source));
    expectedFiles.removeDuplicates();
    expectedFiles.sort();
    EXPECT_EQ(QStringList(Snapshot(destination).keys()), expectedFiles);
    for (const QString& name : expectedFiles)
        EXPECT_GT(QFileInfo(destination + QLatin1Char('/') + name).size(), 0) << name.toStdString();
    std::cout << "[ tally    ] format " << OutputFormatAt(outputFormat)->Extension << ": " << inputs.size()
              << " cases, " << written << " written, " << inputs.size() - written << " refused, "
              << withoutReason << " without a reason\n";
}

INSTANTIATE_TEST_SUITE_P(EveryOutputFormat, BrokenBatch, ::testing::Range(0, kOutputFormatCount),
                         [](const auto& testInfo) {
                             return std::string(OutputFormatAt(testInfo.param)->Extension + 1);
                         });

} // namespace
} // namespace pixquill
