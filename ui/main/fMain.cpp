#include "fMain.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QThread>
#include <QWindowStateChangeEvent>

#include "codec/OleColor.h"
#include "codec/Rounding.h"
#include "engine/BatchEngine.h"
#include "engine/BatchThread.h"
#include "engine/FolderListing.h"
#include "engine/OptionTables.h"
#include "resources/Pictures.h"
#include "ui/about/fAbout.h"
#include "ui/display/fFullScale.h"
#include "ui/main/CountCaption.h"
#include "ui/main/FileListBox.h"
#include "ui/main/Fonts.h"
#include "ui/main/FrameBox.h"
#include "ui/main/ImagePreview.h"
#include "ui/main/LiveSettings.h"
#include "ui/main/Product.h"
#include "ui/main/mBrowseForFolder.h"
#include "ui/main/mUtils.h"
#include "ui/widgets/PictureButton.h"
#include "ui/widgets/Rv_Progbar.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {

namespace {

const QColor kBodyColour(0x80, 0xA0, 0xC0);
constexpr int kSunkenEdge = 6; // sunken outer and inner lines: two pixels
constexpr int kCountIndent = 2;
// Room beside an entry's text in a drop-down list's popup.
constexpr int kPopupTextMargins = 16;
// A preview shown within this needs no busy cue.
constexpr int kPreviewBusyAfterMs = 150;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry, bool verdana = true)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(verdana ? VerdanaFont() : DefaultFont());
    return label;
}

QLineEdit* MakeTextBox(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    // Not the frame's Verdana: controls that name no font take the default.
    box->setFont(DefaultFont());
    // A folder dropped on a box is dropped on the window, not typed in.
    box->setAcceptDrops(false);
    return box;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption, QRect geometry)
{
    auto* frame = new FrameBox(caption, parent);
    frame->setObjectName(QLatin1String(name));
    frame->setGeometry(geometry);
    frame->setFont(VerdanaFont());
    frame->setAutoFillBackground(true);
    QPalette pal = frame->palette();
    pal.setColor(QPalette::Window, kBodyColour);
    frame->setPalette(pal);
    return frame;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, bool editable, QRect geometry)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setEditable(editable);
    if (editable)
        combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setAcceptDrops(false);
    combo->setGeometry(geometry);
    combo->setFont(DefaultFont());
    if (combo->lineEdit())
        combo->lineEdit()->setAcceptDrops(false);
    combo->setMaxVisibleItems(16);
    return combo;
}

// The list's popup as wide as its longest entry (the box keeps its width),
// so no entry is cut short; whatever rows the tables hold.
void FitPopupToEntries(QComboBox* combo)
{
    QAbstractItemView* view = combo->view();
    const int scrollBar = combo->count() > combo->maxVisibleItems()
        ? view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view)
        : 0;
    const int frame = 2 * view->frameWidth();
    // The entries are drawn in the box's font, with a menu's margins.
    const QFontMetrics metrics(combo->font());
    int widest = view->sizeHintForColumn(0);
    for (int i = 0; i < combo->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(i)) + kPopupTextMargins);
    view->setMinimumWidth(std::max(combo->width(), widest + scrollBar + frame));
}

// Text typed into an editable list leaves no entry selected (so the list's
// selection handler does not run and readers see index -1), while the typed
// text stays in the box.
void UnselectOnTyping(QComboBox* combo)
{
    QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [combo](const QString& text) {
        if (combo->currentIndex() < 0)
            return;
        QLineEdit* edit = combo->lineEdit();
        const int cursor = edit->cursorPosition();
        {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(-1);
        }
        edit->setText(text);
        edit->setCursorPosition(cursor);
    });
}

PictureButton* MakePictureButton(QWidget* parent, const char* group, int index, const QString& face,
                                 QPoint position)
{
    auto* button = new PictureButton(parent);
    button->setObjectName(QStringLiteral("%1(%2)").arg(QLatin1String(group)).arg(index));
    button->SetIndex(index);
    const QImage normal = LoadPicture(face + QStringLiteral(".png"));
    button->SetPicture(normal);
    button->SetPictureHover(LoadPicture(face + QStringLiteral("-hover.png")));
    button->SetPictureDown(normal);
    button->move(position);
    return button;
}

// The folder a drop names: a local folder, or the folder of a local image
// file (one the default mask lists). Empty for anything else.
QString DroppedFolder(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return {};
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile())
        return {};
    const QFileInfo info(url.toLocalFile());
    if (info.isDir())
        return info.absoluteFilePath();
    if (info.isFile() && MatchesMask(info.fileName(), *FileMaskAt(kFileMaskAllReadable)))
        return info.absolutePath();
    return {};
}

} // namespace

