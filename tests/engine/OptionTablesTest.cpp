#include <algorithm>
#include <cstdint>
#include <ostream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "codec/RawDecoder.h"
#include "engine/FolderListing.h"
#include "engine/OptionTables.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

TEST(FileMasks, ListHasItsEntriesInOrder)
{
    const auto& masks = FileMasks();
    EXPECT_STREQ(masks[0].Text, "All Supported Formats");
    EXPECT_STREQ(masks[9].Text, "JPEG - JFIF Compliant(*.jpg,*.jpeg,*.jif,*.jfif)");
    EXPECT_STREQ(masks[9].Mask, "*.jpg;*.jpeg;*.jif;*.jfif");
    EXPECT_STREQ(masks[23].Mask, "*.tif;*.tiff");
    EXPECT_STREQ(masks[27].Text, "X PIxMap Format definition(*.xpm)");
    EXPECT_STREQ(masks[28].Text, "All Files(*.*)");
    EXPECT_STREQ(masks[28].Mask, "*.*");
    // Every single-type entry's text names its own patterns.
    for (int i = 1; i < kFileMaskCount; ++i) {
        if (i == kFileMaskAllReadable)
            continue;
        const QString text = QString::fromLatin1(masks[static_cast<std::size_t>(i)].Text);
        const QString first = FileMaskAt(i)->split(u';').first().mid(1);
        EXPECT_TRUE(text.contains(first)) << i;
    }
    EXPECT_FALSE(FileMaskAt(-1).has_value());
    EXPECT_FALSE(FileMaskAt(kFileMaskCount).has_value());
}

TEST(FileMasks, AllReadableHoldsEveryOtherEntrysPatterns)
{
    const QStringList all = FileMaskAt(kFileMaskAllReadable)->split(u';');
    for (int i = 0; i < kFileMaskCount; ++i) {
        if (i == kFileMaskAllFiles)
            continue;
        for (const QString& pattern : FileMaskAt(i)->split(u';'))
            EXPECT_TRUE(all.contains(pattern)) << pattern.toStdString() << " of entry " << i;
    }
    EXPECT_EQ(all.size(), QSet<QString>(all.begin(), all.end()).size()) << "a pattern twice";
}

// The Camera RAW entry names only what the camera RAW decoder takes by name.
TEST(FileMasks, CameraRawListsTheRawDecodersExtensions)
{
    const std::span<const std::string_view> known = RawExtensions();
    for (const QString& pattern : FileMaskAt(kFileMaskCameraRaw)->split(u';')) {
        const std::string extension = pattern.mid(2).toStdString();
        EXPECT_NE(std::find(known.begin(), known.end(), extension), known.end()) << pattern.toStdString();
    }
}

TEST(FileMasks, AllSupportedIsNotTheUnionOfTheOthers)
{
    const QString all = *FileMaskAt(kFileMaskAllSupported);
    EXPECT_EQ(all.split(u';').size(), 29);
    for (const char* extra : {"*.iff", "*.jif", "*.tiff"})
        EXPECT_TRUE(all.split(u';').contains(QString::fromLatin1(extra))) << extra;
    for (const char* missing : {"*.jpeg", "*.jfif", "*.gg", "*.tif"})
        EXPECT_FALSE(all.split(u';').contains(QString::fromLatin1(missing))) << missing;
}

struct MaskCase {
    const char* Name;
    int MaskIndex;
    bool Listed;
};

std::ostream& operator<<(std::ostream& os, const MaskCase& c)
{
    return os << c.Name << " with mask " << c.MaskIndex;
}

