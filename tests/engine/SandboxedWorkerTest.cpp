// A locked-down decode worker makes what this process makes: every input
// format and every broken or hostile file the tests know comes out of a
// worker (which opens nothing by name and is handed its files) written with
// the same bytes or refused with the same reason as in process.
//
// The output formats through a locked-down worker: BatchCli's EveryFormat.

#include <tuple>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include "codec/Surface.h"
#include "engine/OptionTables.h"
#include "engine/ProcessImage.h"
#include "engine/WorkerProcess.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/Folders.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestDng.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

struct InputSet {
    const char* Name;
    const char* DataFolder; // under tests/data; null: the broken inputs, made here
    bool Fast;
    bool CameraRaw = false; // DNGs made here instead, each of which must be written
};

void PrintTo(const InputSet& set, std::ostream* os)
{
    *os << set.Name;
}

// Fills the source folder; the names it holds.
QStringList MakeInputs(const InputSet& set, const QString& source)
{
    if (set.CameraRaw) {
        // LibRaw's three roads: the preview, the half-size and the full
        // rendering of the raw data.
        QStringList names;
        for (const auto& [name, size, preview] : {std::tuple{"preview.dng", QSize(600, 400), QSize(300, 200)},
                                                  std::tuple{"half.dng", QSize(600, 400), QSize()},
                                                  std::tuple{"full.dng", QSize(150, 100), QSize(50, 33)}}) {
            test::DngRecipe recipe;
            recipe.Picture = test::GradientImage(size.width(), size.height());
            recipe.Orientation = 6;
            recipe.PreviewSize = preview;
            QFile file(source + QLatin1Char('/') + QLatin1String(name));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(test::MakeDng(recipe)) > 0);
            names << QLatin1String(name);
        }
        return names;
    }
    if (!set.DataFolder) {
        QStringList names;
        for (const test::BrokenInput& input : test::MakeBrokenInputs(source, test::BrokenInputs()))
            names << input.Name;
        return names;
    }
    const QDir data(QStringLiteral(PIXQUILL_TEST_DATA_DIR "/") + QLatin1String(set.DataFolder));
    QStringList names;
    for (const QString& name : data.entryList(QDir::Files, QDir::Name)) {
        if (name.startsWith(QLatin1String("README")))
            continue;
        EXPECT_TRUE(QFile::copy(data.filePath(name), source + QLatin1Char('/') + name));
        names << name;
    }
    return names;
}

class SandboxedWorker : public ::testing::TestWithParam<InputSet> {};

TEST_P(SandboxedWorker, WritesTheSameBytesOrGivesTheSameReasonAsInProcess)
{
    // Where there is no lock-down (a sanitizer build) the files are handed
    // over all the same, and that is what is checked then.
    test::Folders f;
    const QStringList names = MakeInputs(GetParam(), f.Source);
    ASSERT_FALSE(names.isEmpty());
    JobSettings settings;
    settings.SourceFolder = f.Source;
    settings.WidthText = QStringLiteral("96");
    settings.HeightText = QStringLiteral("64");
    settings.ResizeMode = kResizeMaintainAspect;
    settings.OutputFormat = 4; // PNG
    settings.FastDecode = GetParam().Fast;
    JobSettings here = settings;
    here.DestinationFolder = f.Root.filePath(QStringLiteral("here"));
    settings.DestinationFolder = f.Destination;
    ASSERT_TRUE(QDir().mkpath(here.DestinationFolder));
    ASSERT_TRUE(QDir().mkpath(settings.DestinationFolder));
    const QSet<QString> listed(names.begin(), names.end());

    WorkerProcess worker({QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}, 60}, WorkerJob{settings, listed});
    Surface picLoad;
    Surface picThumb;
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const ImageResult inProcess = ProcessImage(name, here, picLoad, picThumb, listed);
        const ImageResult inWorker = CommitImage(worker.Make(name)).front();
        ASSERT_EQ(inWorker.Written, inProcess.Written) << inWorker.Reason.toStdString();
        if (GetParam().CameraRaw) {
            EXPECT_TRUE(inWorker.Written) << inWorker.Reason.toStdString();
        }
        // A worker adds what the libraries printed to the reason.
        EXPECT_TRUE(inWorker.Reason.startsWith(inProcess.Reason)) << inWorker.Reason.toStdString();
        EXPECT_EQ(inWorker.ThumbnailBytes, inProcess.ThumbnailBytes);
        if (inProcess.Written) {
            EXPECT_EQ(test::ReadFileBytes(inWorker.OutputPath), test::ReadFileBytes(inProcess.OutputPath));
        }
    }
    EXPECT_EQ(worker.Starts(), 1); // no file crashed it
    EXPECT_TRUE(worker.Finish());
    // Nothing but the thumbnails: no temporary file is left behind.
    EXPECT_EQ(f.Written(), f.Written(here.DestinationFolder));
}

INSTANTIATE_TEST_SUITE_P(Inputs, SandboxedWorker,
                         ::testing::Values(InputSet{"EveryFormat", "fuzz-seeds", false},
                                           InputSet{"EveryFormatFast", "fuzz-seeds", true},
                                           InputSet{"FuzzFindings", "fuzz-regressions", false},
                                           InputSet{"RealFiles", "real", false},
                                           InputSet{"Broken", nullptr, false},
                                           InputSet{"CameraRaw", nullptr, false, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
