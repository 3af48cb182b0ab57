#include "ImageAceX.h"

#include <algorithm>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMap>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

#include "codec/Rounding.h"
#include "ui/display/mScaleImage.h"
#include "ui/widgets/DrawEdge.h"
#include "ui/widgets/MouseMasks.h"
#include "ui/widgets/PropertyBag.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {

namespace {

const QString kKeyBorderStyle = QStringLiteral("BorderStyle");
const QString kKeyDisplaymode = QStringLiteral("Displaymode");
const QString kKeyBackColor = QStringLiteral("BackColor");
const QString kKeyPicture = QStringLiteral("Picture");

// A surface that takes the size of its picture and shows it. When the picture
// is already 32-bit RGB the persistent image shares its pixels instead of
// holding a second copy. Without a picture the surface has no pixels, so
// nothing stale is fitted or scrolled.
void ShowPictureOn(Surface& surface, const QImage& picture)
{
    surface.SetPicture(picture);
    if (picture.isNull()) {
        surface.Resize(0, 0);
        return;
    }
    if (picture.format() == QImage::Format_RGB32 && surface.BorderWidth() == 0
        && surface.Image().size() == picture.size())
        surface.Image() = picture;
    else
        surface.Cls();
}

} // namespace

ImageAceX::ImageAceX(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);

    m_iSrc.SetAutoSize(true);

    m_picScl = new SurfaceWidget(this);
    m_picScl->setObjectName(QStringLiteral("picScl"));
    m_picScl->setFocusPolicy(Qt::ClickFocus);

    m_picDst = new SurfaceWidget(m_picScl);
    m_picDst->setObjectName(QStringLiteral("picDst"));
    m_picDst->surface().SetAutoSize(true);
    m_picDst->setFocusPolicy(Qt::StrongFocus);

    m_hSB = new QScrollBar(Qt::Horizontal, m_picScl);
    m_hSB->setObjectName(QStringLiteral("hSB"));
    m_vSB = new QScrollBar(Qt::Vertical, m_picScl);
    m_vSB->setObjectName(QStringLiteral("vSB"));
    for (QScrollBar* bar : {m_hSB, m_vSB}) {
        bar->setRange(0, 0);
        bar->setSingleStep(1);
        bar->hide();
        // Keys must keep arriving through the display copy.
        bar->installEventFilter(this);
    }
    m_hSB->resize(kBarThickness, kBarThickness);
    m_vSB->resize(kBarThickness, kBarThickness);

    m_cmdCorner = new QPushButton(m_picScl);
    m_cmdCorner->setObjectName(QStringLiteral("cmdCorner"));
    m_cmdCorner->setFocusPolicy(Qt::NoFocus);
    // A plain solid square like the bars' own background; a rounded bevel
    // would let the picture show through its corners.
    m_cmdCorner->setFlat(true);
    m_cmdCorner->setAutoFillBackground(true);
    m_cmdCorner->resize(kBarThickness, kBarThickness);
    m_cmdCorner->hide();

    // Scrolling only moves the display copy inside the viewport; the thumb is
    // followed while it is dragged.
    connect(m_hSB, &QScrollBar::valueChanged, this,
            [this](int value) { m_picDst->move(-value, m_picDst->y()); });
    connect(m_vSB, &QScrollBar::valueChanged, this,
            [this](int value) { m_picDst->move(m_picDst->x(), -value); });

    ForwardEventsOf(m_picDst);
    ForwardEventsOf(m_picScl);
    ApplyBackColor();
}

ImageAceX::~ImageAceX() = default;

void ImageAceX::ForwardEventsOf(SurfaceWidget* area)
{
    connect(area, &SurfaceWidget::Click, this, &ImageAceX::Click);
    connect(area, &SurfaceWidget::DblClick, this, &ImageAceX::DblClick);
    // Passed on by reference, so a handler's change reaches the area.
    connect(area, &SurfaceWidget::KeyPress, this, [this](int& keyAscii) { emit KeyPress(keyAscii); });
    connect(area, &SurfaceWidget::MouseDown, this,
            [this](std::int16_t& Button, std::int16_t& Shift, float& x, float& y) {
                emit MouseDown(Button, Shift, x, y);
            });
    connect(area, &SurfaceWidget::MouseUp, this,
            [this](std::int16_t& Button, std::int16_t& Shift, float& x, float& y) {
                emit MouseUp(Button, Shift, x, y);
            });
}

void ImageAceX::SetBorderStyle(int New_BorderStyle)
{
    m_BorderStyle = New_BorderStyle;
    // The edge is redrawn now; the viewport keeps its place until the next layout.
    DrawBorder();
    emit PropertyChanged(kKeyBorderStyle);
}

void ImageAceX::SetDisplaymode(int New_Displaymode)
{
    m_Displaymode = New_Displaymode;
    RefreshDisplay();
    emit PropertyChanged(kKeyDisplaymode);
}

