#include "mScaleImage.h"

#include <algorithm>

#include <QImage>
#include <QPainter>

#include "codec/Rounding.h"
#include "codec/Surface.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {

namespace {

// A failed conversion leaves the value it was to replace unchanged; a
// result below one pixel keeps one pixel.
void ScaleSide(int& side, double factor)
{
    if (const auto scaled = RoundToInt32(factor * side))
        side = std::max(1, *scaled);
}

} // namespace

std::optional<QRect> FitTargetRect(int sourceWidth, int sourceHeight, int boxWidth, int boxHeight,
                                   int margin, bool centre)
{
    int w = sourceWidth;
    int h = sourceHeight;
    if (w <= 0 || h <= 0)
        return std::nullopt;
    const int maxW = RoundHalfEven(double(boxWidth) - margin);
    const int maxH = RoundHalfEven(double(boxHeight) - margin);
    if (maxW < 1 || maxH < 1)
        return std::nullopt;

    // Width first; the quotient is formed before it multiplies the other side.
    if (w > maxW) {
        ScaleSide(h, double(maxW) / w);
        w = maxW;
    }
    // Then the height, tested on what the width step left. Strict tests: a
    // side exactly as long as the room is not scaled.
    if (h > maxH) {
        ScaleSide(w, double(maxH) / h);
        h = maxH;
    }

    int x = margin;
    int y = margin;
    if (centre) {
        x = RoundHalfEven((double(boxWidth) - w) / 2.0);
        y = RoundHalfEven((double(boxHeight) - h) / 2.0);
    }
    return QRect(x, y, w, h);
}

void FitImageToBox(const Surface& source, Surface& destination, std::int16_t margin,
                   std::int16_t centre)
{
    const std::optional<QRect> target =
        FitTargetRect(source.ScaleWidth(), source.ScaleHeight(), destination.ScaleWidth(),
                      destination.ScaleHeight(), margin, centre != 0);

    // The source pixels as 32-bit entries. A surface already holds RGB32, so
    // this shares its buffer instead of copying it; whatever the destination
    // does next cannot reach back into the source.
    QImage pixels;
    if (target && !source.Image().isNull())
        pixels = source.Image().convertToFormat(QImage::Format_RGB32);

    destination.Cls();
    if (target && !pixels.isNull() && !destination.Image().isNull()) {
        // Smooth scaling averages the covered source pixels when shrinking
        // instead of dropping rows and columns. The scaled image lives only
        // for this draw.
        const QImage scaled = pixels.size() == target->size()
            ? pixels
            : pixels.scaled(target->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&destination.Image());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(target->topLeft(), scaled);
    }
    destination.Refresh();
}

void FitImageToBox(const Surface& source, SurfaceWidget& destination, std::int16_t margin,
                   std::int16_t centre)
{
    FitImageToBox(source, destination.surface(), margin, centre);
}

} // namespace pixquill