class MaskMatching : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskMatching, ListsWhatTheMaskNames)
{
    const MaskCase& c = GetParam();
    EXPECT_EQ(MatchesMask(QString::fromUtf8(c.Name), *FileMaskAt(c.MaskIndex)), c.Listed)
        << c.Name << " with mask " << c.MaskIndex;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MaskMatching,
    ::testing::Values(MaskCase{"a.tif", kFileMaskAllSupported, false},
                      MaskCase{"a.tiff", kFileMaskAllSupported, true},
                      MaskCase{"a.tif", 23, true}, MaskCase{"a.tiff", 23, true},
                      MaskCase{"PHOTO.JPG", kFileMaskAllSupported, true},
                      MaskCase{"photo.Jpeg", 9, true},
                      MaskCase{"photo.jpeg", kFileMaskAllSupported, false},
                      MaskCase{"photo.jpg.txt", kFileMaskAllSupported, false},
                      MaskCase{"jpg", kFileMaskAllSupported, false},
                      MaskCase{".png", 17, true},
                      MaskCase{"archive.png.bak", 17, false},
                      MaskCase{"README", kFileMaskAllFiles, true},
                      MaskCase{"a.b.c", kFileMaskAllFiles, true},
                      MaskCase{"Ünïcödé.BMP", 1, true},
                      MaskCase{"x.bmpx", 1, false},
                      MaskCase{"IMG_0001.HEIC", kFileMaskTodaysPhotos, true},
                      MaskCase{"a.webp", kFileMaskAllSupported, false},
                      MaskCase{"a.avif", kFileMaskAllReadable, true},
                      MaskCase{"a.jpeg", kFileMaskAllReadable, true},
                      MaskCase{"notes.txt", kFileMaskAllReadable, false},
                      MaskCase{"DSC_0001.NEF", kFileMaskCameraRaw, true},
                      MaskCase{"shot.dng", kFileMaskAllReadable, true},
                      MaskCase{"shot.jpg", kFileMaskCameraRaw, false}));

TEST(MaskMatching, WildcardsAndSeparators)
{
    EXPECT_TRUE(MatchesMask("img_001.png", "img_???.png"));
    EXPECT_FALSE(MatchesMask("img_01.png", "img_???.png"));
    EXPECT_TRUE(MatchesMask("abcabcabd", "*abd"));
    EXPECT_TRUE(MatchesMask("a", "*a*"));
    EXPECT_TRUE(MatchesMask("b.gif", " *.png ; *.gif "));
    EXPECT_FALSE(MatchesMask("b.gif", ""));
    EXPECT_FALSE(MatchesMask("b.gif", ";;"));
    EXPECT_TRUE(MatchesMask("noext", "*.png;*.*"));
}

TEST(MaskMatching, FolderListingIsSortedAndSkipsFoldersAndHiddenFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"b.png", "a.PNG", "c.txt", ".hidden.png", "noext"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    EXPECT_EQ(*ReadFolderListing(dir.path(), "*.png"), QStringList({"a.PNG", "b.png"}));
    EXPECT_EQ(*ReadFolderListing(dir.path(), "*.*"), QStringList({"a.PNG", "b.png", "c.txt", "noext"}));
    EXPECT_FALSE(ReadFolderListing(dir.filePath("missing"), "*.*").Ok());
}

struct FormatCase {
    int Index;
    const char* Text;
    int Code;
    const char* Extension;
};

std::ostream& operator<<(std::ostream& os, const FormatCase& c)
{
    return os << c.Extension;
}

class OutputFormatTable : public ::testing::TestWithParam<FormatCase> {};

TEST_P(OutputFormatTable, IndexGivesCodeAndExtension)
{
    const FormatCase& c = GetParam();
    const auto entry = OutputFormatAt(c.Index);
    ASSERT_TRUE(entry.has_value());
    EXPECT_STREQ(entry->Text, c.Text);
    EXPECT_EQ(entry->FreeImageFormat, c.Code);
    EXPECT_STREQ(entry->Extension, c.Extension);
    EXPECT_EQ(OutputExtensionAt(c.Index), QString::fromLatin1(c.Extension));
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputFormatTable,
    ::testing::Values(
        FormatCase{0, "Windows or OS2 BMP(*.bmp)", 0, ".bmp"},
        FormatCase{1, "Compuserve GIF(*.gif)", 25, ".gif"},
        FormatCase{2, "Icon File(*.ico)", 1, ".ico"},
        FormatCase{3, "JPEG(*.jpg)", 2, ".jpg"},
        FormatCase{4, "Portable Network Graphics(*.png)", 13, ".png"},
        FormatCase{5, "Truevision Targa(*.tga)", 17, ".tga"},
        FormatCase{6, "Tagged Image File Format(*.tif)", 18, ".tif"},
        // Appended; FreeImage writes neither AVIF nor JPEG XL.
        FormatCase{7, "WebP(*.webp)", 35, ".webp"},
        FormatCase{8, "AV1 Image File Format(*.avif)", -1, ".avif"},
        FormatCase{9, "JPEG XL(*.jxl)", -1, ".jxl"}));

