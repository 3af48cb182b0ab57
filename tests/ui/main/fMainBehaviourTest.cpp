#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "codec/OleColor.h"
#include "engine/OptionTables.h"
#include "tests/support/QtPrinters.h"
#include "tests/ui/main/UrlRecorder.h"
#include "ui/about/fAbout.h"
#include "ui/main/FileListBox.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"
#include "ui/main/mUtils.h"
#include "ui/widgets/PictureButton.h"

namespace pixquill {
namespace {

// Windows close outside an event loop in most tests; the program's rule of
// ending with the last window is switched on only where a loop runs.
class NoQuitOutsideTheLoop : public ::testing::Environment {
public:
    void SetUp() override { QGuiApplication::setQuitOnLastWindowClosed(false); }
};
[[maybe_unused]] const auto* const g_quitPolicy = ::testing::AddGlobalTestEnvironment(new NoQuitOutsideTheLoop);

void DeleteClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QStringList ComboTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(combo->itemText(i));
    return texts;
}

// ------------------------------------------------------------ start-up state

// The load handler runs in the constructor: everything below holds before the
// window is first shown.
class fMainLoaded : public ::testing::Test {
protected:
    void SetUp() override { m_window = new fMain(); }
    void TearDown() override { delete m_window.data(); }
    QPointer<fMain> m_window;
};

TEST_F(fMainLoaded, ListsFilledInTableOrder)
{
    QStringList masks;
    for (const FileMaskEntry& e : FileMasks())
        masks.append(QString::fromUtf8(e.Text));
    QStringList formats;
    for (const OutputFormatEntry& e : OutputFormats())
        formats.append(QString::fromUtf8(e.Text));
    QStringList modes;
    for (const ResizeModeEntry& e : ResizeModes())
        modes.append(QString::fromUtf8(e.Text));
    QStringList filters;
    for (const ResampleFilterEntry& e : ResampleFilters())
        filters.append(QString::fromUtf8(e.Text));
    EXPECT_EQ(ComboTexts(m_window->ComboFilter()), masks);
    EXPECT_EQ(ComboTexts(m_window->ComboOutputFormat()), formats);
    EXPECT_EQ(ComboTexts(m_window->ComboResizeMethod()), modes);
    EXPECT_EQ(ComboTexts(m_window->comboResampleMethod()), filters);
    EXPECT_EQ(m_window->ComboFilter()->count(), 32); // the design's 29 and our three after them
    EXPECT_FALSE(m_window->ComboFilter()->isEditable());
    EXPECT_TRUE(m_window->ComboOutputFormat()->isEditable());
    EXPECT_TRUE(m_window->ComboResizeMethod()->isEditable());
    EXPECT_FALSE(m_window->comboResampleMethod()->isEditable());
}

TEST_F(fMainLoaded, DefaultRowsSelectedAndTheirHandlersRun)
{
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->ComboFilter()->currentIndex(), 0);
    EXPECT_EQ(m_window->ComboOutputFormat()->currentIndex(), 3);
    EXPECT_EQ(m_window->ComboResizeMethod()->currentIndex(), 0);
    EXPECT_EQ(m_window->comboResampleMethod()->currentIndex(), 0);

