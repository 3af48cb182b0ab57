#include <gtest/gtest.h>

#include <atomic>

#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QDropEvent>
#include <QGroupBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "codec/MFreeImage_2.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"
#include "ui/display/ImageAceX.h"
#include "ui/display/fFullScale.h"
#include "ui/main/FileListBox.h"
#include "ui/main/ImagePreview.h"
#include "engine/BatchThread.h"
#include "ui/main/fMain.h"
#include "ui/main/mBrowseForFolder.h"
#include "ui/main/mStartup.h"
#include "ui/widgets/PictureButton.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

// ------------------------------------------------------------ panel captions

struct SizeCase {
    qint64 Bytes;
    const char* Caption;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.Bytes << " bytes"; }

class FileSizeCaptions : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FileSizeCaptions, KilobytesRoundedAndGrouped)
{
    const QLocale grouped(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(FileSizeCaption(GetParam().Bytes, grouped), QString::fromUtf8(GetParam().Caption));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSizeCaptions,
                         ::testing::Values(SizeCase{0, "0 KB"}, SizeCase{500, "0 KB"}, SizeCase{512, "0 KB"},
                                           SizeCase{1536, "2 KB"}, SizeCase{1000000, "977 KB"},
                                           SizeCase{1048576, "1,024 KB"},
                                           SizeCase{3LL * 1024 * 1024 * 1024, "3,145,728 KB"}));

TEST(DimensionsCaption, EveryNumberBehindItsSignPosition)
{
    EXPECT_EQ(DimensionsCaption(640, 480), QStringLiteral(" 640x 480"));
    EXPECT_EQ(DimensionsCaption(45, 45), QStringLiteral(" 45x 45"));
}

// --------------------------------------------------------- window, by hand

// A shown window over a folder of drawn images, whose preview loads are
// counted through the window's loader.
class fMainSelect : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_window = StartUp();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
        m_window->SetImageLoader([this](const QString& path, Surface& picLoad) {
            ++m_loads;
            return LoadImageToSurface(path, picLoad);
        });
    }
    void TearDown() override
    {
        delete m_window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void Picture(const QString& name, int width, int height)
    {
        ASSERT_TRUE(test::GradientImage(width, height).save(m_dir.filePath(name), "PNG")) << name.toStdString();
    }
    void Bytes(const QString& name, const QByteArray& bytes)
    {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    void TypeSource(const QString& folder)
    {
        m_window->txtImgDir()->selectAll();
        QTest::keyClicks(m_window->txtImgDir(), folder);
    }
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        FileListBox* list = m_window->fbImages();
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualItemRect(list->item(row)).center());
        WaitForPreview();
    }
    // Previews are decoded off the window's thread.
    void WaitForPreview()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !m_window->PreviewPending(); }, 20000));
    }
    QString SizeText() const { return m_window->lblImageSize()->text(); }
    QImage PreviewImage() const { return m_window->ImgPreview()->surface().Image(); }

    QTemporaryDir m_dir;
    QPointer<fMain> m_window;
    // Counted on the preview's thread.
    std::atomic<int> m_loads{0};
};

TEST_F(fMainSelect, TypingAFolderListsItsImagesInFileManagerOrder)
{
    for (const char* name : {"IMG_10.png", "IMG_2.png", "img_1.PNG", "notes.txt", ".hidden.png"})
        Bytes(QString::fromUtf8(name), "x");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("sub.png"));
    TypeSource(m_dir.path());
    EXPECT_EQ(m_window->fbImages()->Names(), (QStringList{"img_1.PNG", "IMG_2.png", "IMG_10.png"}));
    EXPECT_TRUE(m_window->fbImages()->toolTip().isEmpty());
    EXPECT_EQ(m_loads, 0);
}

struct SourceTextCase {
    const char* Typed; // after the test folder's path and "/"; "" empties the box
    const char* Tooltip;
};

void PrintTo(const SourceTextCase& c, std::ostream* os) { *os << '"' << c.Typed << '"'; }

class fMainSourceText : public fMainSelect, public ::testing::WithParamInterface<SourceTextCase> {};