TEST(OutputFormatTable, NoSelectedEntryMeansNoExtensionAndNoFormat)
{
    for (int index : {-1, 10, std::numeric_limits<int>::min()}) {
        EXPECT_FALSE(OutputFormatAt(index).has_value()) << index;
        EXPECT_TRUE(OutputExtensionAt(index).isEmpty()) << index;
    }
}

struct FilterCase {
    int Index;
    const char* Text;
    int Code;
};

std::ostream& operator<<(std::ostream& os, const FilterCase& c)
{
    return os << c.Text;
}

class FilterTable : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTable, EntryStoresItsCode)
{
    const FilterCase& c = GetParam();
    EXPECT_STREQ(ResampleFilters()[static_cast<std::size_t>(c.Index)].Text, c.Text);
    EXPECT_EQ(ResampleFilterCodeAt(c.Index), std::optional<int>(c.Code));
}

INSTANTIATE_TEST_SUITE_P(Table, FilterTable,
                         ::testing::Values(FilterCase{0, "None", 6},
                                           FilterCase{1, "B-Spline Filter", 3},
                                           FilterCase{2, "Bicubic Filter", 1},
                                           FilterCase{3, "Bilinear Filter", 2},
                                           FilterCase{4, "Box Filter", 0},
                                           FilterCase{5, "Catmull-Rom Filter", 4},
                                           FilterCase{6, "Lanczos3 Filter", 5}));

TEST(FilterTable, OtherIndexLeavesTheFilterAlone)
{
    EXPECT_FALSE(ResampleFilterCodeAt(-1).has_value());
    EXPECT_FALSE(ResampleFilterCodeAt(7).has_value());
}

// What a window shows after applying the steps of some modes in turn.
struct SizeBoxes {
    std::map<SizeControl, bool> Enabled;
    std::map<SizeControl, OleColor> Colour;
    QString Label2Caption = "Width(Pixels):";
    QString WidthText = "100";
    QString HeightText = "100";

    void Apply(int mode)
    {
        for (const SizeControlStep& step : ResizeModeStepsAt(mode)) {
            switch (step.Kind) {
            case SizeStepKind::Enable: Enabled[step.Control] = true; break;
            case SizeStepKind::Disable: Enabled[step.Control] = false; break;
            case SizeStepKind::WindowColour:
            case SizeStepKind::FaceColour: Colour[step.Control] = ColourOfStep(step.Kind); break;
            case SizeStepKind::SetCaption:
                ASSERT_EQ(step.Control, SizeControl::Label2);
                Label2Caption = QString::fromLatin1(step.Value);
                break;
            case SizeStepKind::SetText:
                ASSERT_EQ(step.Control, SizeControl::Textwid);
                WidthText = QString::fromLatin1(step.Value);
                break;
            }
        }
    }
};

struct ModeCase {
    int Mode;
    const char* Text;
    bool WidthEnabled, HeightEnabled, Label2Enabled, LabelhgtEnabled;
    const char* Caption;
};

std::ostream& operator<<(std::ostream& os, const ModeCase& c)
{
    return os << c.Text;
}

