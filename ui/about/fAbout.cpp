#include "fAbout.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QToolButton>

#include "codec/Rounding.h"
#include "resources/Pictures.h"
#include "ui/main/Fonts.h"
#include "ui/main/Product.h"
#include "ui/main/mUtils.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {

namespace {

constexpr int kInnerWidth = 553;
constexpr int kInnerHeight = 487;
constexpr int kSunkenEdge = 6; // two-pixel sunken edge

// Half the inner width less half the control's, a half going to the even
// neighbour: the 290-pixel button lands at 132 (131.5), not 131.
int CentredLeft(int controlWidth)
{
    return RoundHalfEven(kInnerWidth / 2.0 - controlWidth / 2.0);
}

} // namespace

fAbout::fAbout(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                         | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("fAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(kInnerWidth, kInnerHeight);
    setFont(DefaultFont());
    setWindowIcon(WindowIcon());

    m_lblAbout = new QLabel(this);
    m_lblAbout->setObjectName(QStringLiteral("lblAbout"));
    m_lblAbout->setGeometry(10, 77, 532, 353);
    m_lblAbout->setWordWrap(true);
    m_lblAbout->setTextFormat(Qt::PlainText);
    m_lblAbout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblAbout->setAutoFillBackground(true);
    {
        QPalette pal = m_lblAbout->palette();
        pal.setColor(QPalette::Window, QColor(0x80, 0xA0, 0xC0));
        m_lblAbout->setPalette(pal);
    }

    // The heading lies over the top of the help label, above it, transparent.
    m_lblHeader = new QLabel(this);
    m_lblHeader->setObjectName(QStringLiteral("lblHeader"));
    m_lblHeader->setGeometry(12, 79, 287, 37);
    m_lblHeader->setTextFormat(Qt::PlainText);
    m_lblHeader->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont headerFont = ArialFont(9.75, true);
    headerFont.setUnderline(true);
    m_lblHeader->setFont(headerFont);
    m_lblHeader->raise();

    m_picLogo = new SurfaceWidget(this);
    m_picLogo->setObjectName(QStringLiteral("picLogo"));
    m_picLogo->SetEdgeStyle(kSunkenEdge);
    m_picLogo->setGeometry(0, 9, 223, 56);
    // A hidden widget gets its resize event only when shown; the surface is
    // drawn into before that, so it is sized here too.
    m_picLogo->surface().Resize(223, 56);
    m_picLogo->surface().SetPicture(LoadPicture(QStringLiteral("logo.png")));
    m_picLogo->surface().Cls();

    m_cmdVisit = new QToolButton(this);
    m_cmdVisit->setObjectName(QStringLiteral("cmdVisit"));
    m_cmdVisit->setGeometry(0, 434, 290, 48);
    m_cmdVisit->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_cmdVisit->setIcon(QIcon(LoadPixmap(QStringLiteral("visit-arrow.png"))));
    m_cmdVisit->setIconSize(QSize(16, 16));
    m_cmdVisit->setFocusPolicy(Qt::StrongFocus);
    connect(m_cmdVisit, &QToolButton::clicked, this, &fAbout::cmdVisit_Click);

    Form_Load();
    CentreOverOwner();
}

QString fAbout::HelpText()
{
    const QString cr(QChar(13));
    const QString br2 = cr + cr;
    return cr + cr + cr + cr
        + QStringLiteral(" Using the ") + kProductTitle
        + QStringLiteral(" is quite easy. Follow the circled numbers on the main screen:") + br2
        + QStringLiteral(" 1) - Select the source folder which contains the images from which you wish to make thumbnail images, as well as the")
        + QStringLiteral(" destination folder in which you want the new thumbnail images to be created. You may also select a file mask if needed. 27 different input file formats are supported.")
        + br2
        + QStringLiteral(" 2) - Here you can select such options as Thumbnail Resize Mode, Thumbnail dimensions, Output File Format, and an optional prefix for the thumbnail file(s). In most cases,")
        + QStringLiteral(" these options can remain at default settings. Resize mode settings are self-explanatory, as are Output Format and Width/Height settings. The Output File Prefix box allows")
        + QStringLiteral(" you to set a unique prefix in the output file name(s) so that they will not conflict with nor replace other files. You may also choose from 6 different industry-standard")
        + QStringLiteral(" resample filters in order to achieve the best image quality.")
        + br2
        + QStringLiteral(" 3) - Here you can select and preview the image files you wish to convert into thumbnail images. Multiple selections can be made by holding down the <CTRL> key, and selecting the")
        + QStringLiteral(" desired files with the mouse. For a full-size preview of the selected image, DblClick on the preview image.")
        + br2
        + QStringLiteral(" 4) - Start or Stop the creation of thumbnail images.")
        + br2
        + QLatin1Char(' ') + QString(71, QLatin1Char('-'))
        + br2
        + QStringLiteral(" This program utilizes portions of the Freeimage Image library. For more")
        + QStringLiteral(" information, visit ") + kImageLibraryWebSite + QStringLiteral(".");
}

void fAbout::Form_Load()
{
    m_picLogo->move(CentredLeft(m_picLogo->width()), m_picLogo->y());
    m_cmdVisit->move(CentredLeft(m_cmdVisit->width()), m_cmdVisit->y());

    // The title goes into the logo's drawing, top-left of its text at (10, 10),
    // in the logo's silver drawing colour.
    {
        QImage& image = m_picLogo->surface().Image();
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const QFont font = ArialFont(14, true);
        painter.setFont(font);
        painter.setPen(QColor(0xC0, 0xC0, 0xC0));
        painter.drawText(10, 10 + QFontMetrics(font, &image).ascent(), kProductTitle);
    }
    m_picLogo->surface().Refresh();

    setWindowTitle(kProductTitle);
    m_cmdVisit->setText(QStringLiteral("Visit ") + kMakerName);
    m_lblHeader->setText(QStringLiteral("Using ") + kProductTitle + QStringLiteral(":"));
    // A label breaks lines at line feeds; the text keeps carriage returns.
    QString shown = HelpText();
    shown.replace(QChar(13), QChar(10));
    m_lblAbout->setText(shown);
}

void fAbout::CentreOverOwner()
{
    QRect over;
    if (QWidget* owner = parentWidget())
        over = owner->window()->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        over = screen->availableGeometry();
    if (over.isEmpty())
        return;
    const QSize outer = frameGeometry().size().expandedTo(size());
    move(over.center() - QPoint(outer.width() / 2, outer.height() / 2));
}

void fAbout::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The frame's size is known once the window exists; centre once more
    // with it so that the whole window, title bar included, sits centred.
    if (!m_placedWithFrame && frameGeometry().size() != size()) {
        m_placedWithFrame = true;
        CentreOverOwner();
    }
}

void fAbout::cmdVisit_Click()
{
    OpenDocument(kAboutWebSite);
}

} // namespace pixquill
