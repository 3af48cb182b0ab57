// The run's own logic, with a stand-in for the per-image work.

#include <memory>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "engine/BatchRules.h"
#include "engine/BatchRun.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

class CountingSettings : public FixedBatchSettings {
public:
    using FixedBatchSettings::FixedBatchSettings;
    JobSettings ReadJobSettings() override
    {
        ++Reads;
        return FixedBatchSettings::ReadJobSettings();
    }
    int Reads = 0;
};

struct Seen {
    QString Name;
    int OutputFormat;
};

// Records every callback; the test hooks in what a window would do there.
struct Harness {
    QTemporaryDir Root;
    CountingSettings Settings;
    std::vector<Seen> Processed;
    std::vector<std::pair<int, int>> Progress;
    QStringList Captions;
    int Yields = 0;
    int Completions = 0;
    QSet<QString> FailingNames;
    std::function<void(int image)> DuringImage; // inside the step of image i (1-based)
    std::function<void(int image)> OnYield;
    std::unique_ptr<BatchRun> Run;

    Harness()
    {
        Settings.Settings().DestinationFolder = Root.filePath("thumbs");
        Run = std::make_unique<BatchRun>(
            Settings,
            std::make_shared<ImageStep>([this](const QString& name, const JobSettings& settings,
                                               const QSet<QString>&) {
                Processed.push_back({name, settings.OutputFormat});
                if (DuringImage)
                    DuringImage(static_cast<int>(Processed.size()));
                const bool fails = FailingNames.contains(name);
                return ImageResult{name, "/out/" + name, !fails,
                                   fails ? QString("cannot be read") : QString()};
            }),
            BatchCallbacks{[this](int value, int max) { Progress.emplace_back(value, max); },
                           [this](const QString& caption) { Captions.append(caption); },
                           [this] {
                               ++Yields;
                               if (OnYield)
                                   OnYield(Yields);
                           },
                           [this] { ++Completions; }});
    }
};

QStringList Names(int n)
{
    QStringList names;
    for (int i = 1; i <= n; ++i)
        names.append(QStringLiteral("img%1.jpg").arg(i));
    return names;
}

TEST(BatchRun, NothingSelectedStillCreatesTheDestination)
{
    Harness h;
    ASSERT_FALSE(QFileInfo::exists(h.Root.filePath("thumbs")));
    EXPECT_EQ(h.Run->Start({}), BatchOutcome::Completed);
    EXPECT_TRUE(QFileInfo(h.Root.filePath("thumbs")).isDir());
    EXPECT_EQ(h.Run->Caption(), QString("Completed 0 of 0 images"));
    EXPECT_EQ(h.Completions, 1);
    EXPECT_TRUE(h.Processed.empty());
    EXPECT_EQ(h.Progress, (std::vector<std::pair<int, int>>{{0, 0}, {0, 0}}));
}

TEST(BatchRun, ReportsProgressAfterEveryImageAndCompletes)
{
    Harness h;
    EXPECT_EQ(h.Run->Start(Names(3)), BatchOutcome::Completed);
    EXPECT_EQ(h.Captions, QStringList({"Processing 1 of 3", "Processing 2 of 3", "Processing 3 of 3",
                                       "Completed 3 of 3 images"}));
    EXPECT_EQ(h.Progress, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 3}}));
    EXPECT_EQ(h.Yields, 3);
    // Once at Start for the destination, then once per image.
    EXPECT_EQ(h.Settings.Reads, 4);
    EXPECT_FALSE(h.Run->IsRunning());
}

TEST(BatchRun, StopDuringTheSecondImageEndsAfterIt)
{
    Harness h;
    h.DuringImage = [&h](int image) {
        if (image == 2)
            h.Run->Stop();
    };
    EXPECT_EQ(h.Run->Start(Names(5)), BatchOutcome::Stopped);
    EXPECT_EQ(h.Processed.size(), 2u);
    EXPECT_EQ(h.Run->Caption(), QString("Stopped after 2 of 5 images (2 written)"));
    EXPECT_EQ(h.Progress.back(), std::make_pair(0, 5));
    EXPECT_EQ(h.Completions, 0);
    EXPECT_FALSE(h.Run->IsRunning());
    // The next run is not cut short by the old request.
    EXPECT_EQ(h.Run->Start(Names(3)), BatchOutcome::Completed);
    EXPECT_EQ(h.Processed.size(), 5u);
}

