#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/support/QtPrinters.h"
#include "ui/main/mBrowseForFolder.h"

namespace pixquill {
namespace {

bool Touch(const QString& path)
{
    return QFile(path).open(QIODevice::WriteOnly);
}

// The open chooser as a user sees it.
struct OpenChooser {
    QDialog* dialog;
    QTreeView* tree;
    QLabel* status;
    QPushButton* ok;
    QPushButton* cancel;

    QFileSystemModel* Model() const { return qobject_cast<QFileSystemModel*>(tree->model()); }
    QString Highlighted() const { return Model()->filePath(tree->currentIndex()); }
    void Click(const QString& path) const
    {
        const QModelIndex index = Model()->index(path);
        tree->scrollTo(index);
        ASSERT_TRUE(QTest::qWaitFor([&] { return tree->visualRect(index).isValid(); })) << path.toStdString();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
    }
};

// Runs BrowseForFolder while `act` drives the chooser; a chooser left open is
// cancelled, so a failing check cannot hang the test.
QString Browse(const QString& start, std::int32_t requireFiles, const std::function<void(const OpenChooser&)>& act)
{
    bool acted = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        auto* box = dialog->findChild<QDialogButtonBox*>();
        acted = true;
        act({dialog, dialog->findChild<QTreeView*>(QStringLiteral("folderTree")),
             dialog->findChild<QLabel*>(QStringLiteral("statusLine")), box->button(QDialogButtonBox::Ok),
             box->button(QDialogButtonBox::Cancel)});
        if (dialog->isVisible())
            dialog->reject();
    });
    const QString answer = BrowseForFolder(nullptr, start, QStringLiteral("Pick a folder"), requireFiles);
    EXPECT_TRUE(acted);
    return answer;
}

// "three" holds three files; "empty" only a sub-folder and a hidden file.
class FolderChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_root = QDir(QFileInfo(m_dir.path()).canonicalFilePath());
        ASSERT_TRUE(m_root.mkpath(QStringLiteral("three")) && m_root.mkpath(QStringLiteral("empty/sub")));
        for (const char* name : {"three/a.png", "three/b.jpg", "three/c", "empty/.hidden.png"})
            ASSERT_TRUE(Touch(m_root.filePath(QLatin1String(name))));
    }
    QString Three() const { return m_root.filePath(QStringLiteral("three")); }
    QString Empty() const { return m_root.filePath(QStringLiteral("empty")); }

    QTemporaryDir m_dir;
    QDir m_root;
};

struct RequireCase {
    const char* name;
    std::int32_t requireFiles;
    bool okOnEmpty;
};

class FolderChooserRequire : public FolderChooserTest, public ::testing::WithParamInterface<RequireCase> {};

// Opens on "three", moves to "empty", then leaves with OK where OK is possible
// there, else with Cancel.
TEST_P(FolderChooserRequire, CountsTheHighlightedFolderAndGatesOk)
{
    const RequireCase c = GetParam();
    const QString answer = Browse(Three(), c.requireFiles, [&](const OpenChooser& chooser) {
        EXPECT_EQ(chooser.dialog->windowTitle(), QStringLiteral("Pick a folder"));
        EXPECT_EQ(chooser.Highlighted(), Three());
        EXPECT_EQ(chooser.status->text(), QStringLiteral("3 Files"));
        EXPECT_TRUE(chooser.ok->isEnabled());

        chooser.Click(Empty());
        EXPECT_EQ(chooser.Highlighted(), Empty());
        EXPECT_EQ(chooser.status->text(), QStringLiteral("0 Files"));
        EXPECT_EQ(chooser.ok->isEnabled(), c.okOnEmpty);
        QTest::mouseClick(c.okOnEmpty ? chooser.ok : chooser.cancel, Qt::LeftButton);
    });
    EXPECT_EQ(answer, c.okOnEmpty ? Empty() : QString());
}

INSTANTIATE_TEST_SUITE_P(, FolderChooserRequire,
                         ::testing::Values(RequireCase{"SourceNeedsFilesCancelGivesEmpty", -1, false},
                                           RequireCase{"DestinationTakesAnyFolder", 0, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct StartCase {
    const char* name;
    const char* start; // "%1" is "three", also the current directory
    const char* expected;
};

class FolderChooserStart : public FolderChooserTest, public ::testing::WithParamInterface<StartCase> {};

// The start folder is highlighted at open, and OK hands back that folder.
TEST_P(FolderChooserStart, HighlightsTheStartFolderAndReturnsItOnOk)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Three()));
    const QString expected = QString::fromLatin1(GetParam().expected).replace(QStringLiteral("%1"), Three());
    const QString answer = Browse(QString::fromLatin1(GetParam().start).replace(QStringLiteral("%1"), Three()), 0,
                                  [&](const OpenChooser& chooser) {
                                      EXPECT_EQ(chooser.Highlighted(), expected);
                                      QTest::mouseClick(chooser.ok, Qt::LeftButton);
                                  });
    QDir::setCurrent(previous);
    EXPECT_EQ(answer, expected);
}

