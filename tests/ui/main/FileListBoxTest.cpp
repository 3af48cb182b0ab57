#include <gtest/gtest.h>

#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>

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

} // namespace
} // namespace pixquill