TEST(BatchRun, StopFromTheYieldEndsBeforeTheNextImage)
{
    Harness h;
    h.OnYield = [&h](int yields) {
        if (yields == 1)
            h.Run->Stop();
    };
    EXPECT_EQ(h.Run->Start(Names(4)), BatchOutcome::Stopped);
    EXPECT_EQ(h.Processed.size(), 1u);
    EXPECT_EQ(h.Run->Caption(), QString("Stopped after 1 of 4 images (1 written)"));
}

TEST(BatchRun, StopWhileIdleDoesNotCutTheNextRunShort)
{
    Harness h;
    h.Run->Stop();
    EXPECT_EQ(h.Run->Start(Names(3)), BatchOutcome::Completed);
    EXPECT_EQ(h.Processed.size(), 3u);
}

TEST(BatchRun, SettingsChangedDuringARunApplyFromTheNextImage)
{
    Harness h;
    h.OnYield = [&h](int yields) {
        if (yields == 2)
            h.Settings.Settings().OutputFormat = 4;
    };
    h.Run->Start(Names(4));
    ASSERT_EQ(h.Processed.size(), 4u);
    EXPECT_EQ(h.Processed[0].OutputFormat, kOutputFormatJpeg);
    EXPECT_EQ(h.Processed[1].OutputFormat, kOutputFormatJpeg);
    EXPECT_EQ(h.Processed[2].OutputFormat, 4);
    EXPECT_EQ(h.Processed[3].OutputFormat, 4);
}

TEST(BatchRun, FailuresAreCountedAndNamed)
{
    Harness h;
    h.FailingNames = {"img3.jpg"};
    EXPECT_EQ(h.Run->Start(Names(5)), BatchOutcome::Completed);
    EXPECT_EQ(h.Run->Caption(), QString("Completed 4 of 5 images (1 failed)"));
    EXPECT_EQ(h.Run->WrittenCount(), 4);
    EXPECT_EQ(h.Run->FailedCount(), 1);
    EXPECT_EQ(h.Run->FailureReport(), QString("img3.jpg: cannot be read"));
    ASSERT_EQ(h.Run->Results().size(), 5u);
    EXPECT_FALSE(h.Run->Results()[2].Written);
}

TEST(BatchRun, CompletionCaptions)
{
    EXPECT_EQ(CompletionCaption(0, 0), QString("Completed 0 of 0 images"));
    EXPECT_EQ(CompletionCaption(7, 7), QString("Completed 7 of 7 images"));
    EXPECT_EQ(CompletionCaption(0, 3), QString("Completed 0 of 3 images (3 failed)"));
    EXPECT_EQ(CompletionCaption(3, 250, 247), QString("Completed 3 of 250 images (247 up to date)"));
    EXPECT_EQ(CompletionCaption(2, 250, 247),
              QString("Completed 2 of 250 images (1 failed, 247 up to date)"));
    EXPECT_EQ(StoppedCaption(4, 250, 3, 0), QString("Stopped after 4 of 250 images (3 written, 1 failed)"));
    EXPECT_EQ(StoppedCaption(0, 9, 0, 0), QString("Stopped after 0 of 9 images (0 written)"));
    EXPECT_EQ(StoppedCaption(12, 30, 2, 10),
              QString("Stopped after 12 of 30 images (2 written, 10 up to date)"));
}