fMain::fMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint)
    , m_skin(LoadPicture(QStringLiteral("skin.png")))
    , m_picThumb(45, 45, ColorFromOle(kSystemWindowBackground))
    , m_PicLoad(45, 45, ColorFromOle(kSystemWindowBackground))
{
    setObjectName(QStringLiteral("fMain"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(kClientWidth, kClientHeight);
    setFont(DefaultFont());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBodyColour);
    setPalette(pal);
    setWindowIcon(WindowIcon());

    m_PicLoad.SetAutoSize(true);
    setAcceptDrops(true);

    m_liveSettings = std::make_unique<LiveSettings>(*this);
    m_run = new BatchThread(this);
    connect(m_run, &BatchThread::ImageCommitted, this, &fMain::BatchImageCommitted);
    connect(m_run, &BatchThread::Finished, this, &fMain::BatchFinished);
    m_previewLoader = new PreviewLoader(this);
    connect(m_previewLoader, &PreviewLoader::Ready, this, &fMain::PreviewReady);
    m_previewBusy = new QTimer(this);
    m_previewBusy->setSingleShot(true);
    m_previewBusy->setInterval(kPreviewBusyAfterMs);
    connect(m_previewBusy, &QTimer::timeout, this, [this] {
        m_lblImageSize->setText(QStringLiteral("Loading\u2026"));
        m_lblImageSize->setToolTip(QString());
        m_ImgPreview->setCursor(Qt::BusyCursor);
    });

    CreateControls();
    SetTabOrder();
    Form_Load();
    // Connected after the controls' own handlers, which they follow: the
    // filter's code is set before it is read.
    const auto refresh = [this] { m_liveSettings->Refresh(); };
    for (QLineEdit* box : {m_txtThumbDir, m_txtSuffix, m_Textwid, m_Texthgt})
        connect(box, &QLineEdit::textChanged, this, refresh);
    for (QComboBox* combo : {m_ComboResizeMethod, m_ComboOutputFormat, m_comboResampleMethod})
        connect(combo, &QComboBox::currentIndexChanged, this, refresh);
    refresh();
    m_txtImgDir->setFocus();
}

fMain::~fMain() = default;

void fMain::CreateControls()
{
    m_imBanner = new QLabel(this);
    m_imBanner->setObjectName(QStringLiteral("imBanner"));
    m_imBanner->setGeometry(137, 27, 468, 60);
    m_imBanner->setPixmap(LoadPixmap(QStringLiteral("banner.jpg")));
    m_imBanner->setCursor(HandCursor());
    m_imBanner->installEventFilter(this);

    const std::array<const char*, 3> formFaces = {"button-about", "button-minimise", "button-close"};
    const std::array<QPoint, 3> formPositions = {QPoint(617, 27), QPoint(644, 27), QPoint(670, 27)};
    for (int i = 0; i < 3; ++i) {
        m_btnForm[i] = MakePictureButton(this, "btnForm", i, QLatin1String(formFaces[i]), formPositions[i]);
        connect(m_btnForm[i], &PictureButton::Click, this, &fMain::btnForm_Click);
    }

    const std::array<QPoint, 4> stepPositions = {QPoint(25, 143), QPoint(25, 250), QPoint(507, 97),
                                                 QPoint(512, 341)};
    const std::array<QString, 4> stepTips = {
        QStringLiteral("Step 1) Select source, destination folders, and types of files to read."),
        QStringLiteral("Step 2) Set thumbnail options."),
        QStringLiteral("Step 3) Choose images for conversion. Hold <CTRL> for multiple select."),
        QStringLiteral("Press START or STOP"),
    };
    for (int i = 0; i < 4; ++i) {
        auto* step = new QLabel(this);
        step->setObjectName(QStringLiteral("Image1(%1)").arg(i));
        step->setGeometry(QRect(stepPositions[i], QSize(20, 20)));
        step->setPixmap(LoadPixmap(QStringLiteral("step-%1.png").arg(i + 1)));
        step->setToolTip(stepTips[i]);
        m_Image1[i] = step;
    }

    m_fraPaths = MakeFrame(this, "fraPaths", QString(), QRect(47, 117, 316, 94));
    m_fraOutputOptions = MakeFrame(this, "fraOutputOptions", QStringLiteral("Output Options"),
                                   QRect(47, 216, 316, 150));
    m_fraSelect = MakeFrame(this, "fraSelect", QStringLiteral("Select Images:"), QRect(377, 116, 289, 212));

    const std::array<const char*, 2> actionFaces = {"button-start", "button-stop"};
    const std::array<QPoint, 2> actionPositions = {QPoint(377, 337), QPoint(545, 337)};
    for (int i = 0; i < 2; ++i) {
        m_cmdAction[i] = MakePictureButton(this, "cmdAction", i, QLatin1String(actionFaces[i]), actionPositions[i]);
        m_cmdAction[i]->SetKeyboardFocusable(true);
        connect(m_cmdAction[i], &PictureButton::Click, this, &fMain::cmdAction_Click);
    }
    // Both faces underline the S: Alt+S presses the one that applies now.
    auto* altS = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_S), this);
    connect(altS, &QShortcut::activated, this, [this] { cmdAction_Click(m_run->IsRunning() ? 1 : 0); });

    m_lblLogo = new QLabel(this);
    m_lblLogo->setObjectName(QStringLiteral("lblLogo"));
    m_lblLogo->setGeometry(27, 402, 673, 33);
    m_lblLogo->setTextFormat(Qt::PlainText);
    m_lblLogo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_lblLogo->setFont(ArialFont(18.0, true));
    m_lblLogo->setCursor(HandCursor());
    m_lblLogo->installEventFilter(this);

    // Paths frame.
    m_Label3 = MakeLabel(m_fraPaths, "Label3", QStringLiteral("Source Folder:"), QRect(29, 22, 73, 12));
    m_txtImgDir = MakeTextBox(m_fraPaths, "txtImgDir", QString(), QRect(103, 19, 172, 19));
    m_cmdBrowseImg = new QPushButton(QStringLiteral("..."), m_fraPaths);
    m_cmdBrowseImg->setObjectName(QStringLiteral("cmdBrowseImg"));
    m_cmdBrowseImg->setGeometry(278, 20, 21, 18);
    m_cmdBrowseImg->setFont(DefaultFont());
    connect(m_cmdBrowseImg, &QPushButton::clicked, this, &fMain::cmdBrowseImg_Click);
    m_Label5 = MakeLabel(m_fraPaths, "Label5", QStringLiteral("Destination Folder:"), QRect(6, 44, 96, 12));
    m_txtThumbDir = MakeTextBox(m_fraPaths, "txtThumbDir", QString(), QRect(103, 42, 172, 19));
    m_cmdBrowseThumb = new QPushButton(QStringLiteral("..."), m_fraPaths);
    m_cmdBrowseThumb->setObjectName(QStringLiteral("cmdBrowseThumb"));
    m_cmdBrowseThumb->setGeometry(278, 43, 21, 18);
    m_cmdBrowseThumb->setFont(DefaultFont());
    connect(m_cmdBrowseThumb, &QPushButton::clicked, this, &fMain::cmdBrowseThumb_Click);
    m_Label1 = MakeLabel(m_fraPaths, "Label1", QStringLiteral("File Mask:"), QRect(51, 68, 52, 12));
    m_Label1->installEventFilter(this);
    m_ComboFilter = MakeCombo(m_fraPaths, "ComboFilter", false, QRect(103, 65, 172, 21));

    // Output options frame.
    m_Label2 = MakeLabel(m_fraOutputOptions, "Label2", QStringLiteral("Width(Pixels):"), QRect(5, 15, 71, 12));
    m_Labelhgt = MakeLabel(m_fraOutputOptions, "Labelhgt", QStringLiteral("Height(Pixels):"), QRect(79, 15, 76, 12));
    m_Labelfrmt = MakeLabel(m_fraOutputOptions, "Labelfrmt", QStringLiteral("Output Format:"), QRect(167, 15, 77, 12));
    m_Textwid = MakeTextBox(m_fraOutputOptions, "Textwid", QStringLiteral("100"), QRect(6, 30, 64, 20));
    m_Texthgt = MakeTextBox(m_fraOutputOptions, "Texthgt", QStringLiteral("100"), QRect(79, 30, 67, 20));
    m_ComboOutputFormat = MakeCombo(m_fraOutputOptions, "ComboOutputFormat", true, QRect(167, 30, 133, 21));
    m_LabelResizeMethod = MakeLabel(m_fraOutputOptions, "LabelResizeMethod", QStringLiteral("Resize Mode:"),
                                    QRect(7, 53, 67, 12));
    m_Label4 = MakeLabel(m_fraOutputOptions, "Label4", QStringLiteral("Output File Prefix:"), QRect(167, 53, 92, 12));
    m_ComboResizeMethod = MakeCombo(m_fraOutputOptions, "ComboResizeMethod", true, QRect(6, 66, 141, 21));
    m_txtSuffix = MakeTextBox(m_fraOutputOptions, "txtSuffix", QStringLiteral("_TH"), QRect(167, 66, 133, 21));
    m_lblProgress = MakeLabel(m_fraOutputOptions, "lblProgress", QStringLiteral("Progress"), QRect(7, 89, 45, 12));
    m_lblResamplemethod = MakeLabel(m_fraOutputOptions, "lblResamplemethod", QStringLiteral("Resample Filter:"),
                                    QRect(167, 89, 82, 12));
    m_lblCount = MakeLabel(m_fraOutputOptions, "lblCount", QString(), QRect(7, 102, 140, 21), false);
    m_lblCount->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_lblCount->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_lblCount->setLineWidth(1);
    // A fixed indent: the frame's default one is half an "x", which the
    // caption fitting would have to guess.
    m_lblCount->setIndent(kCountIndent);
    m_lblCount->setAutoFillBackground(true);
    {
        QPalette pal = m_lblCount->palette();
        pal.setColor(QPalette::Window, Qt::white);
        pal.setColor(QPalette::WindowText, Qt::black);
        m_lblCount->setPalette(pal);
    }
    m_comboResampleMethod = MakeCombo(m_fraOutputOptions, "comboResampleMethod", false, QRect(167, 102, 134, 21));
    m_thProg = new Rv_Progbar(m_fraOutputOptions);
    m_thProg->setObjectName(QStringLiteral("thProg"));
    m_thProg->setGeometry(7, 128, 294, 15);
    m_thProg->SetBackColor(0x00C0A080u);
    m_thProg->SetBarcolor(0x00C08B0Eu);
    m_thProg->SetBarstyle(5);
    m_thProg->SetBorderStyle(3);

    // Select frame.
    m_cmdselect[0] = new QPushButton(QStringLiteral("Select All"), m_fraSelect);
    m_cmdselect[0]->setObjectName(QStringLiteral("cmdselect(0)"));
    m_cmdselect[0]->setGeometry(4, 14, 81, 22);
    m_cmdselect[0]->setFont(VerdanaFont());
    m_cmdselect[1] = new QPushButton(QStringLiteral("Clear"), m_fraSelect);
    m_cmdselect[1]->setObjectName(QStringLiteral("cmdselect(1)"));
    m_cmdselect[1]->setGeometry(87, 14, 80, 22);
    m_cmdselect[1]->setFont(DefaultFont());
    for (int i = 0; i < 2; ++i)
        connect(m_cmdselect[i], &QPushButton::clicked, this, [this, i] { cmdselect_Click(i); });
    m_fbImages = new FileListBox(m_fraSelect);
    m_fbImages->setObjectName(QStringLiteral("fbImages"));
    m_fbImages->setGeometry(3, 38, 166, 162);
    m_fbImages->setFont(DefaultFont());
    connect(m_fbImages, &FileListBox::Click, this, &fMain::fbImages_Click);

    m_fraPreview = MakeFrame(m_fraSelect, "fraPreview", QStringLiteral("Preview"), QRect(172, 8, 110, 120));
    m_ImgPreview = new SurfaceWidget(m_fraPreview);
    m_ImgPreview->setObjectName(QStringLiteral("ImgPreview"));
    m_ImgPreview->SetEdgeStyle(kSunkenEdge);
    m_ImgPreview->setGeometry(4, 12, 102, 105);
    // Sized before the first show, so that previews can draw into it at once.
    m_ImgPreview->surface().Resize(102, 105);
    m_ImgPreview->surface().SetBackColor(kBodyColour);
    m_ImgPreview->surface().Cls();
    m_ImgPreview->setToolTip(QStringLiteral("DblClick for full-screen view."));
    connect(m_ImgPreview, &SurfaceWidget::DblClick, this, &fMain::ImgPreview_DblClick);

    m_chkPreview = new QCheckBox(QStringLiteral("Show &Preview"), m_fraSelect);
    m_chkPreview->setObjectName(QStringLiteral("chkPreview"));
    m_chkPreview->setGeometry(172, 129, 89, 18);
    m_chkPreview->setFont(VerdanaFont());
    m_chkPreview->setChecked(true);

    m_fraInfo = MakeFrame(m_fraSelect, "fraInfo", QStringLiteral("Information"), QRect(172, 143, 111, 56));
    // The check box reaches 4 pixels into the information frame below it:
    // keep it above the frame, unfilled, so the frame neither hides the
    // bottom of the check square nor has its caption painted over.
    m_chkPreview->raise();
    m_lblImageSize = MakeLabel(m_fraInfo, "lblImageSize", QString(), QRect(4, 12, 103, 18));
    m_lblImageFileSize = MakeLabel(m_fraInfo, "lblImageFileSize", QString(), QRect(4, 34, 103, 18));

    connect(m_txtImgDir, &QLineEdit::textChanged, this, &fMain::txtImgDir_Change);
    m_txtThumbDir->installEventFilter(this);

    connect(m_ComboFilter, &QComboBox::currentIndexChanged, this, &fMain::ComboFilter_Click);
    connect(m_ComboOutputFormat, &QComboBox::currentIndexChanged, this, &fMain::ComboOutputFormat_Click);
    connect(m_ComboResizeMethod, &QComboBox::currentIndexChanged, this, &fMain::ComboResizeMethod_Click);
    connect(m_comboResampleMethod, &QComboBox::currentIndexChanged, this, &fMain::comboResampleMethod_Click);
    UnselectOnTyping(m_ComboOutputFormat);
    UnselectOnTyping(m_ComboResizeMethod);
}

