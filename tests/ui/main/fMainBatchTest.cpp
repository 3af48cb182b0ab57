#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "engine/BatchRules.h"
#include "engine/BatchThread.h"
#include "engine/OptionTables.h"
#include "engine/WorkerSandbox.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/HeldImages.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"
#include "ui/main/FileListBox.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"
#include "ui/widgets/PictureButton.h"
#include "ui/widgets/Rv_Progbar.h"

namespace pixquill {
namespace {

// Queues a press and release on a button, as a person's click arrives: it is
// handled by whichever event processing runs next.
void PostClick(QWidget* button)
{
    const QPointF at(4, 4);
    const QPointF global = button->mapToGlobal(at);
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
}

// Five drawn images of different shapes, the window pointed at them and at a
// destination inside the same temporary folder.
class fMainBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir(m_root.path()).mkdir("photos"));
        m_source = m_root.filePath("photos");
        m_destination = m_root.filePath("thumbs");
        const QSize shapes[] = {{400, 300}, {300, 400}, {640, 64}, {90, 50}, {257, 255}};
        for (int i = 0; i < 5; ++i) {
            const QString name = QStringLiteral("img_%1.png").arg(i + 1);
            ASSERT_TRUE(test::GradientImage(shapes[i].width(), shapes[i].height()).save(Source(name), "PNG"));
        }
        m_window = StartUp();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
        m_window->txtImgDir()->setText(m_source);
        m_window->txtThumbDir()->setText(m_destination);
        m_window->SetImageMakerWrapper(m_held.Wrapper());
        connect();
    }
    void TearDown() override
    {
        delete m_window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void connect()
    {
        QObject::connect(m_window, &fMain::BatchImageDone, m_window, [this](int i, int n) {
            if (m_onImage)
                m_onImage(i, n);
        });
    }
    QString Source(const QString& name) const { return m_source + QLatin1Char('/') + name; }
    QStringList Written() const
    {
        return QDir(m_destination).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QSize SizeOf(const QString& name) const { return QImageReader(m_destination + QLatin1Char('/') + name).size(); }
    QByteArray FormatOf(const QString& name) const
    {
        return QImageReader(m_destination + QLatin1Char('/') + name).format();
    }
    void SelectAll() { QTest::mouseClick(m_window->cmdselect(0), Qt::LeftButton); }
    // Presses Start and waits for the run to end.
    void PressStart()
    {
        QTest::mouseClick(m_window->cmdAction(0), Qt::LeftButton, {}, QPoint(4, 4));
        WaitForTheRun();
    }
    void WaitForTheRun()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !m_window->Batch().IsRunning(); }, 60000));
    }
    // Image `name` is made only once Stop was pressed: what image 1's report
    // leads to happens while it is in hand.
    void HoldUntilStop(const QString& name)
    {
        fMain* window = m_window;
        m_held.Hold(name, [window] { return window->Batch().StopRequested(); });
    }
    // Previews are decoded off the window's thread.
    void WaitForPreview()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !m_window->PreviewPending(); }, 20000));
    }
    // The caption as the run gave it: the box may show it on two lines.
    QString Caption() const { return m_window->lblCount()->text().replace(QLatin1Char('\n'), QLatin1Char(' ')); }

    QTemporaryDir m_root;
    QString m_source;
    QString m_destination;
    QPointer<fMain> m_window;
    std::function<void(int, int)> m_onImage;
    test::HeldImages m_held;
};

TEST_F(fMainBatch, StartMakesAThumbnailOfEverySelectedImage)
{
    SelectAll();
    int maxSeen = -1;
    m_onImage = [&](int, int) { maxSeen = m_window->thProg()->Max(); };
    PressStart();
    EXPECT_EQ(Written(), (QStringList{"_THimg_1.jpg", "_THimg_2.jpg", "_THimg_3.jpg", "_THimg_4.jpg", "_THimg_5.jpg"}));
    const QSize expected[] = {{100, 75}, {75, 100}, {100, 10}, {90, 50}, {100, 99}};
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("_THimg_%1.jpg").arg(i + 1);
        EXPECT_EQ(SizeOf(name), expected[i]) << name.toStdString();
        EXPECT_EQ(FormatOf(name), QByteArray("jpeg")) << name.toStdString();
    }
    EXPECT_EQ(Caption(), QStringLiteral("Completed 5 of 5 images"));
    EXPECT_TRUE(m_window->lblCount()->toolTip().isEmpty());
    EXPECT_EQ(maxSeen, 5);
    EXPECT_EQ(m_window->thProg()->value(), 0);
    EXPECT_TRUE(m_window->fbImages()->SelectedNames().isEmpty());
}

