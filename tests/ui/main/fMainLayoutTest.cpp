#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QScreen>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "engine/BatchRules.h"
#include "tests/support/QtPrinters.h"
#include "ui/main/FileListBox.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"
#include "ui/widgets/PictureButton.h"
#include "ui/widgets/Rv_Progbar.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

// One row of the window's control table. Positions are those after the first
// show: lblLogo and imBanner have then been re-centred.
struct ControlRow {
    const char* Name;
    const char* Container;
    QRect Geometry;
    const char* Caption; // nullptr: not a captioned control
};

void PrintTo(const ControlRow& row, std::ostream* os) { *os << row.Name; }

const ControlRow kControls[] = {
    {"imBanner", "fMain", {122, 27, 468, 60}, nullptr},
    {"btnForm(0)", "fMain", {617, 27, 21, 21}, nullptr},
    {"btnForm(1)", "fMain", {644, 27, 21, 21}, nullptr},
    {"btnForm(2)", "fMain", {670, 27, 21, 21}, nullptr},
    {"Image1(0)", "fMain", {25, 143, 20, 20}, nullptr},
    {"Image1(1)", "fMain", {25, 250, 20, 20}, nullptr},
    {"Image1(2)", "fMain", {507, 97, 20, 20}, nullptr},
    {"Image1(3)", "fMain", {512, 341, 20, 20}, nullptr},
    {"fraPaths", "fMain", {47, 117, 316, 94}, ""},
    {"fraOutputOptions", "fMain", {47, 216, 316, 150}, "Output Options"},
    {"fraSelect", "fMain", {377, 116, 289, 212}, "Select Images:"},
    {"cmdAction(0)", "fMain", {377, 337, 123, 31}, nullptr},
    {"cmdAction(1)", "fMain", {545, 337, 123, 31}, nullptr},
    {"lblLogo", "fMain", {20, 402, 673, 33}, "Pixquill by Zorvex"},
    {"Label3", "fraPaths", {29, 22, 73, 12}, "Source Folder:"},
    {"txtImgDir", "fraPaths", {103, 19, 172, 19}, ""},
    {"cmdBrowseImg", "fraPaths", {278, 20, 21, 18}, "..."},
    {"Label5", "fraPaths", {6, 44, 96, 12}, "Destination Folder:"},
    {"txtThumbDir", "fraPaths", {103, 42, 172, 19}, ""},
    {"cmdBrowseThumb", "fraPaths", {278, 43, 21, 18}, "..."},
    {"Label1", "fraPaths", {51, 68, 52, 12}, "File Mask:"},
    {"ComboFilter", "fraPaths", {103, 65, 172, 21}, "All Supported Formats"},
    {"Label2", "fraOutputOptions", {5, 15, 71, 12}, "Width(Pixels):"},
    {"Labelhgt", "fraOutputOptions", {79, 15, 76, 12}, "Height(Pixels):"},
    {"Labelfrmt", "fraOutputOptions", {167, 15, 77, 12}, "Output Format:"},
    {"Textwid", "fraOutputOptions", {6, 30, 64, 20}, "100"},
    {"Texthgt", "fraOutputOptions", {79, 30, 67, 20}, "100"},
    {"ComboOutputFormat", "fraOutputOptions", {167, 30, 133, 21}, "JPEG(*.jpg)"},
    {"LabelResizeMethod", "fraOutputOptions", {7, 53, 67, 12}, "Resize Mode:"},
    {"Label4", "fraOutputOptions", {167, 53, 92, 12}, "Output File Prefix:"},
    {"ComboResizeMethod", "fraOutputOptions", {6, 66, 141, 21}, "Maintain Aspect Ratio"},
    {"txtSuffix", "fraOutputOptions", {167, 66, 133, 21}, "_TH"},
    {"lblProgress", "fraOutputOptions", {7, 89, 45, 12}, "Progress"},
    {"lblResamplemethod", "fraOutputOptions", {167, 89, 82, 12}, "Resample Filter:"},
    {"lblCount", "fraOutputOptions", {7, 102, 140, 21}, ""},
    {"comboResampleMethod", "fraOutputOptions", {167, 102, 134, 21}, "None"},
    {"thProg", "fraOutputOptions", {7, 128, 294, 15}, nullptr},
    {"cmdselect(0)", "fraSelect", {4, 14, 81, 22}, "Select All"},
    {"cmdselect(1)", "fraSelect", {87, 14, 80, 22}, "Clear"},
    {"fbImages", "fraSelect", {3, 38, 166, 162}, nullptr},
    {"fraPreview", "fraSelect", {172, 8, 110, 120}, "Preview"},
    {"ImgPreview", "fraPreview", {4, 12, 102, 105}, nullptr},
    {"chkPreview", "fraSelect", {172, 129, 89, 18}, "Show &Preview"},
    {"fraInfo", "fraSelect", {172, 143, 111, 56}, "Information"},
    {"lblImageSize", "fraInfo", {4, 12, 103, 18}, ""},
    {"lblImageFileSize", "fraInfo", {4, 34, 103, 18}, ""},
};

