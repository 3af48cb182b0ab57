#include "Rv_Progbar.h"

#include <algorithm>
#include <optional>

#include <QCoreApplication>
#include <QPainter>
#include <QResizeEvent>

#include "codec/Rounding.h"
#include "ui/widgets/DrawEdge.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {

namespace {

const QString kKeyMin = QStringLiteral("Min");
const QString kKeyMax = QStringLiteral("Max");
const QString kKeyValue = QStringLiteral("Value");
const QString kKeyBackColor = QStringLiteral("BackColor");
const QString kKeyBarcolor = QStringLiteral("Barcolor");
const QString kKeyBarstyle = QStringLiteral("Barstyle");
const QString kKeyBorderStyle = QStringLiteral("BorderStyle");
const QString kKeyBarOffset = QStringLiteral("BarOffset");

constexpr std::int32_t kDefaultMax = 100;
// Both colours read and write with button face as their default, although a
// new bar surface starts with the window background colour.
constexpr OleColor kDefaultColor = kSystemButtonFace;

// Beyond the body's right edge the bar is cut off; keeping it at most this
// much wider than what shows hides its right edge just the same, without
// allocating a surface as wide as an absurd value asks for.
constexpr int kOverhang = 2;

std::int32_t ReadInt(const PropertyBag& bag, const QString& key, std::int32_t defaultValue)
{
    return bag.ReadProperty(key, defaultValue).toInt();
}

OleColor ReadColor(const PropertyBag& bag, const QString& key, OleColor defaultValue)
{
    return bag.ReadProperty(key, defaultValue).toUInt();
}

struct BarLayout {
    int left;
    int top;
    int width;
    int height;
};

// Position and size of the bar for value / max over a body of w x h pixels;
// nothing when it cannot be laid out (max 0, a negative size, no 32-bit fit).
std::optional<BarLayout> LayOutBar(std::int32_t value, std::int32_t max, std::int32_t barOffset,
                                   double bodyWidth, double bodyHeight)
{
    if (max == 0)
        return std::nullopt;
    const double fraction = double(value) / double(max);
    const double inset = barOffset == 1 ? 2.0 : 0.0;
    const double visible = std::max(0.0, bodyWidth - inset);
    const double width = std::min(fraction * (bodyWidth - 2 * inset), visible + kOverhang);
    const double height = bodyHeight - 2 * inset;
    const auto w = RoundToInt32(width);
    const auto h = RoundToInt32(height);
    if (!w || !h || *w < 0 || *h < 0)
        return std::nullopt;
    const int left = int(inset);
    return BarLayout{left, left, *w, *h};
}

} // namespace

Rv_Progbar::Rv_Progbar(QWidget* parent)
    : QWidget(parent)
{
    // The body is cleared and framed on every paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_picBar = new SurfaceWidget(this);
    m_picBar->setObjectName(QStringLiteral("picBar"));
    m_picBar->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_picBar->surface().SetBackColor(ColorFromOle(m_barColor));
    // Not laid out until the first value: hidden, in the corner.
    m_picBar->setGeometry(0, 0, 0, 0);
    m_picBar->hide();
    resize(kNewSize);
}

void Rv_Progbar::SetMin(std::int32_t New_Min)
{
    m_Min = New_Min;
    emit PropertyChanged(kKeyMin);
}

void Rv_Progbar::SetMax(std::int32_t New_Max)
{
    m_Max = New_Max;
    emit PropertyChanged(kKeyMax);
}

void Rv_Progbar::Setvalue(std::int32_t New_Value)
{
    m_value = New_Value;
    emit PropertyChanged(kKeyValue);
    DrawBar(m_value);
}

void Rv_Progbar::SetBackColor(OleColor New_BackColor)
{
    m_backColor = New_BackColor;
    update();
    emit PropertyChanged(kKeyBackColor);
}

void Rv_Progbar::SetBarcolor(OleColor New_Barcolor)
{
    m_barColor = New_Barcolor;
    // A new back colour wipes the bar's drawing, edge included, until the
    // next value redraws it.
    m_picBar->surface().SetBackColor(ColorFromOle(m_barColor));
    m_picBar->surface().Refresh();
    emit PropertyChanged(kKeyBarcolor);
}