// Workers whose host refuses Landlock: the run's caption says so in its
// tooltip, and the images are made all the same.
TEST_F(fMainBatch, AWorkerLockDownThatFellShortIsInTheTooltip)
{
    if (const SandboxState available = AvailableSandbox(); !available.Missing.isEmpty())
        GTEST_SKIP() << DescribeSandbox(available).toStdString();
    m_window->SetDecodeWorker({QStringLiteral(PIXQUILL_TEST_CONFINE_BINARY),
                               {QStringLiteral("landlock"), QStringLiteral(PIXQUILL_GUI_BINARY),
                                QStringLiteral("--decode-worker")},
                               60});
    SelectAll();
    PressStart();
    EXPECT_EQ(Written().size(), 5);
    EXPECT_EQ(Caption(), QStringLiteral("Completed 5 of 5 images"));
    EXPECT_EQ(m_window->lblCount()->toolTip(),
              QStringLiteral("Completed 5 of 5 images\n"
                             "decoding is not sandboxed here: Landlock refused (Operation not permitted)"));
}

// Stop pressed on seeing image 1 reported, while image 2 is in hand and image 3
// is made ahead: image 2 is the last, and nothing else is left behind.
TEST_F(fMainBatch, StopEndsTheRunAfterTheImageInHand)
{
    SelectAll();
    HoldUntilStop("img_2.png");
    m_onImage = [&](int i, int) {
        if (i == 1) {
            m_held.WaitFor({"img_3.png@_TH"});
            PostClick(m_window->cmdAction(1));
        }
    };
    PressStart();
    EXPECT_EQ(Written(), (QStringList{"_THimg_1.jpg", "_THimg_2.jpg"}));
    EXPECT_EQ(Caption(), QStringLiteral("Stopped after 2 of 5 images (2 written)"));
    EXPECT_EQ(m_window->fbImages()->SelectedNames().size(), 5);
    EXPECT_EQ(m_window->thProg()->value(), 0);
    EXPECT_FALSE(m_window->Batch().IsRunning());
    EXPECT_FALSE(m_window->StopRequested());
}

// Between two images the window is live: settings, Start, the preview.
// The window's two roads for an image: decoding here, or in its decode
// worker, which is sent the settings only when they change and the names of
// a run once, at its start.
class fMainBatchRoads : public fMainBatch, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        fMainBatch::SetUp();
        if (GetParam())
            m_window->SetDecodeWorker({QStringLiteral(PIXQUILL_GUI_BINARY), {QStringLiteral("--decode-worker")}, 60});
    }
};

INSTANTIATE_TEST_SUITE_P(Roads, fMainBatchRoads, ::testing::Bool(),
                         [](const auto& testInfo) { return std::string(testInfo.param ? "Worker" : "InProcess"); });

// Changed on seeing image 1 reported, while image 2 is in hand and images 3
// and 4 are made ahead: the change applies from image 3.
TEST_P(fMainBatchRoads, WhatHappensDuringAnImageAppliesFromTheNextOne)
{
    SelectAll();
    std::atomic<bool> changed{false};
    m_held.Hold("img_2.png", [&changed] { return changed.load(); });
    m_onImage = [&](int i, int) {
        if (i != 1)
            return;
        m_held.WaitFor({"img_3.png@_TH", "img_4.png@_TH"});
        m_window->ComboOutputFormat()->setCurrentIndex(4); // PNG
        m_window->txtSuffix()->setText(QStringLiteral("p_"));
        PostClick(m_window->cmdAction(0)); // a second Start does nothing
        // A preview of image 1 loads into the same surface the batch uses.
        FileListBox* list = m_window->fbImages();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualItemRect(list->item(0)).center());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualItemRect(list->item(0)).center());
        changed = true;
    };
    PressStart();
    EXPECT_EQ(Written(), (QStringList{"_THimg_1.jpg", "_THimg_2.jpg", "p_img_3.png", "p_img_4.png", "p_img_5.png"}));
    EXPECT_EQ(FormatOf("p_img_3.png"), QByteArray("png"));
    EXPECT_EQ(SizeOf("p_img_3.png"), QSize(100, 10));
    EXPECT_EQ(SizeOf("p_img_5.png"), QSize(100, 99));
    EXPECT_EQ(Caption(), QStringLiteral("Completed 5 of 5 images"));
    WaitForPreview();
    EXPECT_EQ(m_window->lblImageSize()->text(), QStringLiteral(" 400x 300"));
}