TEST_P(fMainSourceText, ListOrTooltipSaysWhy)
{
    Bytes("a.png", "x");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("sub"));
    const QString typed = QString::fromUtf8(GetParam().Typed);
    TypeSource(m_dir.path() + QLatin1Char('/'));
    ASSERT_EQ(m_window->fbImages()->count(), 1);
    if (typed.isEmpty())
        m_window->txtImgDir()->clear();
    else
        QTest::keyClicks(m_window->txtImgDir(), typed);
    const QString tooltip = QString::fromUtf8(GetParam().Tooltip);
    EXPECT_EQ(m_window->fbImages()->toolTip(), tooltip);
    if (!tooltip.isEmpty()) {
        EXPECT_EQ(m_window->fbImages()->count(), 0);
    }
    if (typed.isEmpty()) {
        EXPECT_EQ(m_window->fbImages()->Path(), QStringLiteral("/"));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, fMainSourceText,
                         ::testing::Values(SourceTextCase{"sub", ""}, SourceTextCase{"su", "No such folder"},
                                           SourceTextCase{"a.png", "Not a folder"}, SourceTextCase{"", ""}));

TEST_F(fMainSelect, PreviewShowsTheFocusedImageWithItsSizeAndDimensions)
{
    Picture("wide.png", 640, 480);
    Picture("tall.png", 30, 60);
    TypeSource(m_dir.path());
    ClickRow(1); // wide.png
    EXPECT_EQ(m_loads, 1);
    EXPECT_EQ(SizeText(), QStringLiteral(" 640x 480"));
    EXPECT_EQ(m_window->lblImageFileSize()->text(),
              FileSizeCaption(QFileInfo(m_dir.filePath("wide.png")).size()));
    // 640 x 480 shrinks to 98 x 74 in the 98 x 101 inside, centred: rows 14 to 87.
    const QImage shown = PreviewImage();
    const QRgb back = m_window->ImgPreview()->surface().BackColor().rgb();
    EXPECT_EQ(shown.pixel(49, 10), back);
    EXPECT_NE(shown.pixel(49, 50), back);
    EXPECT_EQ(shown.pixel(49, 90), back);

    // A keyboard move previews the row moved to; a 30 x 60 image is not enlarged.
    QTest::keyClick(m_window->fbImages(), Qt::Key_Up);
    WaitForPreview();
    EXPECT_EQ(m_loads, 2);
    EXPECT_EQ(SizeText(), QStringLiteral(" 30x 60"));
    EXPECT_EQ(PreviewImage().pixel(49, 50 - 31), back);
}

TEST_F(fMainSelect, CtrlClickThatUnselectsTheFocusedRowStillPreviewsIt)
{
    Picture("a.png", 20, 10);
    Picture("b.png", 40, 10);
    TypeSource(m_dir.path());
    ClickRow(0);
    ClickRow(1, Qt::ControlModifier);
    ClickRow(1, Qt::ControlModifier);
    EXPECT_EQ(m_window->fbImages()->SelectedNames(), QStringList{"a.png"});
    EXPECT_EQ(m_loads, 3);
    EXPECT_EQ(SizeText(), QStringLiteral(" 40x 10"));
}

TEST_F(fMainSelect, WithThePreviewOffClicksChangeNothingInThePanel)
{
    Picture("a.png", 20, 10);
    TypeSource(m_dir.path());
    const QImage before = PreviewImage();
    m_window->chkPreview()->setChecked(false);
    ClickRow(0);
    m_window->chkPreview()->setChecked(true); // no preview until the next click
    EXPECT_EQ(m_loads, 0);
    EXPECT_TRUE(SizeText().isEmpty());
    EXPECT_EQ(PreviewImage(), before);
    ClickRow(0);
    EXPECT_EQ(m_loads, 1);
}