void Rv_Progbar::SetBarstyle(std::int32_t New_Barstyle)
{
    m_Barstyle = New_Barstyle;
    emit PropertyChanged(kKeyBarstyle);
}

void Rv_Progbar::SetBorderStyle(std::int32_t New_BorderStyle)
{
    m_BorderStyle = New_BorderStyle;
    emit PropertyChanged(kKeyBorderStyle);
    update();
}

void Rv_Progbar::SetBarOffset(std::int32_t New_BarOffset)
{
    m_BarOffset = New_BarOffset;
    emit PropertyChanged(kKeyBarOffset);
}

void Rv_Progbar::InitProperties()
{
    m_Max = kDefaultMax;
    m_Min = 0;
    m_value = 0;
    m_Barstyle = 0;
    m_BorderStyle = 0;
    m_BarOffset = 0;
}

// Nothing is drawn: a stored value shows from the next assignment on.
void Rv_Progbar::ReadProperties(const PropertyBag& bag)
{
    m_Min = ReadInt(bag, kKeyMin, 0);
    m_Max = ReadInt(bag, kKeyMax, kDefaultMax);
    m_value = ReadInt(bag, kKeyValue, 0);
    m_backColor = ReadColor(bag, kKeyBackColor, kDefaultColor);
    update();
    m_barColor = ReadColor(bag, kKeyBarcolor, kDefaultColor);
    m_picBar->surface().SetBackColor(ColorFromOle(m_barColor));
    m_picBar->surface().Refresh();
    m_Barstyle = ReadInt(bag, kKeyBarstyle, 0);
    m_BorderStyle = ReadInt(bag, kKeyBorderStyle, 0);
    m_BarOffset = ReadInt(bag, kKeyBarOffset, 0);
}

void Rv_Progbar::WriteProperties(PropertyBag& bag) const
{
    bag.SetClassId(kClassId);
    bag.WriteProperty(kKeyMin, m_Min, 0);
    bag.WriteProperty(kKeyMax, m_Max, kDefaultMax);
    bag.WriteProperty(kKeyValue, m_value, 0);
    bag.WriteProperty(kKeyBackColor, m_backColor, kDefaultColor);
    bag.WriteProperty(kKeyBarcolor, m_barColor, kDefaultColor);
    bag.WriteProperty(kKeyBarstyle, m_Barstyle, 0);
    bag.WriteProperty(kKeyBorderStyle, m_BorderStyle, 0);
    bag.WriteProperty(kKeyBarOffset, m_BarOffset, 0);
}

void Rv_Progbar::DrawBar(std::int32_t& valueToShow)
{
    m_picBar->setVisible(valueToShow != 0);

    // From here on a step that cannot be done is skipped.
    if (const auto layout = LayOutBar(valueToShow, m_Max, m_BarOffset, width(), height())) {
        m_picBar->setGeometry(layout->left, layout->top, layout->width, layout->height);
        // A hidden widget is resized only when shown; the surface now.
        m_picBar->surface().Resize(layout->width, layout->height);
        m_laidOutOn = size();
    }

    Surface& bar = m_picBar->surface();
    bar.Cls();
    if (!bar.Image().isNull()) {
        QPainter painter(&bar.Image());
        DrawEdge(painter, QRect(0, 0, bar.ScaleWidth(), bar.ScaleHeight()), m_Barstyle,
                 m_picBar->palette());
    }
    bar.Refresh();

    QCoreApplication::processEvents();
}

void Rv_Progbar::DrawBorder(QPainter& painter)
{
    painter.fillRect(rect(), ColorFromOle(m_backColor));
    DrawEdge(painter, QRect(0, 0, width(), height()), m_BorderStyle, palette());
}

void Rv_Progbar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawBorder(painter);
}

void Rv_Progbar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A hidden widget hears of its size only when shown; that late news of
    // the size the bar was laid out on is no resize of the body.
    if (event->size() != m_laidOutOn)
        m_picBar->move(0, 0);
}

} // namespace pixquill