// The names that take the Verdana font.
const char* const kVerdanaControls[] = {
    "fraPaths", "fraOutputOptions", "fraSelect", "Label3", "Label5", "Label1", "Label2", "Labelhgt",
    "Labelfrmt", "LabelResizeMethod", "Label4", "lblProgress", "lblResamplemethod", "cmdselect(0)",
    "fraPreview", "chkPreview", "fraInfo", "lblImageSize", "lblImageFileSize",
};

// The names that name no font: they take the default one, not their frame's.
const char* const kDefaultFontControls[] = {
    "txtImgDir", "cmdBrowseImg", "txtThumbDir", "cmdBrowseThumb", "ComboFilter", "Textwid", "Texthgt",
    "ComboOutputFormat", "ComboResizeMethod", "txtSuffix", "lblCount", "comboResampleMethod",
    "cmdselect(1)", "fbImages",
};

QString CaptionOf(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* box = qobject_cast<QLineEdit*>(widget))
        return box->text();
    if (auto* check = qobject_cast<QCheckBox*>(widget))
        return check->text();
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        return frame->title();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText();
    return QStringLiteral("<no caption>");
}

class fMainShown : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_window = StartUp();
        QCoreApplication::processEvents();
    }
    static void TearDownTestSuite()
    {
        delete s_window.data();
    }
    static QPointer<fMain> s_window;
};
QPointer<fMain> fMainShown::s_window;

class fMainControlTable : public fMainShown, public ::testing::WithParamInterface<ControlRow> {};

TEST_P(fMainControlTable, ContainerPositionSizeAndCaption)
{
    const ControlRow& row = GetParam();
    auto* widget = s_window->findChild<QWidget*>(QLatin1String(row.Name));
    ASSERT_NE(widget, nullptr) << row.Name;
    ASSERT_NE(widget->parentWidget(), nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), QLatin1String(row.Container));
    EXPECT_EQ(widget->geometry(), row.Geometry);
    if (row.Caption) {
        EXPECT_EQ(CaptionOf(widget), QString::fromUtf8(row.Caption));
    }
    EXPECT_TRUE(widget->isVisible());
}

INSTANTIATE_TEST_SUITE_P(EveryControl, fMainControlTable, ::testing::ValuesIn(kControls),
                         [](const ::testing::TestParamInfo<ControlRow>& testInfo) {
                             QString name = QString::fromUtf8(testInfo.param.Name);
                             name.remove(QLatin1Char('(')).remove(QLatin1Char(')'));
                             return name.toStdString();
                         });