// Select All and Clear on many files: no decode, preview and check box kept.
TEST_F(fMainSelect, SelectAllAndClearDecodeNothingAndKeepThePanel)
{
    Picture("a.png", 20, 10);
    // Hard links: 10,000 names without 10,000 new files to allocate.
    const QByteArray original = QFile::encodeName(m_dir.filePath("a.png"));
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(::link(original.constData(), QFile::encodeName(m_dir.filePath(QStringLiteral("f%1.png").arg(i))).constData()), 0);
    TypeSource(m_dir.path());
    ClickRow(0);
    ASSERT_EQ(m_loads, 1);
    const QImage shown = PreviewImage();
    for (const bool preview : {true, false}) {
        m_window->chkPreview()->setChecked(preview);
        QTest::mouseClick(m_window->cmdselect(0), Qt::LeftButton);
        EXPECT_EQ(m_window->fbImages()->SelectedNames().size(), 10001);
        QTest::mouseClick(m_window->cmdselect(1), Qt::LeftButton);
        EXPECT_TRUE(m_window->fbImages()->SelectedNames().isEmpty());
        EXPECT_EQ(m_window->chkPreview()->isChecked(), preview);
        EXPECT_TRUE(m_window->fbImages()->isVisible());
    }
    EXPECT_EQ(m_loads, 1);
    EXPECT_EQ(SizeText(), QStringLiteral(" 20x 10"));
    EXPECT_EQ(PreviewImage(), shown);
}

TEST_F(fMainSelect, SelectAllAndClearOnAnEmptyListKeepTheCheckBox)
{
    TypeSource(m_dir.path());
    ASSERT_EQ(m_window->fbImages()->count(), 0);
    for (const bool preview : {true, false}) {
        m_window->chkPreview()->setChecked(preview);
        m_window->cmdselect_Click(0);
        m_window->cmdselect_Click(1);
        EXPECT_EQ(m_window->chkPreview()->isChecked(), preview);
    }
}

// Phone photos under the start-up mask: the list's line is painted, not
// listed. It fits the list whole; a click on it previews nothing, Select All
// selects nothing and Start makes nothing.
TEST_F(fMainSelect, HintIsNoRowAndFitsTheList)
{
    for (const char* name : {"IMG_0001.HEIC", "IMG_0002.HEIC", "IMG_0003.jpeg"})
        Bytes(QString::fromUtf8(name), "x");
    TypeSource(m_dir.path());
    const QString destination = m_dir.filePath(QStringLiteral("thumbs"));
    m_window->txtThumbDir()->setText(destination);
    FileListBox* list = m_window->fbImages();
    ASSERT_EQ(list->count(), 0);
    ASSERT_FALSE(list->Hint().isEmpty());
    const QRect room = list->viewport()->rect().adjusted(2, 2, -2, -2);
    const QRect needed = list->fontMetrics().boundingRect(room, Qt::AlignHCenter | Qt::TextWordWrap, list->Hint());
    EXPECT_LE(needed.width(), room.width());
    EXPECT_LE(needed.height(), room.height());

    m_window->chkPreview()->setChecked(true);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, room.center());
    m_window->cmdselect_Click(0);
    EXPECT_TRUE(list->SelectedNames().isEmpty());
    QTest::mouseClick(m_window->cmdAction(0), Qt::LeftButton, {}, QPoint(4, 4));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_window->Batch().IsRunning(); }, 10000));
    EXPECT_EQ(m_window->lblCount()->text().replace(QLatin1Char('\n'), QLatin1Char(' ')),
              QStringLiteral("Completed 0 of 0 images"));
    EXPECT_TRUE(QDir(destination).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(m_loads, 0);
    EXPECT_EQ(list->count(), 0);
}

TEST_F(fMainSelect, ReReadingEmptiesTheSelectionAndKeepsTheOldPreview)
{
    Picture("a.png", 20, 10);
    Picture("b.png", 20, 10);
    TypeSource(m_dir.path());
    ClickRow(0);
    m_window->cmdselect_Click(0);
    const QImage shown = PreviewImage();
    m_window->ComboFilter()->setCurrentIndex(28); // *.*
    EXPECT_TRUE(m_window->fbImages()->SelectedNames().isEmpty());
    m_window->cmdselect_Click(0);
    QTest::keyClick(m_window->txtImgDir(), Qt::Key_Backspace);
    EXPECT_TRUE(m_window->fbImages()->SelectedNames().isEmpty());
    EXPECT_EQ(PreviewImage(), shown);
    EXPECT_EQ(SizeText(), QStringLiteral(" 20x 10"));
    EXPECT_EQ(m_loads, 1);
}