TEST_F(fMainBatch, NothingSelectedStillCreatesTheDestination)
{
    m_window->cmdAction_Click(2); // neither Start nor Stop
    EXPECT_TRUE(Caption().isEmpty());
    PressStart();
    EXPECT_EQ(Caption(), QStringLiteral("Completed 0 of 0 images"));
    EXPECT_TRUE(QFileInfo(m_destination).isDir());
    EXPECT_TRUE(Written().isEmpty());
}

TEST_F(fMainBatch, EmptyDestinationWritesNothing)
{
    SelectAll();
    m_window->txtThumbDir()->setText(QStringLiteral("   "));
    PressStart();
    EXPECT_EQ(Caption(), QStringLiteral("Choose a destination folder"));
    EXPECT_EQ(QDir(m_root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"photos"});
    EXPECT_EQ(m_window->fbImages()->SelectedNames().size(), 5);
}

// The destination is the source folder, with no prefix and the images' own
// format: every output would be its original, so nothing is written.
TEST_P(fMainBatchRoads, NeverWritesOverAnOriginal)
{
    QList<QByteArray> originals;
    for (int i = 1; i <= 5; ++i)
        originals.append(test::ReadFileBytes(Source(QStringLiteral("img_%1.png").arg(i))));
    m_window->txtThumbDir()->setText(m_source);
    m_window->txtSuffix()->clear();
    m_window->ComboOutputFormat()->setCurrentIndex(4); // PNG
    SelectAll();
    PressStart();
    EXPECT_EQ(Caption(), QStringLiteral("Completed 0 of 5 images (5 failed)"));
    EXPECT_TRUE(m_window->lblCount()->toolTip().startsWith(
        QStringLiteral("Completed 0 of 5 images (5 failed)\nimg_1.png: would overwrite the source image")))
        << m_window->lblCount()->toolTip().toStdString();
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(test::ReadFileBytes(Source(QStringLiteral("img_%1.png").arg(i))) == originals[i - 1]) << i;
}

// a.jpg's output a.bmp is an original only while a.bmp is among the names
// of the run: each run protects its own list, not an earlier one's.
TEST_P(fMainBatchRoads, OnlyTheRunsOwnNamesAreProtected)
{
    const QString pair = m_root.filePath("pair");
    ASSERT_TRUE(QDir().mkdir(pair));
    ASSERT_TRUE(test::GradientImage(40, 30).save(pair + QStringLiteral("/a.bmp"), "BMP"));
    ASSERT_TRUE(test::GradientImage(400, 300).save(pair + QStringLiteral("/a.jpg"), "JPEG"));
    const QByteArray original = test::ReadFileBytes(pair + QStringLiteral("/a.bmp"));
    m_window->txtImgDir()->setText(pair);
    m_window->txtThumbDir()->setText(pair);
    m_window->txtSuffix()->clear();
    m_window->ComboOutputFormat()->setCurrentIndex(0); // BMP
    ASSERT_EQ(m_window->fbImages()->Names(), (QStringList{"a.bmp", "a.jpg"}));

    SelectAll();
    PressStart();
    EXPECT_EQ(Caption(), QStringLiteral("Completed 0 of 2 images (2 failed)"));
    EXPECT_EQ(m_window->lblCount()->toolTip(), QStringLiteral("Completed 0 of 2 images (2 failed)\n"
                                                              "a.bmp: would overwrite the source image\n"
                                                              "a.jpg: would overwrite the source image a.bmp"));
    EXPECT_TRUE(test::ReadFileBytes(pair + QStringLiteral("/a.bmp")) == original);

    m_window->fbImages()->item(1)->setSelected(true);
    ASSERT_EQ(m_window->fbImages()->SelectedNames(), QStringList{"a.jpg"});
    PressStart();
    EXPECT_EQ(Caption(), QStringLiteral("Completed 1 of 1 images"));
    EXPECT_EQ(QImageReader(pair + QStringLiteral("/a.bmp")).size(), QSize(100, 75));
}

