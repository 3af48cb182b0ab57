#include <gtest/gtest.h>

#include <string>

#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>

#include "engine/OptionTables.h"
#include "tests/support/QtPrinters.h"
#include "ui/main/FileListBox.h"

namespace pixquill {
namespace {

void Touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(FileListBox, StartsAtTheCurrentDirectoryWithEveryFile)
{
    FileListBox list;
    EXPECT_EQ(QDir(list.Path()), QDir::current());
    EXPECT_EQ(list.Pattern(), QStringLiteral("*.*"));
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::ExtendedSelection);
    // Nothing is read before the first refresh.
    EXPECT_EQ(list.count(), 0);
}

TEST(FileListBox, SettingFolderOrPatternWaitsForRefreshWhichClearsTheSelection)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Touch(dir.filePath(QStringLiteral("one.png")));
    Touch(dir.filePath(QStringLiteral("two.jpg")));
    FileListBox list;
    list.SetPath(dir.path());
    list.SetPattern(QStringLiteral("*.png;*.JPG"));
    EXPECT_EQ(list.count(), 0);
    list.Refresh();
    EXPECT_EQ(list.Names(), (QStringList{"one.png", "two.jpg"}));
    list.selectAll();
    ASSERT_EQ(list.selectedItems().size(), 2);

    Touch(dir.filePath(QStringLiteral("three.png")));
    list.Refresh();
    EXPECT_EQ(list.Names(), (QStringList{"one.png", "three.png", "two.jpg"}));
    EXPECT_TRUE(list.selectedItems().isEmpty());
}

// Row numbers are full-width: more rows than a 16-bit count could hold.
TEST(FileListBox, HoldsMoreThan32767Rows)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int n = 32770;
    for (int i = 0; i < n; ++i) {
        QFile file(dir.filePath(QStringLiteral("f%1.png").arg(i, 5, 10, QLatin1Char('0'))));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    FileListBox list;
    list.SetPath(dir.path());
    list.SetPattern(QStringLiteral("*.png"));
    list.Refresh();
    ASSERT_EQ(list.count(), n);
    EXPECT_EQ(list.item(n - 1)->text(), QStringLiteral("f32769.png"));
    list.selectAll();
    EXPECT_EQ(list.selectedItems().size(), n);
}

// Names wider than the list: the list scrolls sideways, the row is not cut,
// and its tooltip holds the whole name; short names get no tooltip.
struct LongNameCase {
    const char* name;
    int repeat; // of the name's middle part
    bool cut;   // wider than the list
};

class FileListBoxLongNames : public ::testing::TestWithParam<LongNameCase> {};

TEST_P(FileListBoxLongNames, ScrollSidewaysAndShowTheWholeNameInTheTooltip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = QStringLiteral("a") + QString(GetParam().repeat, QLatin1Char('m')) + QStringLiteral(".png");
    Touch(dir.filePath("short.png"));
    Touch(dir.filePath(name));
    FileListBox list;
    list.resize(166, 162);
    list.show();
    list.SetPath(dir.path());
    list.Refresh();
    QCoreApplication::processEvents();
    const QListWidgetItem* row = list.findItems(name, Qt::MatchExactly).value(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->toolTip(), GetParam().cut ? name : QString());
    EXPECT_TRUE(list.findItems(QStringLiteral("short.png"), Qt::MatchExactly).value(0)->toolTip().isEmpty());
    EXPECT_GE(list.visualItemRect(row).width(), list.fontMetrics().horizontalAdvance(name));
    EXPECT_EQ(list.horizontalScrollBar()->maximum() > 0, GetParam().cut);
}

INSTANTIATE_TEST_SUITE_P(, FileListBoxLongNames,
                         ::testing::Values(LongNameCase{"Fits", 3, false}, LongNameCase{"Long", 60, true},
                                           LongNameCase{"VeryLong", 240, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// What an empty list says in its empty area, by the folder's files and the
// mask; a list with rows, or a folder that cannot be read, says nothing there.
struct HintCase {
    const char* name;
    const char* files; // separated by blanks; "?" lists a folder that does not exist
    int mask;                                 // entry of the mask list
    int rows;
    const char* hint;
};

void PrintTo(const HintCase& c, std::ostream* os) { *os << c.name; }

class FileListBoxHint : public ::testing::TestWithParam<HintCase> {};

// The text pixels drawn over the empty viewport's base colour.
int PaintedPixels(FileListBox& list)
{
    const QImage shot = list.viewport()->grab().toImage();
    const QRgb base = list.palette().color(QPalette::Base).rgb();
    int painted = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x)
            painted += shot.pixel(x, y) != base;
    }
    return painted;
}

TEST_P(FileListBoxHint, SaysWhyTheListIsEmpty)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString folder = dir.path();
    for (const QString& name : QString::fromUtf8(GetParam().files).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (name == QLatin1String("?"))
            folder = dir.filePath(QStringLiteral("missing"));
        else
            Touch(dir.filePath(name));
    }
    FileListBox list;
    list.resize(166, 162);
    list.show();
    list.SetPath(folder);
    list.SetPattern(*FileMaskAt(GetParam().mask));
    list.Refresh();
    QCoreApplication::processEvents();
    EXPECT_EQ(list.count(), GetParam().rows);
    EXPECT_EQ(list.Hint(), QString::fromUtf8(GetParam().hint));
    if (list.count() == 0) {
        EXPECT_EQ(PaintedPixels(list) > 0, !list.Hint().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    , FileListBoxHint,
    ::testing::Values(
        HintCase{"HeicAndJpeg", "IMG_1.HEIC IMG_2.heic IMG_3.jpeg", kFileMaskAllSupported, 0,
                 "No file here matches All Supported Formats \u2014 3 photos match All Readable Formats (HEIC, JPEG)"},
        // A tie goes to the first of the appended entries.
        HintCase{"OnlyHeic", "a.heic b.HEIF", kFileMaskAllSupported, 0,
                 "No file here matches All Supported Formats \u2014 2 photos match Today's Photos (HEIC, HEIF)"},
        HintCase{"OnePhoto", "one.webp notes.txt", 1, 0,
                 "No file here matches Windows or OS2 BMP \u2014 1 photo matches Today's Photos (WebP)"},
        HintCase{"ManyKinds", "a.heic b.avif c.jxl d.webp e.jpeg f.JPG", 1, 0,
                 "No file here matches Windows or OS2 BMP \u2014 6 photos match All Readable Formats "
                 "(JPEG, HEIC, AVIF, \u2026)"},
        HintCase{"TextFiles", "notes.txt README data.csv .hidden.png", kFileMaskAllSupported, 0,
                 "No images in this folder"},
        HintCase{"EmptyFolder", "", kFileMaskAllFiles, 0, "No images in this folder"},
        HintCase{"SomeRows", "a.png b.heic", kFileMaskAllSupported, 1, ""},
        HintCase{"NoSuchFolder", "?", kFileMaskAllSupported, 0, ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace pixquill