// A file that cannot be decoded clears the panel and opens no full-screen
// view on what the load surface still holds.
TEST_F(fMainSelect, UndecodableFileClearsThePreviewAndOpensNoFullScreenView)
{
    Picture("a.png", 20, 10);
    Bytes("b.png", QByteArray(600, 'z'));
    TypeSource(m_dir.path());
    QTest::mouseDClick(m_window->ImgPreview(), Qt::LeftButton); // before any preview
    EXPECT_EQ(fFullScale::Instance(), nullptr);

    ClickRow(0);
    QTest::mouseDClick(m_window->ImgPreview(), Qt::LeftButton);
    ASSERT_NE(fFullScale::Instance(), nullptr);
    EXPECT_EQ(fFullScale::Instance()->imView()->Picture().size(), QSize(20, 10));
    fFullScale::Instance()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    ClickRow(1);
    EXPECT_EQ(SizeText(), QStringLiteral("Cannot read"));
    EXPECT_EQ(m_window->lblImageFileSize()->text(), FileSizeCaption(600));
    const QRgb back = m_window->ImgPreview()->surface().BackColor().rgb();
    EXPECT_EQ(PreviewImage().pixel(49, 50), back);
    QTest::mouseDClick(m_window->ImgPreview(), Qt::LeftButton);
    EXPECT_EQ(fFullScale::Instance(), nullptr);
}

// Names of every kind list, select and preview like any other.
TEST_F(fMainSelect, NamesInAnyScriptPreview)
{
    const QStringList names{QStringLiteral("with spaces in it.png"), QStringLiteral("-leading dash.png"),
                            QStringLiteral("日本語の写真.png"), QStringLiteral("Ελληνικά.png"),
                            QString(120, QChar(0x0436)) + QStringLiteral(".png")}; // 244 bytes
    for (const QString& name : names)
        Picture(name, 12, 8);
    TypeSource(m_dir.path());
    ASSERT_EQ(m_window->fbImages()->count(), names.size());
    for (int row = 0; row < names.size(); ++row) {
        m_window->lblImageSize()->clear();
        ClickRow(row);
        EXPECT_EQ(SizeText(), QStringLiteral(" 12x 8")) << m_window->fbImages()->item(row)->text().toStdString();
    }
}

TEST_F(fMainSelect, EnterInTheDestinationBoxCreatesOneLevel)
{
    QLineEdit* box = m_window->txtThumbDir();
    box->setText(m_dir.filePath("Thumbs"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_TRUE(QFileInfo(m_dir.filePath("Thumbs")).isDir());
    EXPECT_EQ(box->text(), m_dir.filePath("Thumbs"));
    EXPECT_TRUE(box->toolTip().isEmpty());

    box->setText(m_dir.filePath("missing/Thumbs"));
    QTest::keyClick(box, Qt::Key_Enter);
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("missing")));
    EXPECT_EQ(box->toolTip(), QStringLiteral("Cannot create this folder (No such file or directory)"));
}

TEST_F(fMainSelect, CheckSquareStaysWholeAboveTheInformationFrame)
{
    // The bottom rows of the check box lie inside the frame below it.
    const QPoint bottomOfSquare(m_window->chkPreview()->x() + 6, m_window->chkPreview()->geometry().bottom() - 1);
    EXPECT_EQ(m_window->fraSelect()->childAt(bottomOfSquare), m_window->chkPreview());
}

// The "..." buttons, with the chooser answered for them.
struct BrowseCase {
    bool Source;        // which button
    const char* Answer; // what the chooser returns; "" is Cancel
    const char* SourceAfter;
    const char* DestinationAfter;
};

void PrintTo(const BrowseCase& c, std::ostream* os)
{
    *os << (c.Source ? "source" : "destination") << " chooser answers \"" << c.Answer << '"';
}

class fMainBrowse : public fMainSelect, public ::testing::WithParamInterface<BrowseCase> {
protected:
    void TearDown() override
    {
        SetFolderChooserHookForTests({});
        fMainSelect::TearDown();
    }
};