TEST_F(fMainBatch, AnUndecodableImageIsSkippedAndNamed)
{
    QFile bad(Source("img_3.png"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
    bad.write(QByteArray(700, 'x'));
    bad.close();
    SelectAll();
    PressStart();
    EXPECT_EQ(Written(), (QStringList{"_THimg_1.jpg", "_THimg_2.jpg", "_THimg_4.jpg", "_THimg_5.jpg"}));
    EXPECT_EQ(Caption(), QStringLiteral("Completed 4 of 5 images (1 failed)"));
    const QString tooltip = m_window->lblCount()->toolTip();
    EXPECT_TRUE(tooltip.startsWith(QStringLiteral("Completed 4 of 5 images (1 failed)\nimg_3.png: ")))
        << tooltip.toStdString();
    EXPECT_EQ(tooltip.count(QLatin1Char('\n')), 1);
}

// The window and the command line write the same bytes for the same job.
struct SameBytesCase {
    int Format;       // output format list row
    int FilterRow;    // resample filter list row
    const char* Flag; // the command line's name for that filter
};

void PrintTo(const SameBytesCase& c, std::ostream* os) { *os << "format " << c.Format << ", filter " << c.Flag; }

class fMainBatchSameBytes : public fMainBatch, public ::testing::WithParamInterface<SameBytesCase> {};

TEST_P(fMainBatchSameBytes, AsPixquillBatch)
{
    const SameBytesCase& c = GetParam();
    m_window->ComboOutputFormat()->setCurrentIndex(c.Format);
    m_window->comboResampleMethod()->setCurrentIndex(c.FilterRow);
    SelectAll();
    PressStart();
    const QStringList written = Written();
    ASSERT_EQ(written.size(), 5);

    const QString cliOut = m_root.filePath("cli");
    const QStringList formats{"bmp", "gif", "ico", "jpg", "png", "tga", "tif"};
    QProcess cli;
    cli.start(QStringLiteral(PIXQUILL_BATCH_BINARY),
              {QStringLiteral("--format"), formats[c.Format], QStringLiteral("--filter"), QString::fromUtf8(c.Flag),
               QStringLiteral("--quiet"), m_source, cliOut});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    ASSERT_EQ(QDir(cliOut).entryList(QDir::Files, QDir::Name), written);
    for (const QString& name : written) {
        EXPECT_EQ(test::ReadFileBytes(m_destination + QLatin1Char('/') + name),
                  test::ReadFileBytes(cliOut + QLatin1Char('/') + name))
            << name.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, fMainBatchSameBytes,
                         ::testing::Values(SameBytesCase{0, 0, "none"}, SameBytesCase{1, 0, "none"},
                                           SameBytesCase{2, 0, "none"}, SameBytesCase{3, 0, "none"},
                                           SameBytesCase{4, 0, "none"}, SameBytesCase{5, 0, "none"},
                                           SameBytesCase{6, 0, "none"}, SameBytesCase{3, 6, "lanczos3"},
                                           SameBytesCase{4, 3, "bilinear"}));

// Closed during a run: the program ends, what was written is whole, and no
// temporary file is left behind.
TEST_F(fMainBatch, ClosingDuringARunEndsTheProgramCleanly)
{
    SelectAll();
    HoldUntilStop("img_2.png");
    m_onImage = [&](int i, int) {
        if (i == 1) {
            m_held.WaitFor({"img_3.png@_TH"});
            PostClick(m_window->btnForm(2));
        }
    };
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, m_window, [this] { QTest::mouseClick(m_window->cmdAction(0), Qt::LeftButton, {}, QPoint(4, 4)); });
    QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(1); }); // a hang fails, not blocks
    const int status = QApplication::exec();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(m_window.isNull());
    // Image 3, made ahead, left no temporary file (Written lists hidden files).
    EXPECT_EQ(Written(), (QStringList{"_THimg_1.jpg", "_THimg_2.jpg"}));
    for (const QString& name : Written())
        EXPECT_EQ(SizeOf(name).isValid(), true) << name.toStdString();
}