TEST_F(fMainShown, EveryControlOfTheWindowIsInTheTable)
{
    // Named children of the window and its frames, apart from the pieces
    // that controls make of themselves.
    QSet<QString> listed;
    for (const ControlRow& row : kControls)
        listed.insert(QString::fromUtf8(row.Name));
    for (QWidget* child : s_window->findChildren<QWidget*>()) {
        if (child->isWindow() || child->objectName().isEmpty() || child->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QWidget* parent = child->parentWidget();
        if (parent != s_window && !qobject_cast<QGroupBox*>(parent))
            continue;
        EXPECT_TRUE(listed.contains(child->objectName())) << child->objectName().toStdString();
    }
}

TEST_F(fMainShown, FontsOfTheTable)
{
    for (const char* name : kVerdanaControls) {
        auto* widget = s_window->findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget->font().family(), QStringLiteral("Verdana")) << name;
        EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), 6.75) << name;
        EXPECT_FALSE(widget->font().bold()) << name;
    }
    for (const char* name : kDefaultFontControls) {
        auto* widget = s_window->findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget->font(), s_window->font()) << name;
    }
    const QFont logo = s_window->lblLogo()->font();
    EXPECT_EQ(logo.family(), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(logo.pointSizeF(), 18.0);
    EXPECT_TRUE(logo.bold());
    EXPECT_EQ(s_window->lblLogo()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_FALSE(s_window->lblLogo()->autoFillBackground());
}

TEST_F(fMainShown, WindowIsBorderlessWithItsSizeColourCaptionAndIcon)
{
    EXPECT_TRUE(s_window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(s_window->size(), QSize(713, 449));
    EXPECT_EQ(s_window->palette().color(QPalette::Window), QColor(0x80, 0xA0, 0xC0));
    EXPECT_EQ(s_window->windowTitle(), QStringLiteral("Pixquill by Zorvex"));
    EXPECT_EQ(s_window->lblLogo()->text(), s_window->windowTitle());
    const QIcon icon = s_window->windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(32, 32).size(), QSize(32, 32));
    // No owner: the window has its own task bar entry.
    EXPECT_EQ(s_window->parentWidget(), nullptr);
}

TEST_F(fMainShown, OpensCentredOnTheScreen)
{
    const QRect screen = s_window->screen()->availableGeometry();
    const QPoint delta = s_window->frameGeometry().center() - screen.center();
    EXPECT_LE(std::abs(delta.x()), 1);
    EXPECT_LE(std::abs(delta.y()), 1);
}

TEST_F(fMainShown, ResizeCentresLogoAndBannerByTheirLeftEdgeOnly)
{
    EXPECT_DOUBLE_EQ(s_window->LogoLeft(), 20.0);
    EXPECT_DOUBLE_EQ(s_window->BannerLeft(), 122.5);
    const int bannerX = s_window->imBanner()->x();
    EXPECT_TRUE(bannerX == 122 || bannerX == 123) << bannerX;
    EXPECT_EQ(s_window->imBanner()->y(), 27);
    EXPECT_EQ(s_window->lblLogo()->pos(), QPoint(20, 402));

    s_window->resize(900, 449);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(s_window->LogoLeft(), 113.5);
    EXPECT_DOUBLE_EQ(s_window->BannerLeft(), 216.0);
    EXPECT_EQ(s_window->imBanner()->geometry(), QRect(216, 27, 468, 60));
    EXPECT_EQ(s_window->lblLogo()->y(), 402);
    EXPECT_EQ(s_window->lblLogo()->size(), QSize(673, 33));
    s_window->resize(713, 449);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(s_window->BannerLeft(), 122.5);
}

TEST_F(fMainShown, PicturesTipsAndCursors)
{
    const char* const tips[] = {
        "Step 1) Select source, destination folders, and types of files to read.",
        "Step 2) Set thumbnail options.",
        "Step 3) Choose images for conversion. Hold <CTRL> for multiple select.",
        "Press START or STOP",
    };
    for (int i = 0; i < 4; ++i) {
        QLabel* step = s_window->Image1(i);
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->toolTip(), QString::fromUtf8(tips[i]));
        EXPECT_EQ(step->pixmap().size(), QSize(20, 20));
    }
    EXPECT_EQ(s_window->imBanner()->pixmap().size(), QSize(468, 60));
    for (QWidget* pointing : {static_cast<QWidget*>(s_window->imBanner()), static_cast<QWidget*>(s_window->lblLogo())}) {
        EXPECT_EQ(pointing->cursor().shape(), Qt::BitmapCursor);
        EXPECT_EQ(pointing->cursor().pixmap().size(), QSize(32, 32));
    }
    EXPECT_EQ(s_window->ImgPreview()->toolTip(), QStringLiteral("DblClick for full-screen view."));
}

TEST_F(fMainShown, PictureButtonsTakeTheSizeOfTheirFaces)
{
    for (int i = 0; i < 3; ++i) {
        PictureButton* button = s_window->btnForm(i);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->Index(), i);
        EXPECT_EQ(button->Picture().size(), QSize(21, 21));
        EXPECT_EQ(button->PictureHover().size(), QSize(21, 21));
        // Pressed shows the normal face.
        EXPECT_EQ(button->PictureDown(), button->Picture());
        EXPECT_NE(button->PictureHover(), button->Picture());
    }
    for (int i = 0; i < 2; ++i) {
        PictureButton* button = s_window->cmdAction(i);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->Index(), i);
        EXPECT_EQ(button->Picture().size(), QSize(123, 31));
        EXPECT_EQ(button->PictureDown(), button->Picture());
    }
}