TEST_P(fMainBrowse, ButtonsAskTheChooserAndFillTheBoxes)
{
    const BrowseCase& c = GetParam();
    m_window->txtImgDir()->setText(QStringLiteral(" /old/source "));
    m_window->txtThumbDir()->setText(QStringLiteral("/old/thumbs"));
    QString start;
    QString title;
    std::int32_t requireFiles = 1;
    SetFolderChooserHookForTests([&](QWidget* owner, const QString& s, const QString& t, std::int32_t r) {
        EXPECT_EQ(owner, m_window.data());
        start = s;
        title = t;
        requireFiles = r;
        return QString::fromUtf8(c.Answer);
    });
    QTest::mouseClick(c.Source ? m_window->cmdBrowseImg() : m_window->cmdBrowseThumb(), Qt::LeftButton);
    // Neither folder exists, nor anything of them but "/": the chooser opens
    // at the current directory, not at "/".
    EXPECT_EQ(start, QString());
    EXPECT_EQ(title, c.Source ? QStringLiteral("Select a folder that contains the original images.")
                              : QStringLiteral("Select a destination folder for the modified images."));
    EXPECT_EQ(requireFiles, c.Source ? -1 : 0);
    EXPECT_EQ(m_window->txtImgDir()->text(), QString::fromUtf8(c.SourceAfter));
    EXPECT_EQ(m_window->txtThumbDir()->text(), QString::fromUtf8(c.DestinationAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, fMainBrowse,
    ::testing::Values(BrowseCase{true, "/photos", "/photos", "/photos/Thumbs"},
                      BrowseCase{true, "/", "/", "//Thumbs"},
                      BrowseCase{true, "", " /old/source ", "/old/thumbs"},
                      BrowseCase{false, "/out", " /old/source ", "/out"},
                      BrowseCase{false, "", " /old/source ", "/old/thumbs"}));

TEST_F(fMainSelect, ChosenSourceFolderIsListed)
{
    Picture("a.png", 20, 10);
    SetFolderChooserHookForTests([this](QWidget*, const QString&, const QString&, std::int32_t) { return m_dir.path(); });
    QTest::mouseClick(m_window->cmdBrowseImg(), Qt::LeftButton);
    SetFolderChooserHookForTests({});
    EXPECT_EQ(m_window->fbImages()->Names(), QStringList{"a.png"});
}

// Dropping on the window: a folder, or an image meaning its folder, sets the
// source box; anything else is refused.
struct DropCase {
    const char* What;
    bool Accepted;
};

void PrintTo(const DropCase& c, std::ostream* os) { *os << c.What; }

class fMainDrop : public fMainSelect, public ::testing::WithParamInterface<DropCase> {};

TEST_P(fMainDrop, SetsTheSourceBoxOrIsRefused)
{
    Picture("a.png", 20, 10);
    Bytes("notes.txt", "x");
    Bytes("phone.heic", "x");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("sub"));
    const QString what = QString::fromUtf8(GetParam().What);
    QMimeData mime;
    if (what == QLatin1String("text"))
        mime.setText(m_dir.path());
    else if (what == QLatin1String("web"))
        mime.setUrls({QUrl(QStringLiteral("https://zorvex.example/a.png"))});
    else
        mime.setUrls({QUrl::fromLocalFile(m_dir.filePath(what))});
    m_window->txtImgDir()->setText(QStringLiteral("/before"));

    // Over the source box; the box leaves drops to the window (checked below).
    const QPoint at = m_window->txtImgDir()->mapTo(m_window.data(), QPoint(5, 5));
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window, &enter);
    EXPECT_EQ(enter.isAccepted(), GetParam().Accepted);
    if (enter.isAccepted()) {
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &drop);
        EXPECT_EQ(m_window->txtImgDir()->text(), what.contains(u'.') ? m_dir.path() : m_dir.filePath(what));
        EXPECT_FALSE(m_window->fbImages()->Path().startsWith(QLatin1String("/before")));
    } else {
        EXPECT_EQ(m_window->txtImgDir()->text(), QStringLiteral("/before"));
    }
    EXPECT_FALSE(m_window->txtImgDir()->acceptDrops());
}

INSTANTIATE_TEST_SUITE_P(Drops, fMainDrop,
                         ::testing::Values(DropCase{"sub", true}, DropCase{"a.png", true},
                                           DropCase{"phone.heic", true}, DropCase{"notes.txt", false}, DropCase{"missing", false},
                                           DropCase{"text", false}, DropCase{"web", false}),
                         [](const auto& testInfo) { return QString::fromUtf8(testInfo.param.What).remove('.').toStdString(); });

} // namespace
} // namespace pixquill
