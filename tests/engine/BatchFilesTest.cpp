// Whole runs on image files drawn by the test, through the real codec.

#include <ostream>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include "codec/Surface.h"
#include "engine/BatchRun.h"
#include "engine/ProcessImage.h"
#include "tests/support/Folders.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

QImage Solid(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

using test::Folders;

JobSettings SettingsFor(const Folders& f)
{
    JobSettings settings;
    settings.SourceFolder = f.Source;
    settings.DestinationFolder = f.Destination;
    return settings;
}

struct Runner {
    Surface PicLoad;
    Surface PicThumb;
    FixedBatchSettings Settings;
    BatchCallbacks Callbacks;
    std::unique_ptr<BatchRun> Run;

    explicit Runner(JobSettings settings) : Settings(std::move(settings)) {}
    BatchOutcome Start(const QStringList& names)
    {
        Run = std::make_unique<BatchRun>(Settings, std::make_shared<ImageStep>(PicLoad, PicThumb), Callbacks);
        return Run->Start(names);
    }
};

TEST(BatchFiles, HolidayPhotoBecomesAPngNamedByItsFirstPart)
{
    Folders f;
    f.Draw("holiday.photo.jpg", test::GradientImage(400, 300), "JPG");
    JobSettings settings = SettingsFor(f);
    settings.OutputFormat = 4;
    Runner r(settings);
    EXPECT_EQ(r.Start({"holiday.photo.jpg"}), BatchOutcome::Completed);
    EXPECT_EQ(f.Written(), QStringList({"_THholiday.png"}));
    const QImage thumb(f.Destination + "/_THholiday.png");
    EXPECT_EQ(thumb.size(), QSize(100, 75));
    EXPECT_EQ(QByteArray(test::ReadFileBytes(f.Destination + "/_THholiday.png").left(4)),
              QByteArray("\x89PNG"));
}

TEST(BatchFiles, UndecodableFileAmongGoodOnesIsSkippedAndNamed)
{
    Folders f;
    f.Draw("a.png", test::GradientImage(120, 90));
    f.Draw("b.png", test::QuadrantImage(90, 120));
    f.Garbage("c.png");
    f.Draw("d.png", test::GradientImage(64, 64));
    f.Draw("e.png", test::QuadrantImage(300, 10));
    Runner r(SettingsFor(f));
    EXPECT_EQ(r.Start({"a.png", "b.png", "c.png", "d.png", "e.png"}), BatchOutcome::Completed);
    EXPECT_EQ(r.Run->Caption(), QString("Completed 4 of 5 images (1 failed)"));
    EXPECT_EQ(f.Written(), QStringList({"_THa.jpg", "_THb.jpg", "_THd.jpg", "_THe.jpg"}));
    EXPECT_TRUE(r.Run->FailureReport().startsWith("c.png: ")) << r.Run->FailureReport().toStdString();
    EXPECT_GT(r.Run->FailureReport().size(), QString("c.png: ").size());
}

TEST(BatchFiles, FailedLoadNeverRendersThePreviousImage)
{
    Folders f;
    f.Draw("first.png", Solid(50, 50, Qt::red));
    f.Garbage("second.png");
    Runner r(SettingsFor(f));
    r.Start({"first.png", "second.png"});
    EXPECT_EQ(f.Written(), QStringList({"_THfirst.jpg"}));
}

TEST(BatchFiles, StopDuringTheSecondOfFiveLeavesTwoFiles)
{
    Folders f;
    QStringList names;
    for (int i = 1; i <= 5; ++i) {
        names.append(QStringLiteral("p%1.png").arg(i));
        f.Draw(names.back(), test::GradientImage(60 + i, 40));
    }
    Runner r(SettingsFor(f));
    // Stop pressed while image 2 is in hand: requested from inside its step,
    // when that image's settings are read.
    class StopOnSecondRead : public BatchSettings {
    public:
        StopOnSecondRead(JobSettings s, Runner& r) : m_s(std::move(s)), m_r(r) {}
        JobSettings ReadJobSettings() override
        {
            if (++m_reads == 3) // Start, image 1, image 2
                m_r.Run->Stop();
            return m_s;
        }
    private:
        JobSettings m_s;
        Runner& m_r;
        int m_reads = 0;
    } settings(SettingsFor(f), r);
    r.Run = std::make_unique<BatchRun>(settings, std::make_shared<ImageStep>(r.PicLoad, r.PicThumb));
    EXPECT_EQ(r.Run->Start(names), BatchOutcome::Stopped);
    EXPECT_EQ(r.Run->Caption(), QString("Stopped after 2 of 5 images (2 written)"));
    EXPECT_EQ(f.Written(), QStringList({"_THp1.jpg", "_THp2.jpg"}));
}

TEST(BatchFiles, FormatChangedBetweenImagesChangesOnlyWhatFollows)
{
    Folders f;
    for (const char* name : {"a.png", "b.png", "c.png"})
        f.Draw(name, test::GradientImage(80, 60));
    Runner r(SettingsFor(f));
    r.Callbacks.Yield = [&r] { r.Settings.Settings().OutputFormat = 0; };
    r.Start({"a.png", "b.png", "c.png"});
    EXPECT_EQ(f.Written(), QStringList({"_THa.jpg", "_THb.bmp", "_THc.bmp"}));
    EXPECT_EQ(test::ReadFileBytes(f.Destination + "/_THa.jpg").left(2), QByteArray("\xFF\xD8"));
    EXPECT_EQ(test::ReadFileBytes(f.Destination + "/_THb.bmp").left(2), QByteArray("BM"));
}

TEST(BatchFiles, SameOutputNameTheSecondWins)
{
    Folders f;
    f.Draw("a.jpg", Solid(64, 48, Qt::red), "JPG");
    f.Draw("a.png", Solid(64, 48, Qt::blue));
    Runner r(SettingsFor(f));
    EXPECT_EQ(r.Start({"a.jpg", "a.png"}), BatchOutcome::Completed);
    EXPECT_EQ(r.Run->Caption(), QString("Completed 2 of 2 images"));
    EXPECT_EQ(f.Written(), QStringList({"_THa.jpg"}));
    const QImage thumb(f.Destination + "/_THa.jpg");
    EXPECT_LE(test::ColourDistance(thumb.pixel(10, 10), qRgb(0, 0, 255)), 12);
}

TEST(BatchFiles, EmptyPrefixStartsWithTheBaseName)
{
    Folders f;
    f.Draw("x.y.png", test::GradientImage(30, 30));
    JobSettings settings = SettingsFor(f);
    settings.Prefix = "  ";
    Runner r(settings);
    r.Start({"x.y.png"});
    EXPECT_EQ(f.Written(), QStringList({"x.jpg"}));
}

TEST(BatchFiles, SourceFolderAsDestinationNeverOverwritesOriginals)
{
    Folders f;
    f.Draw("a.png", test::GradientImage(300, 200));
    f.Draw("b.png", test::QuadrantImage(300, 200));
    f.Draw("b.jpg", test::QuadrantImage(200, 300), "JPG");
    const QByteArray a = test::ReadFileBytes(f.Source + "/a.png");
    const QByteArray b = test::ReadFileBytes(f.Source + "/b.png");
    JobSettings settings = SettingsFor(f);
    settings.DestinationFolder = f.Source + "/";
    settings.Prefix = "";
    settings.OutputFormat = 4;
    Runner r(settings);
    EXPECT_EQ(r.Start({"a.png", "b.jpg", "b.png"}), BatchOutcome::Completed);
    EXPECT_EQ(test::ReadFileBytes(f.Source + "/a.png"), a);
    EXPECT_EQ(test::ReadFileBytes(f.Source + "/b.png"), b);
    EXPECT_EQ(r.Run->Caption(), QString("Completed 0 of 3 images (3 failed)"));
    EXPECT_EQ(r.Run->Results()[0].Reason, QString("would overwrite the source image"));
    EXPECT_EQ(r.Run->Results()[1].Reason, QString("would overwrite the source image b.png"));
    EXPECT_EQ(r.Run->Results()[2].Reason, QString("would overwrite the source image"));
}

struct RefusalCase {
    const char* What;
    int Mode;
    const char* Width;
    const char* Height;
    int Format;
    const char* Reason; // empty: written
};

std::ostream& operator<<(std::ostream& os, const RefusalCase& c)
{
    return os << c.What;
}

class PerImageRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PerImageRefusals, SayWhy)
{
    const RefusalCase& c = GetParam();
    Folders f;
    f.Draw("pic.png", test::GradientImage(80, 60));
    QDir().mkdir(f.Destination);
    JobSettings settings = SettingsFor(f);
    settings.ResizeMode = c.Mode;
    settings.WidthText = c.Width;
    settings.HeightText = c.Height;
    settings.OutputFormat = c.Format;
    Surface picLoad;
    Surface picThumb;
    const ImageResult result = ProcessImage("pic.png", settings, picLoad, picThumb);
    EXPECT_EQ(result.Reason, QString::fromUtf8(c.Reason)) << c.What;
    EXPECT_EQ(result.Written, QString(c.Reason).isEmpty()) << c.What;
    EXPECT_EQ(f.Written().size(), result.Written ? 1 : 0) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PerImageRefusals,
    ::testing::Values(
        RefusalCase{"width not a number", kResizeMaintainAspect, "abc", "100", 3,
                    "width \"abc\" is not a number"},
        RefusalCase{"height empty", kResizeExact, "10", " ", 3, "height is empty"},
        RefusalCase{"height unused in percent mode", kResizePercent, "50", "abc", 3, ""},
        RefusalCase{"sizes unused in convert mode", kResizeNone, "x", "y", 3, ""},
        RefusalCase{"percentage of zero", kResizePercent, "0", "100", 3,
                    "thumbnail would be 0 × 0 pixels"},
        RefusalCase{"negative height", kResizeExact, "20", "-4", 3,
                    "thumbnail would be 20 × -4 pixels"},
        RefusalCase{"no output format", kResizeMaintainAspect, "100", "100", -1,
                    "no output format selected"},
        RefusalCase{"width out of range", kResizeExact, "3e9", "10", 3,
                    "width \"3e9\" is out of range"}));

} // namespace
} // namespace pixquill
