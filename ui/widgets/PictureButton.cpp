#include "PictureButton.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

#include "codec/OleColor.h"
#include "ui/widgets/MouseMasks.h"

namespace pixquill {

namespace {

const QString kKeyPicture = QStringLiteral("Picture");
const QString kKeyPictureHover = QStringLiteral("PictureHover");
const QString kKeyPictureDown = QStringLiteral("PictureDown");

QVariant PictureVariant(const QImage& picture)
{
    return QVariant::fromValue(picture);
}

QImage PictureFromVariant(const QVariant& value)
{
    return value.canConvert<QImage>() ? value.value<QImage>() : QImage();
}

} // namespace

PictureButton::PictureButton(QWidget* parent)
    : QWidget(parent)
    , m_surface(kNewSize.width(), kNewSize.height(), ColorFromOle(kSystemButtonFace))
{
    // The face lives in the retained image; nothing underneath needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves with no button held are needed to notice the pointer entering.
    setMouseTracking(true);
    // The button takes its face's size; layouts must not stretch it.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    resize(kNewSize);
    m_Timer1.setParent(this);
    m_Timer1.setObjectName(QStringLiteral("Timer1"));
    m_Timer1.setInterval(kHoverIntervalMs);
    connect(&m_Timer1, &QTimer::timeout, this, &PictureButton::OnTimer1);
}

QSize PictureButton::sizeHint() const
{
    return size();
}

void PictureButton::SetPicture(const QImage& m_New_Picture)
{
    m_Picture = m_New_Picture;
    UpdateFace();
    emit PropertyChanged(kKeyPicture);
}

void PictureButton::SetPictureHover(const QImage& m_New_PictureHover)
{
    m_PictureHover = m_New_PictureHover;
    UpdateFace();
    emit PropertyChanged(kKeyPictureHover);
}

void PictureButton::SetPictureDown(const QImage& m_New_PictureDown)
{
    m_PictureDown = m_New_PictureDown;
    UpdateFace();
    emit PropertyChanged(kKeyPictureDown);
}

void PictureButton::InitProperties()
{
    m_Picture = QImage();
    m_PictureHover = QImage();
    m_PictureDown = QImage();
}

// Nothing is drawn here: the host sizes the button after loading it, and
// that resize draws the first face.
void PictureButton::ReadProperties(const PropertyBag& bag)
{
    m_Picture = PictureFromVariant(bag.ReadProperty(kKeyPicture, PictureVariant(QImage())));
    m_PictureHover = PictureFromVariant(bag.ReadProperty(kKeyPictureHover, PictureVariant(QImage())));
    m_PictureDown = PictureFromVariant(bag.ReadProperty(kKeyPictureDown, PictureVariant(QImage())));
}

void PictureButton::WriteProperties(PropertyBag& bag) const
{
    bag.SetClassId(kClassId);
    // A null QImage compares equal to the null default, so empty faces are
    // not written.
    bag.WriteProperty(kKeyPicture, PictureVariant(m_Picture), PictureVariant(QImage()));
    bag.WriteProperty(kKeyPictureHover, PictureVariant(m_PictureHover), PictureVariant(QImage()));
    bag.WriteProperty(kKeyPictureDown, PictureVariant(m_PictureDown), PictureVariant(QImage()));
}

void PictureButton::UpdateFace()
{
    // Resizing below re-enters through resizeEvent; the outer call has
    // already drawn the same face.
    if (m_updatingFace)
        return;
    m_updatingFace = true;

    const QImage& face = m_ButtonState == 1 ? m_PictureHover
                       : m_ButtonState == 2 ? m_PictureDown
                                            : m_Picture;
    // The picture holder takes the face's size; with no face it keeps the
    // size it had, and so does the button.
    if (!face.isNull())
        m_Picture1Size = face.size();
    QSize target = m_Picture1Size.isValid() ? m_Picture1Size : size();
    if (target != size()) {
        resize(target);
        updateGeometry();
    }
    // A hidden widget gets its resize event only when shown: keep the
    // surface in step now.
    m_surface.Resize(target.width(), target.height());

    m_surface.Cls();
    if (!face.isNull() && !m_surface.Image().isNull()) {
        QPainter painter(&m_surface.Image());
        painter.drawImage(0, 0, face);
    }
    update();
    m_updatingFace = false;
}

bool PictureButton::IsMouseOver() const
{
    if (m_pointerTest)
        return m_pointerTest();
    return QApplication::widgetAt(QCursor::pos()) == this;
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_surface.BackColor());
    if (!m_surface.Image().isNull())
        painter.drawImage(0, 0, m_surface.Image());
    if (!hasFocus())
        return;
    // Two contrasting dotted rings inside the edge, readable on any face.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
    painter.drawRect(rect().adjusted(3, 3, -4, -4));
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(3, 3, -4, -4));
}

