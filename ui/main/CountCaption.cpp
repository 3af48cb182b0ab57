#include "CountCaption.h"

#include <algorithm>
#include <optional>

#include <QFontMetricsF>

namespace pixquill {

namespace {

// Below this the counter's digits stop being readable on a 96-dpi screen.
constexpr double kLeastPoints = 6.0;
constexpr double kPointStep = 0.25;

bool FitsOneLine(const QString& text, const QFont& font, QSize box)
{
    const QFontMetricsF metrics(font);
    return metrics.horizontalAdvance(text) <= box.width() && metrics.height() <= box.height();
}

bool FitsTwoLines(const QString& first, const QString& second, const QFont& font, QSize box)
{
    const QFontMetricsF metrics(font);
    return std::max(metrics.horizontalAdvance(first), metrics.horizontalAdvance(second)) <= box.width()
        && metrics.height() + metrics.lineSpacing() <= box.height();
}

// Where to break: before the last "(" (the figures in brackets go below the
// count), else the space that leaves the two halves closest in width.
std::optional<qsizetype> BreakAt(const QString& caption, const QFont& font)
{
    if (const qsizetype bracket = caption.lastIndexOf(QStringLiteral(" ("));
        bracket > 0 && caption.endsWith(QLatin1Char(')')))
        return bracket;
    const QFontMetricsF metrics(font);
    std::optional<qsizetype> best;
    double bestWidth = 0;
    for (qsizetype i = caption.indexOf(QLatin1Char(' ')); i > 0; i = caption.indexOf(QLatin1Char(' '), i + 1)) {
        const double width = std::max(metrics.horizontalAdvance(caption.left(i)),
                                      metrics.horizontalAdvance(caption.mid(i + 1)));
        if (!best || width < bestWidth) {
            best = i;
            bestWidth = width;
        }
    }
    return best;
}

} // namespace

FittedCaption FitCaption(const QString& caption, const QFont& font, QSize box)
{
    QFont sized = font;
    const double start = font.pointSizeF() > 0 ? font.pointSizeF() : 8.0;
    for (double points = start; points >= kLeastPoints; points -= kPointStep) {
        sized.setPointSizeF(points);
        if (FitsOneLine(caption, sized, box))
            return {caption, sized, false};
    }
    if (const std::optional<qsizetype> at = BreakAt(caption, font)) {
        const QString first = caption.left(*at);
        const QString second = caption.mid(*at + 1);
        for (double points = start; points >= kLeastPoints; points -= kPointStep) {
            sized.setPointSizeF(points);
            if (FitsTwoLines(first, second, sized, box))
                return {first + QLatin1Char('\n') + second, sized, false};
        }
    }
    sized.setPointSizeF(kLeastPoints);
    const QString elided = QFontMetricsF(sized).elidedText(caption, Qt::ElideRight, box.width());
    return {elided, sized, elided != caption};
}

} // namespace pixquill
