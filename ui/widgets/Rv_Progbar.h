#pragma once

#include <cstdint>

#include <QWidget>

#include "codec/OleColor.h"
#include "ui/widgets/PropertyBag.h"

namespace pixquill {

class SurfaceWidget;

// A progress bar: a solid bar of Barcolor growing from the left edge of a
// body of BackColor. The body draws its edge (BorderStyle) on every paint; the
// bar is a child surface on top of it, so it hides the body's border where it
// lies, and carries its own edge (Barstyle). The bar is laid out only when
// value is assigned; Max, Barstyle and BarOffset take effect then.
//
// Assigning value yields to the event loop before returning, so the host's
// handlers (a Stop button) run inside the assignment. GUI thread only.
class Rv_Progbar : public QWidget {
    Q_OBJECT
public:
    static inline const QString kClassId = QStringLiteral("Pixquill.Rv_Progbar");
    static constexpr QSize kNewSize{212, 16};

    explicit Rv_Progbar(QWidget* parent = nullptr);

    // Not used in drawing.
    std::int32_t Min() const { return m_Min; }
    void SetMin(std::int32_t New_Min);
    std::int32_t Max() const { return m_Max; }
    void SetMax(std::int32_t New_Max);
    // Not clamped to Min..Max: above Max the bar runs past the body's right
    // edge and is cut off there.
    std::int32_t value() const { return m_value; }
    void Setvalue(std::int32_t New_Value);
    // Colours as 0x00BBGGRR, or a system colour (0x80000000 + n).
    OleColor BackColor() const { return m_backColor; }
    void SetBackColor(OleColor New_BackColor);
    OleColor Barcolor() const { return m_barColor; }
    void SetBarcolor(OleColor New_Barcolor);
    // Edge styles as for DrawEdge.
    std::int32_t Barstyle() const { return m_Barstyle; }
    void SetBarstyle(std::int32_t New_Barstyle);
    std::int32_t BorderStyle() const { return m_BorderStyle; }
    void SetBorderStyle(std::int32_t New_BorderStyle);
    // 1 leaves a 2-pixel margin around the bar; anything else none.
    std::int32_t BarOffset() const { return m_BarOffset; }
    void SetBarOffset(std::int32_t New_BarOffset);

    // Saved property set. A new instance keeps its creation colours (body
    // button face, bar window background), while reading and writing use
    // button face as the default of both colours.
    void InitProperties();
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    // The bar surface, for the host's tests and for looking at it.
    const SurfaceWidget& Bar() const { return *m_picBar; }

    QSize sizeHint() const override { return kNewSize; }

signals:
    // Raised at the end of every property setter with the persisted key.
    void PropertyChanged(const QString& key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows or hides the bar, lays it out for valueToShow / Max, clears it
    // to Barcolor, draws its edge, shows it and processes pending events.
    void DrawBar(std::int32_t& valueToShow);
    // Clears the body to BackColor and draws its edge.
    void DrawBorder(QPainter& painter);

    std::int32_t m_Min = 0;
    std::int32_t m_Max = 100;
    std::int32_t m_value = 0;
    std::int32_t m_Barstyle = 0;
    std::int32_t m_BorderStyle = 0;
    std::int32_t m_BarOffset = 0;
    OleColor m_backColor = kSystemButtonFace;
    OleColor m_barColor = kSystemWindowBackground;
    SurfaceWidget* m_picBar = nullptr;
    // Body size at the bar's last layout.
    QSize m_laidOutOn;
};

} // namespace pixquill