INSTANTIATE_TEST_SUITE_P(, FolderChooserStart,
                         ::testing::Values(StartCase{"Folder", "%1", "%1"},
                                           StartCase{"OneTrailingSlashRemoved", "%1/", "%1"},
                                           StartCase{"EmptyMeansCurrentDirectory", "", "%1"},
                                           StartCase{"RootStaysRoot", "/", "/"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Where a chooser opens for what the box holds: never at "/" unless "/" was
// typed. "%1" is the test folder, which holds "three".
struct NearestCase {
    const char* name;
    const char* typed;
    const char* fallback;
    const char* expected;
};

class ChooserStartTable : public FolderChooserTest, public ::testing::WithParamInterface<NearestCase> {};

TEST_P(ChooserStartTable, NearestExistingFolderElseTheFallback)
{
    const auto fill = [this](const char* text) {
        return QString::fromUtf8(text).replace(QStringLiteral("%1"), m_root.path());
    };
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_root.path()));
    const QString start = ChooserStartFolder(fill(GetParam().typed), fill(GetParam().fallback));
    QDir::setCurrent(previous);
    EXPECT_EQ(start, fill(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    , ChooserStartTable,
    ::testing::Values(NearestCase{"ExistingFolder", "%1/three", "", "%1/three"},
                      NearestCase{"MissingThumbsUnderTheSource", "%1/three/Thumbs", "/", "%1/three"},
                      NearestCase{"MissingSeveralLevels", "%1/three/a/b/c", "", "%1/three"},
                      NearestCase{"FileInTheWay", "%1/three/a.png/x", "", "%1/three"},
                      NearestCase{"RelativeFromTheCurrentDirectory", "three/Thumbs", "", "%1/three"},
                      NearestCase{"OnlyTheRootLeftTakesTheFallback", "/no-such-folder/Thumbs", "%1/three", "%1/three"},
                      NearestCase{"OnlyTheRootLeftWithoutFallback", "/no-such-folder/Thumbs", "", ""},
                      NearestCase{"RootTyped", "/", "%1/three", "/"},
                      NearestCase{"EmptyTakesTheFallback", "", "%1/empty/sub", "%1/empty/sub"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A start folder the tree cannot show leaves nothing highlighted: Enter does
// not hand back the root row the tree made current on taking the focus.
TEST_F(FolderChooserTest, EnterWithNothingHighlightedChoosesNothing)
{
    bool stayedOpen = false;
    const QString answer = Browse(QStringLiteral("/no-such-folder/Thumbs"), 0, [&](const OpenChooser& chooser) {
        chooser.tree->setFocus();
        QTest::keyClick(chooser.tree, Qt::Key_Return);
        stayedOpen = chooser.dialog->isVisible();
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(answer, QString());
}

// The destination chooser makes a folder inside the highlighted one.
TEST_F(FolderChooserTest, NewFolderIsMadeAndHighlighted)
{
    const QString made = m_root.filePath(QStringLiteral("three/made"));
    const QString answer = Browse(Three(), 0, [&](const OpenChooser& chooser) {
        auto* button = chooser.dialog->findChild<QPushButton*>(QStringLiteral("newFolder"));
        ASSERT_TRUE(button);
        QTimer::singleShot(0, [] {
            auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            ASSERT_TRUE(input);
            input->setTextValue(QStringLiteral("made"));
            input->accept();
        });
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(chooser.Highlighted(), made);
        QTest::mouseClick(chooser.ok, Qt::LeftButton);
    });
    EXPECT_EQ(answer, made);
    EXPECT_TRUE(QFileInfo(made).isDir());
}

enum class Entry { None, TwoFiles, Hidden, SubFolder, Fifo, Socket, Dangling, LinkToDevice, LinkToFile };

// Puts one kind of entry into `dir`; false when the system refuses it.
bool Make(const QDir& dir, Entry entry)
{
    const auto at = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
    switch (entry) {
    case Entry::None: return true;
    case Entry::TwoFiles: return Touch(at("a.png")) && Touch(at("b"));
    case Entry::Hidden: return Touch(at(".hidden"));
    case Entry::SubFolder: return dir.mkdir(QStringLiteral("sub"));
    case Entry::Fifo: return ::mkfifo(QFile::encodeName(at("fifo")).constData(), 0600) == 0;
    case Entry::Socket: {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(at("sock")).constData(), sizeof address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return bound;
    }
    case Entry::Dangling: return QFile::link(at("gone"), at("link"));
    case Entry::LinkToDevice: return QFile::link(QStringLiteral("/dev/null"), at("null"));
    case Entry::LinkToFile: return Touch(at("t")) && QFile::link(at("t"), at("link"));
    }
    return false;
}

struct CountCase {
    const char* name;
    Entry entry;
    const char* counted; // what is counted, relative to the folder
    std::int32_t expected;
};

class CountFilesTable : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountFilesTable, CountsOrdinaryFilesOnly)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QDir dir(temp.path());
    ASSERT_TRUE(Make(dir, GetParam().entry));
    EXPECT_EQ(CountFiles(dir.filePath(QLatin1String(GetParam().counted))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(, CountFilesTable,
                         ::testing::Values(CountCase{"EmptyFolder", Entry::None, ".", 0},
                                           CountCase{"OrdinaryFiles", Entry::TwoFiles, ".", 2},
                                           CountCase{"TrailingSlash", Entry::TwoFiles, "./", 2},
                                           CountCase{"HiddenFile", Entry::Hidden, ".", 0},
                                           CountCase{"SubFolder", Entry::SubFolder, ".", 0},
                                           CountCase{"Fifo", Entry::Fifo, ".", 0},
                                           CountCase{"Socket", Entry::Socket, ".", 0},
                                           CountCase{"DanglingLink", Entry::Dangling, ".", 0},
                                           CountCase{"LinkToDevice", Entry::LinkToDevice, ".", 0},
                                           CountCase{"LinkToFileCountsAsAFile", Entry::LinkToFile, ".", 2},
                                           CountCase{"MissingFolder", Entry::None, "missing", 0},
                                           CountCase{"FileInsteadOfFolder", Entry::TwoFiles, "a.png", 0}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace pixquill