void ImageAceX::SetBackColor(OleColor New_BackColor)
{
    m_BackColor = New_BackColor;
    ApplyBackColor();
    emit PropertyChanged(kKeyBackColor);
}

void ImageAceX::ApplyBackColor()
{
    const QColor colour = ColorFromOle(m_BackColor);
    update();
    m_picScl->surface().SetBackColor(colour);
    m_picDst->surface().SetBackColor(colour);
    // A new back colour wipes a surface's drawing; the display copy shows its
    // picture again, sharing the pixels rather than keeping the wiped copy.
    if (!m_picDst->surface().Picture().isNull())
        ShowPictureOn(m_picDst->surface(), m_picDst->surface().Picture());
    m_picScl->update();
    m_picDst->update();
}

void ImageAceX::SetPixelRatio(qreal ratio)
{
    m_picDst->SetPixelRatio(ratio);
}

QImage ImageAceX::Picture() const
{
    return m_iSrc.Picture();
}

void ImageAceX::SetPicture(const QImage& New_Picture)
{
    ShowPictureOn(m_iSrc, New_Picture);
    LayoutScrollView();
    emit PropertyChanged(kKeyPicture);
}

void ImageAceX::InitProperties()
{
    m_BorderStyle = 0;
    m_Displaymode = 0;
}

void ImageAceX::ReadProperties(const PropertyBag& bag)
{
    // Stored without redrawing; the host's sizing runs the refresh.
    m_BorderStyle = bag.ReadProperty(kKeyBorderStyle, 0).toInt();
    m_Displaymode = bag.ReadProperty(kKeyDisplaymode, 0).toInt();
    m_BackColor = bag.ReadProperty(kKeyBackColor, quint32(kSystemButtonFace)).toUInt();
    ApplyBackColor();
    SetPicture(bag.ReadProperty(kKeyPicture, QVariant()).value<QImage>());
}

void ImageAceX::WriteProperties(PropertyBag& bag) const
{
    bag.SetClassId(QString::fromLatin1(kClassId));
    bag.WriteProperty(kKeyBorderStyle, m_BorderStyle, 0);
    bag.WriteProperty(kKeyDisplaymode, m_Displaymode, 0);
    bag.WriteProperty(kKeyBackColor, quint32(m_BackColor), quint32(kSystemButtonFace));
    const QImage picture = Picture();
    bag.WriteProperty(kKeyPicture, picture.isNull() ? QVariant() : QVariant::fromValue(picture), QVariant());
}

QString ImageAceX::Description(const QString& member)
{
    static const QMap<QString, QString> descriptions = {
        {kKeyBorderStyle, QStringLiteral("Returns/sets the border style for an object.")},
        {kKeyBackColor,
         QStringLiteral("Returns/sets the background color used to display text and graphics in an object.")},
        {kKeyPicture, QStringLiteral("Returns/sets a graphic to be displayed in a control.")},
        {QStringLiteral("Click"),
         QStringLiteral("Occurs when the user presses and then releases a mouse button over an object.")},
        {QStringLiteral("DblClick"),
         QStringLiteral("Occurs when the user presses and releases a mouse button and then presses and "
                        "releases it again over an object.")},
        {QStringLiteral("KeyPress"), QStringLiteral("Occurs when the user presses and releases an ANSI key.")},
        {QStringLiteral("MouseDown"),
         QStringLiteral("Occurs when the user presses the mouse button while an object has the focus.")},
        {QStringLiteral("MouseUp"),
         QStringLiteral("Occurs when the user releases the mouse button while an object has the focus.")},
    };
    return descriptions.value(member);
}

void ImageAceX::PlaceViewport(const QRect& geometry)
{
    const QRect r(geometry.topLeft(), QSize(std::max(0, geometry.width()), std::max(0, geometry.height())));
    m_picScl->setGeometry(r);
    // A hidden widget gets its resize event only when shown; the surface is
    // drawn into before that, so size it now.
    m_picScl->surface().Resize(r.width(), r.height());
}

void ImageAceX::RefreshDisplay()
{
    switch (m_Displaymode) {
    case 0:
        ShowPictureOn(m_picDst->surface(), m_iSrc.Picture());
        m_picDst->show();
        m_picDst->update();
        // Nothing of an earlier fitted drawing may show around the picture.
        m_picScl->surface().Cls();
        m_picScl->update();
        LayoutScrollView();
        break;
    case 1:
        m_picDst->surface().SetPicture(QImage());
        m_picDst->hide();
        PlaceViewport(QRect(kInset, kInset, width() - 2 * kInset, height() - 2 * kInset));
        // Out of sight, not hidden: their visibility stays for the next layout.
        m_hSB->move(kOutOfSight, m_hSB->y());
        m_vSB->move(kOutOfSight, m_vSB->y());
        m_cmdCorner->move(kOutOfSight, m_cmdCorner->y());
        FitImageToBox(m_iSrc, m_picScl->surface(), kInset, -1);
        break;
    default:
        // Other modes have no display of their own.
        break;
    }
}