void fMain::SetTabOrder()
{
    // Start and Stop come after the layout's own order.
    const std::array<QWidget*, 17> order = {
        m_txtImgDir, m_cmdBrowseImg, m_txtThumbDir, m_cmdBrowseThumb, m_Textwid,
        m_Texthgt, m_ComboResizeMethod, m_ComboOutputFormat, m_txtSuffix, m_cmdselect[0],
        m_cmdselect[1], m_chkPreview, m_fbImages, m_ComboFilter, m_comboResampleMethod,
        m_cmdAction[0], m_cmdAction[1],
    };
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void fMain::Form_Load()
{
    setWindowTitle(kProductTitle + QStringLiteral(" by ") + kMakerName);
    m_lblLogo->setText(windowTitle());

    // Fill the lists without running their selection handlers; the default
    // rows selected afterwards run them once each, in this order.
    {
        const QSignalBlocker b1(m_ComboFilter);
        const QSignalBlocker b2(m_ComboOutputFormat);
        const QSignalBlocker b3(m_ComboResizeMethod);
        const QSignalBlocker b4(m_comboResampleMethod);
        for (const FileMaskEntry& entry : FileMasks())
            m_ComboFilter->addItem(QString::fromUtf8(entry.Text));
        for (const OutputFormatEntry& entry : OutputFormats())
            m_ComboOutputFormat->addItem(QString::fromUtf8(entry.Text));
        for (const ResizeModeEntry& entry : ResizeModes())
            m_ComboResizeMethod->addItem(QString::fromUtf8(entry.Text));
        for (const ResampleFilterEntry& entry : ResampleFilters())
            m_comboResampleMethod->addItem(QString::fromUtf8(entry.Text));
        // addItem selects the first row of an empty list; start from none so
        // that selecting the default rows is a change for every list.
        m_ComboFilter->setCurrentIndex(-1);
        m_ComboOutputFormat->setCurrentIndex(-1);
        m_ComboResizeMethod->setCurrentIndex(-1);
        m_comboResampleMethod->setCurrentIndex(-1);
    }
    for (QComboBox* combo : {m_ComboFilter, m_ComboOutputFormat, m_ComboResizeMethod, m_comboResampleMethod})
        FitPopupToEntries(combo);
    m_ComboFilter->setCurrentIndex(kFileMaskAllSupported);
    m_ComboOutputFormat->setCurrentIndex(kOutputFormatJpeg);
    m_ComboResizeMethod->setCurrentIndex(kResizeMaintainAspect);
    m_comboResampleMethod->setCurrentIndex(0);
}

void fMain::ComboFilter_Click()
{
    if (const auto mask = FileMaskAt(m_ComboFilter->currentIndex()))
        m_fbImages->SetPattern(*mask);
    m_fbImages->Refresh();
}

void fMain::ComboOutputFormat_Click()
{
    m_ComboOutputFormat->setToolTip(m_ComboOutputFormat->currentText());
}

void fMain::ComboResizeMethod_Click()
{
    for (const SizeControlStep& step : ResizeModeStepsAt(m_ComboResizeMethod->currentIndex())) {
        QWidget* target = nullptr;
        switch (step.Control) {
        case SizeControl::Texthgt: target = m_Texthgt; break;
        case SizeControl::Textwid: target = m_Textwid; break;
        case SizeControl::Labelhgt: target = m_Labelhgt; break;
        case SizeControl::Label2: target = m_Label2; break;
        }
        if (!target)
            continue;
        const QString value = step.Value ? QString::fromUtf8(step.Value) : QString();
        switch (step.Kind) {
        case SizeStepKind::Enable:
            target->setEnabled(true);
            break;
        case SizeStepKind::Disable:
            target->setEnabled(false);
            break;
        case SizeStepKind::WindowColour:
        case SizeStepKind::FaceColour: {
            QPalette pal = target->palette();
            pal.setColor(QPalette::Base, ColorFromOle(ColourOfStep(step.Kind)));
            target->setPalette(pal);
            break;
        }
        case SizeStepKind::SetCaption:
            if (auto* label = qobject_cast<QLabel*>(target))
                label->setText(value);
            break;
        case SizeStepKind::SetText:
            if (auto* box = qobject_cast<QLineEdit*>(target))
                box->setText(value);
            break;
        }
    }
}

void fMain::comboResampleMethod_Click()
{
    if (const auto code = ResampleFilterCodeAt(m_comboResampleMethod->currentIndex()))
        m_ResampleFilter = *code;
}

PictureButton* fMain::btnForm(int index) const
{
    return index >= 0 && index < int(m_btnForm.size()) ? m_btnForm[std::size_t(index)] : nullptr;
}

QLabel* fMain::Image1(int index) const
{
    return index >= 0 && index < int(m_Image1.size()) ? m_Image1[std::size_t(index)] : nullptr;
}

PictureButton* fMain::cmdAction(int index) const
{
    return index >= 0 && index < int(m_cmdAction.size()) ? m_cmdAction[std::size_t(index)] : nullptr;
}

QPushButton* fMain::cmdselect(int index) const
{
    return index >= 0 && index < int(m_cmdselect.size()) ? m_cmdselect[std::size_t(index)] : nullptr;
}

void fMain::btnForm_Click(int index)
{
    switch (index) {
    case 0:
        if (!m_about)
            m_about = new fAbout(this);
        m_about->show();
        m_about->raise();
        m_about->activateWindow();
        break;
    case 1:
        showMinimized();
        break;
    case 2:
        close();
        break;
    default:
        break;
    }
}

void fMain::SetDecodeWorker(const WorkerCommand& command)
{
    m_workerCommand = command;
    m_previewLoader->SetWorker(command);
}

void fMain::SetImageLoader(ImageLoader loader)
{
    m_previewLoader->SetLoader(std::move(loader));
}

bool fMain::PreviewPending() const
{
    return m_previewLoader->Pending();
}

bool fMain::PreviewDrawn() const
{
    return m_previewLoader->Drawn();
}

bool fMain::StopRequested() const
{
    return m_stopPressed && m_run->IsRunning();
}

void fMain::cmdAction_Click(int index)
{
    switch (index) {
    case 0:
        BatchStart();
        break;
    case 1:
        if (m_run->IsRunning()) {
            m_stopPressed = true;
            m_run->Stop();
        }
        break;
    default:
        break;
    }
}

void fMain::BatchStart()
{
    // A Start during a run does nothing.
    if (m_run->IsRunning())
        return;
    m_liveSettings->SetSourceFolder(m_fbImages->Path());
    if (const Outcome<QString> destination = PrepareDestination(m_liveSettings->Current()); !destination) {
        m_failureReport.clear();
        ShowCountCaption(DestinationCaption(destination.Error()));
        return;
    }
    BatchPlan plan;
    plan.Names = m_fbImages->SelectedNames();
    plan.Jobs = QThread::idealThreadCount();
    plan.Workers = m_workerCommand;
    plan.WrapMaker = m_makerWrapper;
    m_results.clear();
    m_tally = {};
    m_shownDone = 0;
    m_stopPressed = false;
    m_failureReport.clear();
    // At Start the bar only learns its maximum.
    m_thProg->SetMax(static_cast<int>(plan.Names.size()));
    m_run->Start(std::move(plan), m_liveSettings->Snapshot());
}

void fMain::BatchImageCommitted(const ImageResult& result, int done, int total)
{
    m_results.push_back(result);
    m_tally.Count(result);
    if (!result.Written || !result.SharedBy.isEmpty())
        m_failureReport = FailureReport(m_results);
    m_shownDone = done;
    ShowCountCaption(QStringLiteral("Processing %1 of %2").arg(done).arg(total));
    emit BatchImageDone(done, total);
    // Redraws, then processes pending events: the next images' news may be
    // shown in here, and then this one is not shown again.
    if (m_shownDone == done)
        m_thProg->Setvalue(done);
}

void fMain::BatchFinished(const BatchReport& report)
{
    const int total = m_thProg->Max();
    m_stopPressed = false;
    if (!report.SandboxNote.isEmpty())
        m_sandboxNote = report.SandboxNote;
    ShowCountCaption(report.Stopped ? m_tally.StoppedCaption(total) : m_tally.CompletionCaption(total));
    // The news of the last images may still be on their way when a nested
    // event loop delivers this: the bar goes back to empty all the same.
    m_shownDone = -1;
    m_thProg->Setvalue(0);
    if (!report.Stopped) {
        // "Clear", as the button does it: no preview of every unselected row.
        cmdselect_Click(1);
    }
    emit BatchEnded();
}

void fMain::ShowCountCaption(const QString& caption)
{
    const QRect inner = m_lblCount->contentsRect();
    // The indent is on the left; keep as much free on the right.
    const QSize box(inner.width() - 2 * kCountIndent, inner.height());
    const FittedCaption fitted = FitCaption(caption, DefaultFont(), box);
    m_lblCount->setFont(fitted.Font);
    m_lblCount->setText(fitted.Text);
    const bool verbatim = fitted.Text == caption && fitted.Font == DefaultFont();
    QString tip;
    if (!verbatim || !m_failureReport.isEmpty() || !m_sandboxNote.isEmpty()) {
        QStringList lines{caption};
        for (const QString& more : {m_sandboxNote, m_failureReport}) {
            if (!more.isEmpty())
                lines << more;
        }
        tip = lines.join(QLatin1Char('\n'));
    }
    m_lblCount->setToolTip(tip);
}

void fMain::cmdBrowseImg_Click()
{
    const QString path = BrowseForFolder(this, ChooserStartFolder(TrimSetting(m_txtImgDir->text())),
                                         QStringLiteral("Select a folder that contains the original images."), -1);
    if (path.isEmpty())
        return;
    m_txtImgDir->setText(path);
    // Joined as they are: the root gives "//Thumbs", which the system takes.
    m_txtThumbDir->setText(path + QStringLiteral("/Thumbs"));
}

void fMain::cmdBrowseThumb_Click()
{
    // The default destination (source/Thumbs) does not exist until the first
    // run: the chooser opens at the source then, never at "/".
    const QString start = ChooserStartFolder(TrimSetting(m_txtThumbDir->text()),
                                             ChooserStartFolder(TrimSetting(m_txtImgDir->text())));
    const QString path = BrowseForFolder(this, start,
                                         QStringLiteral("Select a destination folder for the modified images."), 0);
    if (!path.isEmpty())
        m_txtThumbDir->setText(path);
}

void fMain::txtImgDir_Change()
{
    // Every edit re-points the list at once, half-typed names included; a
    // text that names no folder leaves it empty, its tooltip saying why.
    m_fbImages->SetPath(FolderWithSeparator(m_txtImgDir->text()));
    m_fbImages->Refresh();
}

void fMain::txtThumbDir_Enter()
{
    const QString folder = TrimSetting(m_txtThumbDir->text());
    QString problem;
    if (folder.isEmpty())
        problem = QStringLiteral("Type the folder to create");
    else if (const Outcome<> created = CreateOneFolder(folder); !created)
        problem = QStringLiteral("Cannot create this folder (%1)").arg(created.Reason());
    m_txtThumbDir->setToolTip(problem);
}

void fMain::cmdselect_Click(int index)
{
    // The selection changes raise the list's click; with the preview
    // switched off meanwhile, none of them loads a file.
    const bool preview = m_chkPreview->isChecked();
    m_chkPreview->setChecked(false);
    const bool hadFocus = m_fbImages->hasFocus();
    m_fbImages->hide();
    m_fbImages->SetAllSelected(index != 1);
    m_fbImages->show();
    if (hadFocus)
        m_fbImages->setFocus();
    m_chkPreview->setChecked(preview);
}

void fMain::fbImages_Click()
{
    if (!m_chkPreview->isChecked())
        return;
    const QString name = m_fbImages->FocusedName();
    if (name.isEmpty())
        return;
    // Decoded and shrunk off this thread (at the density of the screen the
    // window is on now): the highlight moves at once, and the panel keeps the
    // last preview until this one is ready. The row's own folder: the same as
    // the source box's once it is typed, and the current directory that the
    // list shows before then.
    const Surface& box = m_ImgPreview->surface();
    m_previewLoader->SetFitBox(box.Image().size(), box.BackColor(), m_ImgPreview->devicePixelRatioF());
    m_previewLoader->Request(FolderWithSeparator(m_fbImages->Path()) + name);
    if (!m_previewBusy->isActive())
        m_previewBusy->start();
}

void fMain::PreviewReady(const PreviewReply& reply)
{
    m_previewBusy->stop();
    m_ImgPreview->unsetCursor();
    if (reply.Early) {
        // The drawing now, from the picture's glance; the full-screen view
        // has nothing of this file to show until the picture itself comes.
        const std::optional<PreviewTexts> texts = ShowEarlyPreview(
            {reply.FileBytes, reply.Loaded, QImage(), reply.Fitted, reply.Sharp, reply.SharpAt, reply.Dimensions},
            *m_ImgPreview);
        if (texts) {
            m_previewEarly = true;
            m_lblImageFileSize->setText(texts->FileSize);
            m_lblImageSize->setText(texts->Dimensions);
            m_lblImageSize->setToolTip(QString());
        }
        return;
    }
    m_previewEarly = false;
    // The picture shown until now is freed on the loader's thread, unless
    // something else (the full-screen view) still holds it.
    QImage previous = m_PicLoad.Image();
    const PreviewTexts texts = ShowLoadedPreview(
        {reply.FileBytes, reply.Loaded, reply.Picture, reply.Fitted, reply.Sharp, reply.SharpAt, reply.Dimensions},
        m_PicLoad, *m_ImgPreview);
    m_previewLoader->Release(std::move(previous));
    m_previewFailed = !texts.Decoded;
    m_lblImageFileSize->setText(texts.FileSize);
    m_lblImageSize->setText(texts.Dimensions);
    m_lblImageSize->setToolTip(texts.Reason);
}

void fMain::ImgPreview_DblClick()
{
    // Nothing before the first preview, and never another file's picture
    // after a preview that could not be read.
    if (m_PicLoad.Picture().isNull() || m_previewFailed || m_previewEarly)
        return;
    fFullScale::ShowPicture(this, m_PicLoad.Image());
}

void fMain::Label1_Click()
{
    close();
}

void fMain::imBanner_Click()
{
    OpenDocument(kMakerWebSite);
}

void fMain::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_skin);
}

void fMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void fMain::Form_Resize()
{
    // Centred by the left edge only; the fractional edge is drawn at the
    // nearest whole pixel.
    m_logoLeft = width() / 2.0 - m_lblLogo->width() / 2.0;
    m_bannerLeft = width() / 2.0 - m_imBanner->width() / 2.0;
    m_lblLogo->move(RoundHalfEven(m_logoLeft), m_lblLogo->y());
    m_imBanner->move(RoundHalfEven(m_bannerLeft), m_imBanner->y());
}

void fMain::closeEvent(QCloseEvent* event)
{
    // Never refuses. A run in progress ends after the image in hand, as a
    // Stop ends it, and its thread is waited for here: the images made
    // ahead are removed before the window goes. The window is gone from the
    // screen meanwhile, so a slow image in hand never shows a frozen one.
    if (m_run->IsRunning()) {
        hide();
        m_run->Stop();
        m_run->Wait();
    }
    m_hiddenByMinimise.clear();
    for (QWidget* owned : OwnedWindows())
        owned->close();
    event->accept();
}

QList<QWidget*> fMain::OwnedWindows() const
{
    QList<QWidget*> owned;
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget->isWindow())
            owned.append(widget);
    }
    return owned;
}

void fMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (isMinimized()) {
        // Owned windows go with the main window and come back with it.
        for (QWidget* owned : OwnedWindows()) {
            if (owned->isVisible()) {
                m_hiddenByMinimise.append(owned);
                owned->hide();
            }
        }
    } else if (change->oldState() & Qt::WindowMinimized) {
        for (const QPointer<QWidget>& owned : std::as_const(m_hiddenByMinimise)) {
            if (owned)
                owned->show();
        }
        m_hiddenByMinimise.clear();
    }
}

