// Whole runs on image files drawn by the test, through the real codec.

#include <atomic>
#include <cstdint>
#include <ostream>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include "codec/Surface.h"
#include "engine/BatchEngine.h"
#include "engine/ProcessImage.h"
#include "tests/support/Folders.h"
#include "tests/support/HeldImages.h"
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
    SettingsSnapshot Settings;
    BatchPlan Plan;
    BatchReport Report;

    explicit Runner(const JobSettings& settings) : Settings(settings) {}
    BatchReport& Start(const QStringList& names, const CommitHandler& committed = {})
    {
        EXPECT_TRUE(PrepareDestination(Settings.Current().Settings));
        Plan.Names = names;
        Report = RunBatch(Plan, Settings, committed);
        return Report;
    }
    QString Caption() const
    {
        const int total = static_cast<int>(Plan.Names.size());
        return Report.Stopped ? Report.Tally.StoppedCaption(total) : Report.Tally.CompletionCaption(total);
    }
};

TEST(BatchFiles, HolidayPhotoBecomesAPngNamedByItsFirstPart)
{
    Folders f;
    f.Draw("holiday.photo.jpg", test::GradientImage(400, 300), "JPG");
    JobSettings settings = SettingsFor(f);
    settings.OutputFormat = 4;
    Runner r(settings);
    EXPECT_FALSE(r.Start({"holiday.photo.jpg"}).Stopped);
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
    r.Plan.Jobs = 3;
    r.Start({"a.png", "b.png", "c.png", "d.png", "e.png"});
    EXPECT_EQ(r.Caption(), QString("Completed 4 of 5 images (1 failed)"));
    EXPECT_EQ(f.Written(), QStringList({"_THa.jpg", "_THb.jpg", "_THd.jpg", "_THe.jpg"}));
    const QString report = FailureReport(r.Report.Results);
    EXPECT_TRUE(report.startsWith("c.png: ")) << report.toStdString();
    EXPECT_GT(report.size(), QString("c.png: ").size());
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

// Five images, four made at once: images 3 and 4 are made ahead while image
// 2 is in hand, and what happens while image 2 is in hand (after image 1 is
// committed) is what the table's case does.
struct AheadCase {
    const char* What;
    bool Stop;      // Stop pressed, else the prefix changed
    QStringList Files; // in the destination, hidden ones included
};

std::ostream& operator<<(std::ostream& os, const AheadCase& c)
{
    return os << c.What;
}

class MadeAhead : public ::testing::TestWithParam<AheadCase> {};

TEST_P(MadeAhead, WhatHappensDuringImageTwoAppliesFromImageThree)
{
    const AheadCase& c = GetParam();
    Folders f;
    QStringList names;
    for (int i = 1; i <= 5; ++i) {
        names.append(QStringLiteral("p%1.png").arg(i));
        f.Draw(names.back(), test::GradientImage(60 + i, 40));
    }
    JobSettings settings = SettingsFor(f);
    settings.Prefix = "A_";
    Runner r(settings);
    std::atomic<bool> stop{false};
    r.Plan.Jobs = 4;
    r.Plan.Stop = &stop;
    test::HeldImages held;
    r.Plan.WrapMaker = held.Wrapper();
    r.Start(names, [&](const ImageResult&, int done, int) {
        if (done != 1)
            return;
        held.WaitFor({"p3.png@A_", "p4.png@A_"});
        if (c.Stop) {
            stop = true;
        } else {
            settings.Prefix = "B_";
            r.Settings.Set(settings);
        }
    });
    EXPECT_EQ(QDir(f.Destination).entryList(QDir::Files | QDir::Hidden, QDir::Name), c.Files);
    EXPECT_EQ(r.Report.Stopped, c.Stop);
    EXPECT_EQ(r.Caption(), c.Stop ? QString("Stopped after 2 of 5 images (2 written)")
                                  : QString("Completed 5 of 5 images"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MadeAhead,
    ::testing::Values(AheadCase{"Stop: two thumbnails, nothing made ahead left", true,
                                {"A_p1.jpg", "A_p2.jpg"}},
                      AheadCase{"prefix changed: images made ahead are made again", false,
                                {"A_p1.jpg", "A_p2.jpg", "B_p3.jpg", "B_p4.jpg", "B_p5.jpg"}}));

TEST(BatchFiles, SameOutputNameTheSecondWinsAndTheFirstSaysSo)
{
    Folders f;
    f.Draw("a.jpg", Solid(64, 48, Qt::red), "JPG");
    f.Draw("a.png", Solid(64, 48, Qt::blue));
    Runner r(SettingsFor(f));
    r.Plan.Jobs = 2;
    r.Start({"a.jpg", "a.png"});
    EXPECT_EQ(r.Caption(), QString("Completed 1 of 2 images (1 failed)"));
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
    r.Start({"a.png", "b.jpg", "b.png"});
    EXPECT_EQ(test::ReadFileBytes(f.Source + "/a.png"), a);
    EXPECT_EQ(test::ReadFileBytes(f.Source + "/b.png"), b);
    EXPECT_EQ(r.Caption(), QString("Completed 0 of 3 images (3 failed)"));
    ASSERT_EQ(r.Report.Results.size(), 3u);
    EXPECT_EQ(r.Report.Results[0].Reason, QString("would overwrite the source image"));
    EXPECT_EQ(r.Report.Results[1].Reason, QString("would overwrite the source image b.png"));
    EXPECT_EQ(r.Report.Results[2].Reason, QString("would overwrite the source image"));
}

// Three bands across the long side (red, green, blue), each box in a shape
// whose middle crop is the green band exactly: the whole thumbnail is green
// (a distorted one would show red and blue at its ends) and exactly the box.
struct FillCase {
    QSize Picture;
    QSize Box;
    bool Reduced; // a JPEG large enough for --fast's reduced decode
};

class FillAndCrop : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillAndCrop, GivesTheBoxFromTheMiddle)
{
    const FillCase& c = GetParam();
    Folders f;
    QImage bands(c.Picture, QImage::Format_RGB32);
    const bool wide = c.Picture.width() >= c.Picture.height();
    const int across = wide ? c.Picture.width() : c.Picture.height();
    for (int y = 0; y < bands.height(); ++y) {
        for (int x = 0; x < bands.width(); ++x) {
            const int band = 3 * (wide ? x : y) / across;
            bands.setPixel(x, y, band == 0 ? qRgb(220, 0, 0) : band == 1 ? qRgb(0, 200, 0) : qRgb(0, 0, 220));
        }
    }
    f.Draw("bands.jpg", bands, "JPG");
    QDir().mkdir(f.Destination);
    JobSettings settings = SettingsFor(f);
    settings.ResizeMode = kResizeFill;
    settings.WidthText = QString::number(c.Box.width());
    settings.HeightText = QString::number(c.Box.height());
    settings.OutputFormat = 4; // PNG
    settings.FastDecode = c.Reduced;
    Surface picLoad;
    Surface picThumb;
    const ImageResult result = ProcessImage("bands.jpg", settings, picLoad, picThumb);
    ASSERT_TRUE(result.Written) << result.Reason.toStdString();
    EXPECT_EQ(QSize(result.SourceWidth, result.SourceHeight), c.Picture);
    const QImage thumb(f.Destination + "/_THbands.png");
    ASSERT_EQ(thumb.size(), c.Box);
    for (const QPoint at : {QPoint(2, 2), QPoint(c.Box.width() / 2, c.Box.height() / 2),
                            QPoint(c.Box.width() - 3, c.Box.height() - 3)})
        EXPECT_LE(test::ColourDistance(thumb.pixel(at), qRgb(0, 200, 0)), 40) << at.x() << "," << at.y();
}

INSTANTIATE_TEST_SUITE_P(Table, FillAndCrop,
                         ::testing::Values(FillCase{{900, 300}, {100, 100}, false},
                                           FillCase{{300, 900}, {100, 100}, false},
                                           FillCase{{900, 600}, {100, 200}, false},
                                           FillCase{{2400, 1600}, {60, 120}, true}));

// A busy photo-like third at one end of the long side, the rest flat grey:
// the attention crop keeps the busy part, the centred one the grey middle.
struct AttentionCase {
    QSize Picture;
    int Crop;
    bool KeepsTheBusyPart;
};

class FillCrops : public ::testing::TestWithParam<AttentionCase> {};

TEST_P(FillCrops, AttentionKeepsTheBusyPart)
{
    const AttentionCase& c = GetParam();
    Folders f;
    QImage picture(c.Picture, QImage::Format_RGB32);
    picture.fill(qRgb(128, 128, 128));
    const bool wide = c.Picture.width() > c.Picture.height();
    const int busy = (wide ? c.Picture.width() : c.Picture.height()) / 3;
    std::uint32_t seed = 12345;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if ((wide ? x : picture.height() - 1 - y) >= busy) // the left, or the bottom
                continue;
            seed = seed * 1664525u + 1013904223u;
            picture.setPixel(x, y, qRgb(int(seed >> 24), int((seed >> 16) & 0xFF), int((seed >> 8) & 0xFF)));
        }
    }
    f.Draw("scene.png", picture);
    QDir().mkdir(f.Destination);
    JobSettings settings = SettingsFor(f);
    settings.ResizeMode = kResizeFill;
    settings.Crop = c.Crop;
    settings.OutputFormat = 4; // PNG
    Surface picLoad;
    Surface picThumb;
    ASSERT_TRUE(ProcessImage("scene.png", settings, picLoad, picThumb).Written);
    const QImage thumb(f.Destination + "/_THscene.png");
    ASSERT_EQ(thumb.size(), QSize(100, 100));
    int grey = 0;
    for (int y = 0; y < thumb.height(); ++y) {
        for (int x = 0; x < thumb.width(); ++x)
            grey += test::ColourDistance(thumb.pixel(x, y), qRgb(128, 128, 128)) <= 6 ? 1 : 0;
    }
    if (c.KeepsTheBusyPart)
        EXPECT_LT(grey, 100 * 100 / 10);
    else
        EXPECT_GT(grey, 100 * 100 * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(Table, FillCrops,
                         ::testing::Values(AttentionCase{{900, 300}, kCropCentre, false},
                                           AttentionCase{{900, 300}, kCropAttention, true},
                                           AttentionCase{{300, 900}, kCropCentre, false},
                                           AttentionCase{{300, 900}, kCropAttention, true}));

TEST(BatchFiles, Captions)
{
    EXPECT_EQ(CompletionCaption(0, 0), QString("Completed 0 of 0 images"));
    EXPECT_EQ(CompletionCaption(0, 3), QString("Completed 0 of 3 images (3 failed)"));
    EXPECT_EQ(CompletionCaption(2, 250, 247), QString("Completed 2 of 250 images (1 failed, 247 up to date)"));
    EXPECT_EQ(StoppedCaption(4, 250, 3, 0), QString("Stopped after 4 of 250 images (3 written, 1 failed)"));
    EXPECT_EQ(StoppedCaption(12, 30, 2, 10), QString("Stopped after 12 of 30 images (2 written, 10 up to date)"));
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