class ResizeModeTable : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ResizeModeTable, StepsLeaveTheBoxesInTheModesState)
{
    const ModeCase& c = GetParam();
    EXPECT_STREQ(ResizeModes()[static_cast<std::size_t>(c.Mode)].Text, c.Text);
    SizeBoxes boxes;
    boxes.WidthText = "640";
    boxes.Apply(c.Mode);
    EXPECT_EQ(boxes.Enabled.at(SizeControl::Textwid), c.WidthEnabled);
    EXPECT_EQ(boxes.Enabled.at(SizeControl::Texthgt), c.HeightEnabled);
    EXPECT_EQ(boxes.Enabled.at(SizeControl::Label2), c.Label2Enabled);
    EXPECT_EQ(boxes.Enabled.at(SizeControl::Labelhgt), c.LabelhgtEnabled);
    EXPECT_EQ(boxes.Colour.at(SizeControl::Textwid),
              c.WidthEnabled ? kSystemWindowBackground : kSystemButtonFace);
    EXPECT_EQ(boxes.Colour.at(SizeControl::Texthgt),
              c.HeightEnabled ? kSystemWindowBackground : kSystemButtonFace);
    EXPECT_EQ(boxes.Label2Caption, QString::fromLatin1(c.Caption));
    // Only the percent mode writes into a box; disabling never clears one.
    EXPECT_EQ(boxes.WidthText, c.Mode == kResizePercent ? QString("100") : QString("640"));
    EXPECT_EQ(boxes.HeightText, QString("100"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResizeModeTable,
    ::testing::Values(
        ModeCase{0, "Maintain Aspect Ratio", true, false, true, false, "Width(Pixels):"},
        ModeCase{1, "No Resize(Convert only)", false, false, false, false, "Width(Pixels):"},
        ModeCase{2, "Specify Width & Height", true, true, true, true, "Width(Pixels):"},
        ModeCase{3, "Scale By Percent", true, false, true, false, "Percent:"},
        ModeCase{4, "Fill and Crop", true, true, true, true, "Width(Pixels):"}));

TEST(ResizeModeTable, PercentWritesOneHundredWhichStaysWhenAnotherModeFollows)
{
    SizeBoxes boxes;
    boxes.WidthText = "640";
    boxes.Apply(kResizePercent);
    EXPECT_EQ(boxes.WidthText, QString("100"));
    EXPECT_EQ(boxes.Label2Caption, QString("Percent:"));
    boxes.Apply(kResizeMaintainAspect);
    EXPECT_EQ(boxes.WidthText, QString("100"));
    EXPECT_EQ(boxes.Label2Caption, QString("Width(Pixels):"));
    EXPECT_EQ(ReadNumberSetting(boxes.WidthText).Value(), 100);
}

TEST(ResizeModeTable, OtherIndexChangesNothing)
{
    EXPECT_TRUE(ResizeModeStepsAt(-1).empty());
    EXPECT_TRUE(ResizeModeStepsAt(kResizeModeCount).empty());
}

TEST(JobSettings, FoldersGetOneSeparator)
{
    EXPECT_EQ(FolderWithSeparator("  /tmp/thumbs "), QString("/tmp/thumbs/"));
    EXPECT_EQ(FolderWithSeparator("/tmp/thumbs/"), QString("/tmp/thumbs/"));
    EXPECT_EQ(FolderWithSeparator("/"), QString("/"));
    EXPECT_EQ(FolderWithSeparator(""), QString("/"));
    EXPECT_EQ(TrimSetting("\t _TH  "), QString("_TH"));
}

struct NumberCase {
    const char* Text;
    std::optional<std::int32_t> Value;
};

std::ostream& operator<<(std::ostream& os, const NumberCase& c)
{
    return os << "\"" << c.Text << "\"";
}

class NumberReading : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberReading, RoundsHalfToEvenIntoThirtyTwoBits)
{
    const NumberCase& c = GetParam();
    const Outcome<std::int32_t> read = ReadNumberSetting(QString::fromUtf8(c.Text));
    ASSERT_EQ(read.Ok(), c.Value.has_value()) << c.Text << ": " << read.Reason().toStdString();
    if (read)
        EXPECT_EQ(*read, *c.Value) << c.Text;
    else
        EXPECT_FALSE(read.Reason().isEmpty()) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberReading,
    ::testing::Values(NumberCase{"100", 100}, NumberCase{"  640 ", 640}, NumberCase{"2.5", 2},
                      NumberCase{"3.5", 4}, NumberCase{"-2.5", -2}, NumberCase{"99.5", 100},
                      NumberCase{"100.4999", 100}, NumberCase{"+7", 7}, NumberCase{"1e2", 100},
                      NumberCase{"0", 0}, NumberCase{"-0.4", 0},
                      NumberCase{"2147483647", 2147483647},
                      NumberCase{"-2147483648", std::numeric_limits<std::int32_t>::min()},
                      NumberCase{"2147483647.6", std::nullopt},
                      NumberCase{"2147483648", std::nullopt}, NumberCase{"1e30", std::nullopt},
                      NumberCase{"abc", std::nullopt}, NumberCase{"12px", std::nullopt},
                      NumberCase{"", std::nullopt}, NumberCase{"   ", std::nullopt},
                      NumberCase{"inf", std::nullopt}, NumberCase{"nan", std::nullopt},
                      NumberCase{"1,5", std::nullopt}, NumberCase{"0x10", std::nullopt}));

TEST(NumberReading, ErrorQuotesTheText)
{
    EXPECT_EQ(ReadNumberSetting(" abc ").Reason(), QString("\"abc\" is not a number"));
    EXPECT_EQ(ReadNumberSetting("1e12").Reason(), QString("\"1e12\" is out of range"));
    EXPECT_EQ(ReadNumberSetting("").Reason(), QString("is empty"));
}

} // namespace
} // namespace pixquill