void ImageAceX::LayoutScrollView()
{
    // The viewport leaves a ring for the edge unless there is no edge at all.
    if (m_BorderStyle == 0)
        PlaceViewport(QRect(0, 0, width(), height()));
    else
        PlaceViewport(QRect(kInset, kInset, width() - 2 * kInset, height() - 2 * kInset));

    m_picDst->move(0, 0);

    const int vw = m_picScl->width();
    const int vh = m_picScl->height();
    const int dw = m_picDst->width();
    const int dh = m_picDst->height();
    const int bar = kBarThickness;

    // Each range is the overhang plus the other bar's thickness; the thickness
    // is taken off again when the other bar is not shown. The fit tests
    // compare with the whole viewport, so a picture up to one bar thicker
    // than the room beside the other bar gets no bar of its own.
    const bool showH = vw < dw;
    const bool showV = vh < dh;
    int hMax = RoundHalfEven(double(dw) - vw + bar);
    int vMax = RoundHalfEven(double(dh) - vh + bar);
    if (!showV)
        hMax = RoundHalfEven(double(hMax) - bar);
    if (!showH)
        vMax = RoundHalfEven(double(vMax) - bar);

    m_hSB->setGeometry(0, vh - bar, std::max(0, vw - bar), bar);
    m_hSB->setRange(0, std::max(0, hMax));
    m_hSB->setPageStep(std::max(1, RoundHalfEven(vw / 2.0)));
    m_hSB->setValue(0);
    m_hSB->setVisible(showH);
    m_hSB->raise();

    m_vSB->setGeometry(vw - bar, 0, bar, std::max(0, vh - bar));
    m_vSB->setRange(0, std::max(0, vMax));
    m_vSB->setPageStep(std::max(1, RoundHalfEven(vh / 2.0)));
    m_vSB->setValue(0);
    m_vSB->setVisible(showV);
    m_vSB->raise();

    // Centred only when it fits both ways; otherwise the top-left corner.
    if (!showH && !showV)
        m_picDst->move(RoundHalfEven(vw / 2.0 - dw / 2.0), RoundHalfEven(vh / 2.0 - dh / 2.0));
    else
        m_picDst->move(0, 0);

    m_cmdCorner->setGeometry(m_vSB->x(), m_vSB->y() + m_vSB->height(), bar, bar);
    m_cmdCorner->setVisible(showH || showV);
    // Above the display copy, which would otherwise cover it.
    m_cmdCorner->raise();
}

void ImageAceX::DrawBorder()
{
    m_borderRect = QRect(0, 0, width(), height());
    update();
}

void ImageAceX::paintEvent(QPaintEvent*)
{
    m_borderRect = QRect(0, 0, width(), height());
    QPainter painter(this);
    painter.fillRect(rect(), ColorFromOle(m_BackColor));
    // Styles outside 1..8 draw nothing.
    DrawEdge(painter, m_borderRect, m_BorderStyle, palette());
}

void ImageAceX::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    RefreshDisplay();
}

void ImageAceX::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    if (!m_picDst->isHidden())
        m_picDst->setFocus(event->reason());
}

bool ImageAceX::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && (watched == m_hSB || watched == m_vSB)) {
        // Hand the focus on at once: keys arrive through the display copy (or
        // the viewport while fit mode hides it).
        SurfaceWidget* target = m_picDst->isHidden() ? m_picScl : m_picDst;
        target->setFocus(Qt::OtherFocusReason);
    }
    return QWidget::eventFilter(watched, event);
}

void ImageAceX::mousePressEvent(QMouseEvent* event)
{
    m_pressedInside = true;
    std::int16_t button = ButtonMask(event->button());
    std::int16_t shift = ShiftMask(event->modifiers());
    float x = float(event->position().x());
    float y = float(event->position().y());
    emit MouseDown(button, shift, x, y);
}

void ImageAceX::mouseReleaseEvent(QMouseEvent* event)
{
    std::int16_t button = ButtonMask(event->button());
    std::int16_t shift = ShiftMask(event->modifiers());
    float x = float(event->position().x());
    float y = float(event->position().y());
    emit MouseUp(button, shift, x, y);
    if (m_pressedInside && rect().contains(event->position().toPoint()))
        emit Click();
    m_pressedInside = false;
}

void ImageAceX::mouseDoubleClickEvent(QMouseEvent* event)
{
    m_pressedInside = false;
    emit DblClick();
    event->accept();
}

void ImageAceX::keyPressEvent(QKeyEvent* event)
{
    int keyAscii = KeyAsciiOf(event);
    if (keyAscii == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    emit KeyPress(keyAscii);
    event->accept();
}

} // namespace pixquill