    // Mask applied to the file list, which shows the current directory.
    EXPECT_EQ(m_window->fbImages()->Pattern(), *FileMaskAt(0));
    EXPECT_EQ(QDir(m_window->fbImages()->Path()), QDir::current());
    EXPECT_EQ(m_window->fbImages()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(m_window->fbImages()->selectedItems().isEmpty());

    EXPECT_EQ(m_window->ComboOutputFormat()->toolTip(), QStringLiteral("JPEG(*.jpg)"));
    EXPECT_EQ(m_window->ResampleFilter(), 6);

    // Resize mode 0: only the width box and its label are usable.
    EXPECT_TRUE(m_window->Textwid()->isEnabled());
    EXPECT_TRUE(m_window->Label2()->isEnabled());
    EXPECT_FALSE(m_window->Texthgt()->isEnabled());
    EXPECT_FALSE(m_window->Labelhgt()->isEnabled());
    EXPECT_EQ(m_window->Texthgt()->text(), QStringLiteral("100"));
    EXPECT_EQ(m_window->Texthgt()->palette().color(QPalette::Disabled, QPalette::Base),
              ColorFromOle(kSystemButtonFace));
    EXPECT_EQ(m_window->Textwid()->palette().color(QPalette::Active, QPalette::Base),
              ColorFromOle(kSystemWindowBackground));

    EXPECT_TRUE(m_window->chkPreview()->isChecked());
    EXPECT_TRUE(m_window->txtImgDir()->text().isEmpty());
    EXPECT_TRUE(m_window->txtThumbDir()->text().isEmpty());
    EXPECT_FALSE(m_window->StopRequested());
}

TEST_F(fMainLoaded, HiddenSurfaces)
{
    EXPECT_EQ(m_window->PicLoad().Width(), 45);
    EXPECT_EQ(m_window->PicLoad().Height(), 45);
    EXPECT_TRUE(m_window->PicLoad().AutoSize());
    EXPECT_EQ(m_window->PicLoad().BorderWidth(), 0);
    EXPECT_EQ(m_window->PicLoad().BackColor(), ColorFromOle(kSystemWindowBackground));
    EXPECT_EQ(m_window->picThumb().Width(), 45);
    EXPECT_EQ(m_window->picThumb().Height(), 45);
    EXPECT_FALSE(m_window->picThumb().AutoSize());
    EXPECT_EQ(m_window->picThumb().BackColor(), ColorFromOle(kSystemWindowBackground));
    // Hidden surfaces are not widgets of the window.
    EXPECT_EQ(m_window->findChild<QWidget*>(QStringLiteral("PicLoad")), nullptr);
    EXPECT_EQ(m_window->findChild<QWidget*>(QStringLiteral("picThumb")), nullptr);
}

// ------------------------------------------------------------- the size boxes

struct ModeCase {
    int Mode;
    bool WidthOn, HeightOn, WidthLabelOn, HeightLabelOn;
    const char* WidthCaption;
};

class fMainResizeModes : public fMainLoaded, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(fMainResizeModes, SelectingAModeSetsTheSizeBoxes)
{
    const ModeCase& c = GetParam();
    // Start from another mode so that the selection is a change.
    m_window->ComboResizeMethod()->setCurrentIndex(c.Mode == 2 ? 1 : 2);
    m_window->Textwid()->setText(QStringLiteral("640"));
    m_window->ComboResizeMethod()->setCurrentIndex(c.Mode);
    EXPECT_EQ(m_window->Textwid()->isEnabled(), c.WidthOn);
    EXPECT_EQ(m_window->Texthgt()->isEnabled(), c.HeightOn);
    EXPECT_EQ(m_window->Label2()->isEnabled(), c.WidthLabelOn);
    EXPECT_EQ(m_window->Labelhgt()->isEnabled(), c.HeightLabelOn);
    EXPECT_EQ(m_window->Label2()->text(), QString::fromUtf8(c.WidthCaption));
    const auto base = [](QLineEdit* box) { return box->palette().color(QPalette::Disabled, QPalette::Base); };
    EXPECT_EQ(base(m_window->Textwid()),
              ColorFromOle(c.WidthOn ? kSystemWindowBackground : kSystemButtonFace));
    EXPECT_EQ(base(m_window->Texthgt()),
              ColorFromOle(c.HeightOn ? kSystemWindowBackground : kSystemButtonFace));
    // Only "Scale By Percent" writes a box.
    EXPECT_EQ(m_window->Textwid()->text(), c.Mode == 3 ? QStringLiteral("100") : QStringLiteral("640"));
    EXPECT_EQ(m_window->Texthgt()->text(), QStringLiteral("100"));
}

INSTANTIATE_TEST_SUITE_P(EveryMode, fMainResizeModes,
                         ::testing::Values(ModeCase{0, true, false, true, false, "Width(Pixels):"},
                                           ModeCase{1, false, false, false, false, "Width(Pixels):"},
                                           ModeCase{2, true, true, true, true, "Width(Pixels):"},
                                           ModeCase{3, true, false, true, false, "Percent:"},
                                           ModeCase{4, true, true, true, true, "Width(Pixels):"}));

TEST_F(fMainLoaded, PercentThenMaintainKeepsTheHundred)
{
    m_window->Textwid()->setText(QStringLiteral("640"));
    m_window->ComboResizeMethod()->setCurrentIndex(3);
    m_window->ComboResizeMethod()->setCurrentIndex(0);
    EXPECT_EQ(m_window->Textwid()->text(), QStringLiteral("100"));
    EXPECT_EQ(m_window->Label2()->text(), QStringLiteral("Width(Pixels):"));
}

struct FilterCase {
    int Row;
    int Code;
};

class fMainFilters : public fMainLoaded, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(fMainFilters, SelectingAFilterStoresItsCode)
{
    m_window->comboResampleMethod()->setCurrentIndex(GetParam().Row);
    EXPECT_EQ(m_window->ResampleFilter(), GetParam().Code);
}

INSTANTIATE_TEST_SUITE_P(SomeRows, fMainFilters,
                         ::testing::Values(FilterCase{6, 5}, FilterCase{4, 0}, FilterCase{1, 3},
                                           FilterCase{0, 6}));

TEST_F(fMainLoaded, OutputFormatTooltipFollowsTheSelection)
{
    m_window->ComboOutputFormat()->setCurrentIndex(1);
    EXPECT_EQ(m_window->ComboOutputFormat()->toolTip(), QStringLiteral("Compuserve GIF(*.gif)"));
}

// Typing into an editable list leaves no entry selected and runs no handler.
TEST_F(fMainLoaded, TypedTextLeavesNoEntrySelected)
{
    QComboBox* format = m_window->ComboOutputFormat();
    QTest::keyClicks(format->lineEdit(), QStringLiteral("x"));
    EXPECT_EQ(format->currentIndex(), -1);
    EXPECT_EQ(format->currentText(), QStringLiteral("JPEG(*.jpg)x"));
    EXPECT_EQ(format->toolTip(), QStringLiteral("JPEG(*.jpg)"));

    QComboBox* mode = m_window->ComboResizeMethod();
    mode->lineEdit()->selectAll();
    QTest::keyClicks(mode->lineEdit(), QStringLiteral("Scale"));
    EXPECT_EQ(mode->currentIndex(), -1);
    EXPECT_EQ(mode->currentText(), QStringLiteral("Scale"));
    EXPECT_FALSE(m_window->Texthgt()->isEnabled());
    EXPECT_EQ(m_window->Label2()->text(), QStringLiteral("Width(Pixels):"));

    // Choosing an entry afterwards works as usual.
    format->setCurrentIndex(4);
    EXPECT_EQ(format->toolTip(), QStringLiteral("Portable Network Graphics(*.png)"));
}

// ------------------------------------------------------------- the file list

struct MaskCase {
    int Row;
    QStringList Listed;
};

void PrintTo(const MaskCase& c, std::ostream* os) { *os << "mask row " << c.Row; }

class fMainFileList : public fMainLoaded, public ::testing::WithParamInterface<MaskCase> {
protected:
    void SetUp() override
    {
        fMainLoaded::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        for (const char* name : {"a.tif", "a.tiff", "B.JPG", "noext", ".hidden.png", "c.png"}) {
            QFile file(m_dir.filePath(QLatin1String(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("sub.png")));
        m_window->fbImages()->SetPath(m_dir.path());
    }
    QTemporaryDir m_dir;
};

TEST_P(fMainFileList, ChangingTheMaskRefreshesTheList)
{
    // Start from another row so that the selection is a change.
    m_window->ComboFilter()->setCurrentIndex(GetParam().Row == 1 ? 2 : 1);
    m_window->fbImages()->selectAll();
    m_window->ComboFilter()->setCurrentIndex(GetParam().Row);
    EXPECT_EQ(m_window->fbImages()->Names(), GetParam().Listed);
    EXPECT_TRUE(m_window->fbImages()->selectedItems().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Masks, fMainFileList,
    ::testing::Values(MaskCase{0, {"a.tiff", "B.JPG", "c.png"}},                  // all supported: no *.tif
                      MaskCase{23, {"a.tif", "a.tiff"}},                          // TIFF entry has both
                      MaskCase{28, {"a.tif", "a.tiff", "B.JPG", "c.png", "noext"}}, // *.* : no hidden, no folders
                      MaskCase{9, {"B.JPG"}},                                     // case-insensitive
                      MaskCase{1, {}}));

TEST_F(fMainLoaded, FileListOfAMissingFolderIsEmpty)
{
    m_window->fbImages()->SetPath(QStringLiteral("/no/such/folder/here"));
    m_window->fbImages()->Refresh();
    EXPECT_EQ(m_window->fbImages()->count(), 0);
}

// -------------------------------------------------------------- focus order

TEST(fMainFocus, TabWalksTheInputControlsInOrder)
{
    QPointer<fMain> window = StartUp();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    // Every box enabled, so none is skipped.
    window->ComboResizeMethod()->setCurrentIndex(2);
    window->txtImgDir()->setFocus();
    const QStringList expected = {
        "txtImgDir", "cmdBrowseImg", "txtThumbDir", "cmdBrowseThumb", "Textwid", "Texthgt",
        "ComboResizeMethod", "ComboOutputFormat", "txtSuffix", "cmdselect(0)", "cmdselect(1)",
        "chkPreview", "fbImages", "ComboFilter", "comboResampleMethod", "cmdAction(0)", "cmdAction(1)",
        "txtImgDir",
    };
    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        // An editable list's text box stands for the list.
        if (qobject_cast<QComboBox*>(focus->parentWidget()))
            focus = focus->parentWidget();
        visited.append(focus->objectName());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected);
    delete window.data();
}

// ------------------------------------------------------ closing and windows

enum class CloseBy { Label1, CloseButton, WindowSystem };

class fMainClosing : public ::testing::TestWithParam<CloseBy> {};

// Runs the application's event loop as the program does: it must end by
// itself when the main window closes, the about window being open.
TEST_P(fMainClosing, EndsTheProgramWithTheAboutWindowOpen)
{
    QPointer<fMain> window = StartUp();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    emit window->btnForm(0)->Click(0);
    QPointer<fAbout> about = window->AboutWindow();
    ASSERT_FALSE(about.isNull());
    ASSERT_TRUE(about->isVisible());

    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    QTimer::singleShot(0, window, [window, how = GetParam()] {
        switch (how) {
        case CloseBy::Label1:
            QTest::mouseClick(window->Label1(), Qt::LeftButton, {}, QPoint(5, 5));
            break;
        case CloseBy::CloseButton:
            QTest::mouseClick(window->btnForm(2), Qt::LeftButton, {}, QPoint(10, 10));
            break;
        case CloseBy::WindowSystem:
            window->windowHandle()->close();
            break;
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QGuiApplication::setQuitOnLastWindowClosed(true);
    const int rc = QApplication::exec();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    guard.stop();
    DeleteClosedWindows();

    EXPECT_EQ(rc, 0) << "the event loop did not end with the last window";
    EXPECT_EQ(lastClosed.count(), 1);
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(about.isNull());
    if (!window.isNull())
        delete window.data();
}

INSTANTIATE_TEST_SUITE_P(ThreeWays, fMainClosing,
                         ::testing::Values(CloseBy::Label1, CloseBy::CloseButton, CloseBy::WindowSystem),
                         [](const ::testing::TestParamInfo<CloseBy>& testInfo) {
                             switch (testInfo.param) {
                             case CloseBy::Label1: return std::string("Label1");
                             case CloseBy::CloseButton: return std::string("btnForm2");
                             case CloseBy::WindowSystem: return std::string("WindowSystem");
                             }
                             return std::string();
                         });

// A close during a run is in the batch tests.
TEST(fMainCloseRequest, NeverRefused)
{
    QPointer<fMain> window = StartUp();
    QCloseEvent close;
    close.ignore();
    QCoreApplication::sendEvent(window, &close);
    EXPECT_TRUE(close.isAccepted());
    EXPECT_FALSE(window->StopRequested());
    delete window.data();
}

class fMainOpenWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window = StartUp();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    }
    void TearDown() override
    {
        delete m_window.data();
        DeleteClosedWindows();
    }
    QPointer<fMain> m_window;
};

TEST_F(fMainOpenWindow, AboutButtonOpensOneOwnedInstance)
{
    emit m_window->btnForm(0)->Click(0);
    QPointer<fAbout> first = m_window->AboutWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first->parentWidget(), m_window.data());
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(m_window->isVisible());
    emit m_window->btnForm(0)->Click(0);
    EXPECT_EQ(m_window->AboutWindow(), first.data());
    EXPECT_EQ(m_window->findChildren<fAbout*>().size(), 1);

    // Closed, it is destroyed; the next opening loads a new one.
    first->close();
    DeleteClosedWindows();
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(m_window->AboutWindow(), nullptr);
    emit m_window->btnForm(0)->Click(0);
    EXPECT_NE(m_window->AboutWindow(), nullptr);
}

TEST_F(fMainOpenWindow, OtherButtonIndicesDoNothing)
{
    m_window->btnForm_Click(3);
    m_window->btnForm_Click(-1);
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_FALSE(m_window->isMinimized());
    EXPECT_EQ(m_window->AboutWindow(), nullptr);
}

TEST_F(fMainOpenWindow, MinimiseHidesOwnedWindowsAndRestoreBringsThemBack)
{
    emit m_window->btnForm(0)->Click(0);
    fAbout* about = m_window->AboutWindow();
    ASSERT_NE(about, nullptr);
    QTest::mouseClick(m_window->btnForm(1), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(m_window->isMinimized());
    EXPECT_FALSE(about->isVisible());
    m_window->showNormal();
    EXPECT_FALSE(m_window->isMinimized());
    EXPECT_TRUE(about->isVisible());
}

TEST_F(fMainOpenWindow, BannerOpensTheMakersSiteAndNothingElseChanges)
{
    UrlRecorder recorder;
    QTest::mouseClick(m_window->imBanner(), Qt::LeftButton, {}, QPoint(100, 30));
    EXPECT_EQ(recorder.Opened(), QList<QUrl>{QUrl(QStringLiteral("https://zorvex.example/"))});
    EXPECT_TRUE(m_window->isVisible());
    // A press that leaves the banner before the release is no click.
    QTest::mousePress(m_window->imBanner(), Qt::LeftButton, {}, QPoint(100, 30));
    QTest::mouseRelease(m_window->imBanner(), Qt::LeftButton, {}, QPoint(600, 30));
    EXPECT_EQ(recorder.Opened().size(), 1);
}

TEST_F(fMainOpenWindow, OtherLabelsNeitherCloseNorDrag)
{
    auto* label3 = m_window->findChild<QLabel*>(QStringLiteral("Label3"));
    ASSERT_NE(label3, nullptr);
    const QPoint before = m_window->pos();
    QTest::mousePress(label3, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(label3, QPoint(40, 30));
    QTest::mouseRelease(label3, Qt::LeftButton, {}, QPoint(40, 30));
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(m_window->pos(), before);
}

// Offscreen there is no window manager to move the window, so the window
// follows the pointer itself; with one, the system's move loop does it.
TEST_F(fMainOpenWindow, PressOnTheSkinDragsTheWindow)
{
    const QPoint before = m_window->pos();
    QTest::mousePress(m_window, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), m_window->mapToGlobal(QPointF(45, 35)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window, &move);
    QTest::mouseRelease(m_window, Qt::LeftButton, {}, QPoint(45, 35));
    EXPECT_EQ(m_window->pos(), before + QPoint(40, 30));
}

TEST_F(fMainOpenWindow, PressOnTheLogoLabelDragsTheWindow)
{
    QLabel* logo = m_window->lblLogo();
    const QPoint before = m_window->pos();
    QTest::mousePress(logo, Qt::RightButton, {}, QPoint(300, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(300, 10), logo->mapToGlobal(QPointF(290, 30)), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(logo, &move);
    QTest::mouseRelease(logo, Qt::RightButton, {}, QPoint(290, 30));
    EXPECT_EQ(m_window->pos(), before + QPoint(-10, 20));
    EXPECT_TRUE(m_window->isVisible());
}

// ------------------------------------------------------------ OpenDocument

struct OpenCase {
    const char* Target;
    const char* Url;
};

class OpenDocumentTargets : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenDocumentTargets, OpensAddressesAsSuchAndPathsAsFiles)
{
    UrlRecorder recorder;
    OpenDocument(QString::fromUtf8(GetParam().Target));
    ASSERT_EQ(recorder.Opened().size(), 1);
    EXPECT_EQ(recorder.Opened().front(), QUrl(QString::fromUtf8(GetParam().Url)));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, OpenDocumentTargets,
    ::testing::Values(OpenCase{"https://zorvex.example/", "https://zorvex.example/"},
                      OpenCase{"http://zorvex.example/a?b=1", "http://zorvex.example/a?b=1"},
                      OpenCase{"/tmp/a b#1.png", "file:///tmp/a%20b%231.png"}));

TEST(OpenDocument, EmptyTargetOpensNothing)
{
    UrlRecorder recorder;
    OpenDocument(QString());
    EXPECT_TRUE(recorder.Opened().isEmpty());
}

} // namespace
} // namespace pixquill
