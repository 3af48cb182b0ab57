#pragma once

#include <QFont>

namespace pixquill {

// The font of controls that name none: the classic 8-point dialog sans
// serif. Arial (Liberation Sans on most Linux systems) stands in for it: its
// metrics keep texts inside boxes laid out for that font, where a wider
// fallback would push the help text out of its label.
inline QFont DefaultFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.0);
    return font;
}

// Verdana 6.75 points, or the system's fallback at that size.
inline QFont VerdanaFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(6.75);
    return font;
}

// Arial at a size, or the system's fallback with its metrics.
inline QFont ArialFont(double points, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace pixquill