void fMain::dragEnterEvent(QDragEnterEvent* event)
{
    // Not accepted: the platform shows its no-entry cursor.
    if (!DroppedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void fMain::dragMoveEvent(QDragMoveEvent* event)
{
    if (!DroppedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void fMain::dropEvent(QDropEvent* event)
{
    const QString folder = DroppedFolder(event->mimeData());
    if (folder.isEmpty())
        return;
    // As typing it would: the change re-points the list.
    m_txtImgDir->setText(folder);
    event->acceptProposedAction();
}

void fMain::BeginDrag(const QPoint& globalPos)
{
    if (DragWindow(this))
        return;
    // No window manager to move us: follow the pointer until the release.
    m_manualDrag = true;
    m_dragOffset = globalPos - pos();
}

void fMain::mousePressEvent(QMouseEvent* event)
{
    // Presses that reach the window from a control it holds (labels, frames)
    // do not drag; only the bare skin and the strip below it do.
    if (childAt(event->position().toPoint()) == nullptr) {
        BeginDrag(event->globalPosition().toPoint());
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void fMain::mouseMoveEvent(QMouseEvent* event)
{
    if (m_manualDrag) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void fMain::mouseReleaseEvent(QMouseEvent* event)
{
    m_manualDrag = false;
    QWidget::mouseReleaseEvent(event);
}

bool fMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_txtThumbDir && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            txtThumbDir_Enter();
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    const bool clickable = watched == m_Label1 || watched == m_imBanner;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (watched == m_lblLogo) {
            BeginDrag(mouse->globalPosition().toPoint());
            return true;
        }
        if (clickable && mouse->button() == Qt::LeftButton) {
            m_pressedOn = watched;
            return true;
        }
        break;
    }
    case QEvent::MouseMove:
        if (watched == m_lblLogo && m_manualDrag) {
            move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - m_dragOffset);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (watched == m_lblLogo) {
            m_manualDrag = false;
            return true;
        }
        if (clickable && mouse->button() == Qt::LeftButton) {
            const bool click = m_pressedOn == watched
                && static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint());
            m_pressedOn = nullptr;
            if (click) {
                if (watched == m_Label1)
                    Label1_Click();
                else
                    imBanner_Click();
            }
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace pixquill