TEST(BatchRun, EmptyDestinationIsRefused)
{
    Harness h;
    h.Settings.Settings().DestinationFolder = "   ";
    EXPECT_EQ(h.Run->Start(Names(2)), BatchOutcome::Refused);
    EXPECT_EQ(h.Run->Caption(), QString("Choose a destination folder"));
    EXPECT_TRUE(h.Processed.empty());
    EXPECT_TRUE(h.Progress.empty());
    EXPECT_EQ(QDir(h.Root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST(BatchRun, DestinationIsCreatedOneLevelOnly)
{
    Harness h;
    h.Settings.Settings().DestinationFolder = h.Root.filePath("missing/thumbs");
    EXPECT_EQ(h.Run->Start(Names(2)), BatchOutcome::Refused);
    EXPECT_EQ(h.Run->Caption(), QString("Cannot create the destination folder (No such file or directory)"));
    EXPECT_TRUE(h.Processed.empty());
    EXPECT_FALSE(QFileInfo::exists(h.Root.filePath("missing")));
}

TEST(BatchRun, SecondStartDuringARunIsRefused)
{
    Harness h;
    BatchOutcome inner = BatchOutcome::Completed;
    h.OnYield = [&h, &inner](int yields) {
        if (yields == 1)
            inner = h.Run->Start(Names(9));
    };
    EXPECT_EQ(h.Run->Start(Names(3)), BatchOutcome::Completed);
    EXPECT_EQ(inner, BatchOutcome::Refused);
    EXPECT_EQ(h.Processed.size(), 3u);
    EXPECT_EQ(h.Run->Caption(), QString("Completed 3 of 3 images"));
}

TEST(BatchRun, StartWhileAStoppedRunResetsItsProgressIsRefused)
{
    Harness h;
    std::vector<BatchOutcome> inner;
    h.Run = std::make_unique<BatchRun>(
        h.Settings,
        std::make_shared<ImageStep>([&h](const QString& name, const JobSettings& settings, const QSet<QString>&) {
            h.Processed.push_back({name, settings.OutputFormat});
            h.Run->Stop();
            return ImageResult{name, "/out/" + name, true, {}};
        }),
        BatchCallbacks{[&h, &inner](int value, int max) {
                           if (value == 0 && max == 2 && !h.Processed.empty())
                               inner.push_back(h.Run->Start(Names(2)));
                       },
                       {}, {}, {}});
    EXPECT_EQ(h.Run->Start(Names(2)), BatchOutcome::Stopped);
    EXPECT_EQ(inner, std::vector<BatchOutcome>{BatchOutcome::Refused});
    EXPECT_EQ(h.Processed.size(), 1u);
}

TEST(BatchRun, AbandonedRunTouchesNothingAfterwards)
{
    Harness h;
    h.OnYield = [&h](int yields) {
        if (yields == 2)
            h.Run->Abandon();
    };
    const auto before = h.Progress.size();
    EXPECT_EQ(h.Run->Start(Names(5)), BatchOutcome::Abandoned);
    EXPECT_EQ(h.Processed.size(), 2u);
    EXPECT_EQ(h.Progress.size(), before + 3); // (0,5), (1,5), (2,5): no reset afterwards
    EXPECT_EQ(h.Captions.back(), QString("Processing 2 of 5"));
    EXPECT_EQ(h.Completions, 0);
    EXPECT_EQ(h.Settings.Reads, 3);
    EXPECT_FALSE(h.Run->IsRunning());
    EXPECT_EQ(h.Run->Start(Names(1)), BatchOutcome::Completed);
}

TEST(BatchRun, OwnerDestroyedInsideACallback)
{
    // The window closes (and its run goes) while the run yields; the run
    // must leave without using the destroyed object. AddressSanitizer builds
    // catch any use after free here.
    Harness h;
    int callbacksAfter = 0;
    bool destroyed = false;
    h.OnYield = [&](int yields) {
        if (yields == 1) {
            h.Run.reset();
            destroyed = true;
        }
    };
    h.DuringImage = [&](int) { callbacksAfter += destroyed ? 1 : 0; };
    BatchRun* run = h.Run.get();
    EXPECT_EQ(run->Start(Names(3)), BatchOutcome::Abandoned);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(callbacksAfter, 0);
    EXPECT_EQ(h.Processed.size(), 1u);
    EXPECT_EQ(h.Captions.back(), QString("Processing 1 of 3"));
}

} // namespace
} // namespace pixquill