// Start and Stop without a mouse: Alt+S presses the one that applies now,
// and a focused button takes Return or Space.
enum class PressBy { AltS, ReturnOnFocused, SpaceOnFocused };

class fMainKeys : public fMainBatch, public ::testing::WithParamInterface<PressBy> {
protected:
    void Press(int action)
    {
        PictureButton* button = m_window->cmdAction(action);
        switch (GetParam()) {
        case PressBy::AltS:
            QTest::keyClick(m_window->fbImages(), Qt::Key_S, Qt::AltModifier);
            break;
        case PressBy::ReturnOnFocused:
            button->setFocus(Qt::TabFocusReason);
            QTest::keyClick(button, Qt::Key_Return);
            break;
        case PressBy::SpaceOnFocused:
            button->setFocus(Qt::TabFocusReason);
            QTest::keyClick(button, Qt::Key_Space);
            break;
        }
    }
};

TEST_P(fMainKeys, StartsAndStopsARun)
{
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window));
    SelectAll();
    HoldUntilStop("img_2.png");
    m_onImage = [this](int i, int) {
        if (i == 1)
            Press(1);
    };
    Press(0);
    WaitForTheRun();
    EXPECT_EQ(Written(), (QStringList{"_THimg_1.jpg", "_THimg_2.jpg"}));
    EXPECT_EQ(Caption(), QStringLiteral("Stopped after 2 of 5 images (2 written)"));
}

INSTANTIATE_TEST_SUITE_P(Keys, fMainKeys,
                         ::testing::Values(PressBy::AltS, PressBy::ReturnOnFocused, PressBy::SpaceOnFocused));

// With the window's decoding in a worker process, a file that crashes or
// hangs the decoder costs a failed image, not the window. The test-only
// worker stands in for such files: the ones fuzzing found are guarded against
// before FreeImage sees them.
class fMainIsolated : public fMainBatch {
protected:
    void SetUp() override
    {
        fMainBatch::SetUp();
        for (const char* name : {"crash.png", "hang.png"})
            ASSERT_TRUE(QFile::copy(Source("img_1.png"), Source(QLatin1String(name))));
        qputenv("PIXQUILL_TEST_WORKER_CRASH_ON", "crash.png");
        qputenv("PIXQUILL_TEST_WORKER_HANG_ON", "hang.png");
        m_window->txtImgDir()->setText(m_source + QLatin1Char('/'));
        ASSERT_EQ(m_window->fbImages()->Names(), (QStringList{"crash.png", "hang.png", "img_1.png", "img_2.png",
                                                              "img_3.png", "img_4.png", "img_5.png"}));
        m_window->SetDecodeWorker({QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}, 2});
    }
    void TearDown() override
    {
        fMainBatch::TearDown();
        qunsetenv("PIXQUILL_TEST_WORKER_CRASH_ON");
        qunsetenv("PIXQUILL_TEST_WORKER_HANG_ON");
    }
    void ClickRow(int row, bool wait = true)
    {
        FileListBox* list = m_window->fbImages();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
        if (wait)
            WaitForPreview();
    }
};

TEST_F(fMainIsolated, BatchReportsTheFilesThatCrashOrHangTheDecoder)
{
    SelectAll();
    PressStart();
    EXPECT_EQ(Caption(), QStringLiteral("Completed 5 of 7 images (2 failed)"));
    EXPECT_EQ(Written(), (QStringList{"_THimg_1.jpg", "_THimg_2.jpg", "_THimg_3.jpg", "_THimg_4.jpg", "_THimg_5.jpg"}));
    EXPECT_EQ(m_window->lblCount()->toolTip(),
              QStringLiteral("Completed 5 of 7 images (2 failed)\n"
                             "crash.png: the decoder crashed on this file\n"
                             "hang.png: the decoder hung on this file (no answer within 2 s)"));
}

TEST_F(fMainIsolated, PreviewOfSuchFilesLeavesTheWindowWorking)
{
    ClickRow(0);
    EXPECT_EQ(m_window->lblImageSize()->text(), QStringLiteral("Cannot read"));
    EXPECT_EQ(m_window->lblImageSize()->toolTip(), QStringLiteral("the decoder crashed on this file"));
    ClickRow(1);
    EXPECT_EQ(m_window->lblImageSize()->toolTip(),
              QStringLiteral("the decoder hung on this file (no answer within 2 s)"));
    ClickRow(2);
    EXPECT_EQ(m_window->lblImageSize()->text(), QStringLiteral(" 400x 300"));
}