TEST_F(fMainShown, ProgressBarCounterAndPreviewLook)
{
    Rv_Progbar* bar = s_window->thProg();
    EXPECT_EQ(bar->BackColor(), 0x00C0A080u);
    EXPECT_EQ(bar->Barcolor(), 0x00C08B0Eu);
    EXPECT_EQ(bar->Barstyle(), 5);
    EXPECT_EQ(bar->BorderStyle(), 3);
    EXPECT_EQ(bar->Min(), 0);
    EXPECT_EQ(bar->Max(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->BarOffset(), 0);

    QLabel* count = s_window->lblCount();
    EXPECT_EQ(count->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(count->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(count->frameShape(), QFrame::Box);
    EXPECT_EQ(count->lineWidth(), 1);

    SurfaceWidget* preview = s_window->ImgPreview();
    EXPECT_EQ(preview->surface().ScaleWidth(), 98);
    EXPECT_EQ(preview->surface().ScaleHeight(), 101);
    EXPECT_EQ(preview->surface().BackColor(), QColor(0x80, 0xA0, 0xC0));
}

// Every caption the counter can show is readable in its box, however many
// images: whole, on at most two lines, never elided; the design's own
// captions as they are, the others with their full text in the tooltip.
struct CountRow {
    QString Caption;
    bool Verbatim; // short enough to be shown as it is, in the box's own font
};

void PrintTo(const CountRow& row, std::ostream* os) { *os << row.Caption.toStdString(); }

class fMainCountCaption : public fMainShown, public ::testing::WithParamInterface<CountRow> {};

TEST_P(fMainCountCaption, FitsItsBox)
{
    const CountRow& row = GetParam();
    QLabel* count = s_window->lblCount();
    s_window->ShowCountCaption(row.Caption);
    const QString shown = count->text();
    EXPECT_EQ(QString(shown).replace(QLatin1Char('\n'), QLatin1Char(' ')), row.Caption);
    const QFontMetricsF metrics(count->font());
    const QStringList lines = shown.split(QLatin1Char('\n'));
    ASSERT_LE(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line) + 2 * count->indent(), count->contentsRect().width())
            << line.toStdString();
    EXPECT_LE(metrics.height() + static_cast<qreal>(lines.size() - 1) * metrics.lineSpacing(),
              count->contentsRect().height());
    EXPECT_GE(count->font().pointSizeF(), 6.0);
    const bool asItIs = lines.size() == 1 && count->font().pointSizeF() == 8.0;
    EXPECT_TRUE(asItIs || !row.Verbatim);
    // Whatever is not shown as it is has the caption in its tooltip.
    EXPECT_EQ(count->toolTip(), asItIs ? QString() : row.Caption);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, fMainCountCaption,
    ::testing::Values(CountRow{QStringLiteral("Processing 1 of 5"), true},
                      CountRow{QStringLiteral("Processing 99999 of 99999"), false},
                      CountRow{CompletionCaption(0, 0), true},
                      CountRow{CompletionCaption(14, 22), false},
                      CountRow{CompletionCaption(2000, 2000), false},
                      CountRow{CompletionCaption(99999, 99999), false},
                      CountRow{CompletionCaption(9, 13), false},
                      CountRow{CompletionCaption(1, 99999), false},
                      CountRow{StoppedCaption(14, 22, 14, 0), false},
                      CountRow{StoppedCaption(99998, 99999, 1, 0), false},
                      CountRow{StoppedCaption(99999, 99999, 99998, 0), false},
                      CountRow{QStringLiteral("Choose a destination folder"), false}));

// Every entry of the drop-down lists reads whole in the open list.
class fMainPopupWidth : public fMainShown, public ::testing::WithParamInterface<const char*> {};

TEST_P(fMainPopupWidth, FitsTheLongestEntry)
{
    auto* combo = s_window->findChild<QComboBox*>(QLatin1String(GetParam()));
    ASSERT_NE(combo, nullptr);
    const QFontMetrics metrics(combo->font());
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(i)));
    EXPECT_GT(widest, 0);
    EXPECT_GE(combo->view()->minimumWidth(), widest + 2 * combo->view()->frameWidth());
    EXPECT_GE(combo->view()->minimumWidth(), combo->width());
}

INSTANTIATE_TEST_SUITE_P(EveryList, fMainPopupWidth,
                         ::testing::Values("ComboFilter", "ComboOutputFormat", "ComboResizeMethod",
                                           "comboResampleMethod"));

} // namespace
} // namespace pixquill