void PictureButton::SetKeyboardFocusable(bool focusable)
{
    setFocusPolicy(focusable ? Qt::TabFocus : Qt::NoFocus);
}

void PictureButton::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && !event->isAutoRepeat()) {
        event->accept();
        emit Click(m_index);
        return;
    }
    QWidget::keyPressEvent(event);
}

void PictureButton::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void PictureButton::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void PictureButton::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_surface.Resize(width(), height());
    UpdateFace();
}

void PictureButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_leftPressed = true;
    std::int16_t button = ButtonMask(event->button());
    std::int16_t shift = ShiftMask(event->modifiers());
    float x = float(event->position().x());
    float y = float(event->position().y());
    emit MouseDown(m_index, button, shift, x, y);
    if (button == 1) {
        m_ButtonState = 2;
        UpdateFace();
    }
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event)
{
    std::int16_t button = ButtonMask(event->button());
    std::int16_t shift = ShiftMask(event->modifiers());
    float x = float(event->position().x());
    float y = float(event->position().y());
    emit MouseUp(m_index, button, shift, x, y);
    m_ButtonState = IsMouseOver() ? 1 : 0;
    UpdateFace();

    // A click is a left press and release over the button; releasing after
    // dragging out raises none. Other buttons raise only MouseDown/MouseUp.
    if (event->button() == Qt::LeftButton) {
        const bool pressed = m_leftPressed;
        m_leftPressed = false;
        if (pressed && rect().contains(event->position().toPoint()))
            emit Click(m_index);
    }
}

void PictureButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Only the left button makes double clicks: its second press raises
    // DblClick instead of MouseDown, the face is left as it is, and its
    // release is not a click. For the other buttons Qt's double-click event
    // is just their second press.
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    m_leftPressed = false;
    emit DblClick(m_index);
    event->accept();
}

void PictureButton::mouseMoveEvent(QMouseEvent* event)
{
    std::int16_t button = ButtonMask(event->buttons());
    std::int16_t shift = ShiftMask(event->modifiers());
    float x = float(event->position().x());
    float y = float(event->position().y());
    emit MouseMove(m_index, button, shift, x, y);

    // Right or middle held (alone or with the left): no reaction.
    if (button != 0 && button != 1)
        return;
    if (!IsMouseOver()) {
        // Leaving is raised only by the timer.
        m_HoverActive = false;
        m_ButtonState = 0;
        UpdateFace();
    } else if (button == 0) {
        if (!m_HoverActive) {
            m_Timer1.start();
            m_HoverActive = true;
            emit MouseEnter(m_index);
            m_ButtonState = 1;
            UpdateFace();
        }
    } else {
        m_ButtonState = 2;
        UpdateFace();
        m_HoverActive = false;
    }
}

void PictureButton::OnTimer1()
{
    if (IsMouseOver())
        return;
    m_Timer1.stop();
    m_HoverActive = false;
    emit MouseLeave(m_index);
    m_ButtonState = 0;
    UpdateFace();
}

} // namespace pixquill