// A decoder that hangs costs that preview only: the window goes on (its busy
// cue shows), and the next row is shown long before the worker's time-out.
TEST_F(fMainIsolated, HungPreviewKeepsTheWindowAnswering)
{
    m_window->SetDecodeWorker({QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}, 60});
    ClickRow(1, false); // hang.png
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return m_window->lblImageSize()->text() == QStringLiteral("Loading\u2026"); }, 5000));
    EXPECT_TRUE(m_window->PreviewPending());
    ClickRow(2, false); // img_1.png
    EXPECT_EQ(m_window->fbImages()->currentRow(), 2);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_window->PreviewPending(); }, 20000));
    EXPECT_EQ(m_window->lblImageSize()->text(), QStringLiteral(" 400x 300"));
}

// The broken-input table in the window, decoding in the program's own worker
// (pixquill started as one): the run completes with a reason for every file
// not written, no original changes, nothing is left half-written, and a
// preview of each file leaves the window working.
TEST_F(fMainIsolated, BrokenAndHostileFilesRunAndPreview)
{
    m_window->SetDecodeWorker({QStringLiteral(PIXQUILL_GUI_BINARY), {QStringLiteral("--decode-worker")}, 2});
    const QString broken = m_root.filePath("broken");
    ASSERT_TRUE(QDir().mkdir(broken));
    const std::vector<test::BrokenInput> inputs = test::MakeBrokenInputs(broken, test::BrokenInputs());
    const auto fingerprints = [&broken] {
        QMap<QString, QByteArray> prints;
        // Ordinary files only: reading a FIFO would wait for a writer.
        for (const QFileInfo& info : QDir(broken).entryInfoList(QDir::Files | QDir::Hidden))
            prints.insert(info.fileName(), QCryptographicHash::hash(test::ReadFileBytes(info.filePath()),
                                                                    QCryptographicHash::Sha256));
        return prints;
    };
    const auto before = fingerprints();
    m_window->ComboFilter()->setCurrentIndex(kFileMaskAllFiles);
    m_window->txtImgDir()->setText(broken);
    const QStringList listed = m_window->fbImages()->Names();

    for (int row = 0; row < listed.size(); ++row) {
        ClickRow(row);
        const bool shown = m_window->lblImageSize()->text() != QLatin1String("Cannot read");
        EXPECT_TRUE(shown || !m_window->lblImageSize()->toolTip().isEmpty()) << listed[row].toStdString();
    }
    SelectAll();
    PressStart();

    QMap<QString, ImageResult> results;
    for (const ImageResult& result : m_window->BatchResults())
        results.insert(result.Name, result);
    EXPECT_EQ(results.size(), listed.size());
    int written = 0;
    for (const test::BrokenInput& input : inputs) {
        // FIFOs, sockets and dangling links are never listed, so never opened.
        ASSERT_EQ(results.contains(input.Name), input.Kind != test::BrokenKind::NotAFile) << input.Name.toStdString();
        if (!results.contains(input.Name))
            continue;
        const ImageResult& result = results[input.Name];
        written += result.Written ? 1 : 0;
        if (input.Expected == test::Expect::Loads) {
            EXPECT_TRUE(result.Written) << input.Name.toStdString() << ": " << result.Reason.toStdString();
        }
        if (input.Expected == test::Expect::Fails) {
            EXPECT_FALSE(result.Written) << input.Name.toStdString();
        }
        if (!result.Written) {
            EXPECT_TRUE(input.ReasonMatches(result.Reason)) << input.Name.toStdString() << ": " << result.Reason.toStdString();
        }
    }
    EXPECT_EQ(Caption(), CompletionCaption(written, int(listed.size())));
    EXPECT_EQ(fingerprints(), before);
    for (const QString& name : Written())
        EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << name.toStdString();
    // Still a working window.
    m_window->txtImgDir()->setText(m_source);
    ClickRow(2);
    EXPECT_EQ(m_window->lblImageSize()->text(), QStringLiteral(" 400x 300"));
}

} // namespace
} // namespace pixquill
