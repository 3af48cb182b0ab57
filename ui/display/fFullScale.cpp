#include "fFullScale.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>

#include "ui/display/ImageAceX.h"
#include "ui/widgets/PropertyBag.h"

namespace pixquill {

namespace {

constexpr int kKeyEscape = 27;
// An arrow key moves the view by this much; a wheel notch by three of it.
constexpr int kArrowStep = 40;

// The one open window; cleared as soon as it closes, so an opening in the
// same turn of the event loop does not reuse a window that is going away.
fFullScale* g_instance = nullptr;

} // namespace

fFullScale::fFullScale(QWidget* owner)
    // A tool window stays in front of its owner and gets no task bar entry.
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("fFullScale"));
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    m_imView = new ImageAceX(this);
    m_imView->setObjectName(QStringLiteral("imView"));
    // The window's layout differs from the viewer's defaults only in the
    // black background: no edge, actual size, no picture.
    PropertyBag layout(QString::fromLatin1(ImageAceX::kClassId));
    layout.WriteProperty(QStringLiteral("BackColor"), quint32(0), quint32(kSystemButtonFace));
    m_imView->ReadProperties(layout);

    connect(m_imView, &ImageAceX::DblClick, this, &QWidget::close);
    connect(m_imView, &ImageAceX::KeyPress, this, [this](int& keyAscii) { HandleKeyAscii(keyAscii); });
}

fFullScale::~fFullScale()
{
    if (g_instance == this)
        g_instance = nullptr;
}

fFullScale* fFullScale::Instance()
{
    return g_instance;
}

fFullScale* fFullScale::ShowPicture(QWidget* owner, const QImage& picture)
{
    if (picture.isNull())
        return nullptr;
    fFullScale* window = g_instance;
    const bool wasOpen = window != nullptr && window->isVisible();
    if (!window) {
        window = new fFullScale(owner);
        g_instance = window;
    }
    // Actual size on a dense screen: one picture pixel per screen pixel.
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    window->m_imView->SetPixelRatio(screen ? screen->devicePixelRatio() : 1.0);
    window->m_imView->SetPicture(picture);
    // An open window gets no resize from being shown again; the display copy
    // takes the new picture through a refresh instead.
    if (wasOpen)
        window->m_imView->SetDisplaymode(window->m_imView->Displaymode());

    // Window managers differ in whether they maximise a frameless tool
    // window (and there may be none at all); cover the screen ourselves too.
    if (screen)
        window->setGeometry(screen->availableGeometry());
    window->showMaximized();
    window->raise();
    window->activateWindow();
    return window;
}

void fFullScale::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_imView->setGeometry(0, 0, width(), height());
}

void fFullScale::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_imView->setFocus(Qt::OtherFocusReason);
}

void fFullScale::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && g_instance == this)
        g_instance = nullptr;
}

void fFullScale::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    close();
}

void fFullScale::keyPressEvent(QKeyEvent* event)
{
    // Keys without text arrive here from the viewer's inner areas too.
    int keyAscii = event->key() == Qt::Key_Escape ? kKeyEscape : 0;
    if (keyAscii == 0) {
        if (ScrollFor(event))
            event->accept();
        else
            QWidget::keyPressEvent(event);
        return;
    }
    HandleKeyAscii(keyAscii);
    event->accept();
}

bool fFullScale::ScrollFor(const QKeyEvent* event)
{
    QScrollBar* h = m_imView->hSB();
    QScrollBar* v = m_imView->vSB();
    switch (event->key()) {
    case Qt::Key_Left: h->setValue(h->value() - kArrowStep); return true;
    case Qt::Key_Right: h->setValue(h->value() + kArrowStep); return true;
    case Qt::Key_Up: v->setValue(v->value() - kArrowStep); return true;
    case Qt::Key_Down: v->setValue(v->value() + kArrowStep); return true;
    case Qt::Key_PageUp: v->setValue(v->value() - v->pageStep()); return true;
    case Qt::Key_PageDown: v->setValue(v->value() + v->pageStep()); return true;
    case Qt::Key_Home:
        // Home alone goes to the top; with Ctrl to the top-left corner.
        v->setValue(v->minimum());
        if (event->modifiers() & Qt::ControlModifier)
            h->setValue(h->minimum());
        return true;
    case Qt::Key_End:
        v->setValue(v->maximum());
        if (event->modifiers() & Qt::ControlModifier)
            h->setValue(h->maximum());
        return true;
    default:
        return false;
    }
}

void fFullScale::wheelEvent(QWheelEvent* event)
{
    // Shift turns the wheel sideways; a sideways wheel or pad is sideways.
    QPoint delta = event->angleDelta();
    if (event->modifiers() & Qt::ShiftModifier)
        delta = QPoint(delta.y(), delta.x());
    QScrollBar* h = m_imView->hSB();
    QScrollBar* v = m_imView->vSB();
    // One notch (120) scrolls three arrow steps, as a text view does.
    h->setValue(h->value() - delta.x() * 3 * kArrowStep / 120);
    v->setValue(v->value() - delta.y() * 3 * kArrowStep / 120);
    event->accept();
}

void fFullScale::HandleKeyAscii(int& KeyAscii)
{
    if (KeyAscii != kKeyEscape)
        return;
    KeyAscii = 0;
    close();
}

} // namespace pixquill
