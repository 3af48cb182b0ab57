#include "DrawEdge.h"

#include <QPainter>

namespace pixquill {

namespace {

struct RingColours {
    QPalette::ColorRole topLeft;
    QPalette::ColorRole bottomRight;
};

void DrawRing(QPainter& painter, const QRect& r, const QPalette& palette, RingColours colours)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const QColor tl = palette.color(colours.topLeft);
    const QColor br = palette.color(colours.bottomRight);
    // Top and left first, then bottom and right over the shared corners.
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), tl);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), tl);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), br);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), br);
}

} // namespace

int EdgeFlagsForStyle(int edgeStyle)
{
    switch (edgeStyle) {
    case 1: return kEdgeRaisedOuter;
    case 2: return kEdgeRaisedInner;
    case 3: return kEdgeSunkenOuter;
    case 4: return kEdgeSunkenInner;
    case 5: return kEdgeRaisedOuter | kEdgeRaisedInner;
    case 6: return kEdgeSunkenOuter | kEdgeSunkenInner;
    case 7: return kEdgeSunkenOuter | kEdgeRaisedInner;
    case 8: return kEdgeRaisedOuter | kEdgeSunkenInner;
    default: return 0;
    }
}

int EdgeWidthForStyle(int edgeStyle)
{
    const int flags = EdgeFlagsForStyle(edgeStyle);
    const bool outer = flags & (kEdgeRaisedOuter | kEdgeSunkenOuter);
    const bool inner = flags & (kEdgeRaisedInner | kEdgeSunkenInner);
    return int(outer) + int(inner);
}

void DrawEdge(QPainter& painter, const QRect& rect, int edgeStyle, const QPalette& palette)
{
    const int flags = EdgeFlagsForStyle(edgeStyle);
    if (flags == 0)
        return;

    painter.save();
    painter.setPen(Qt::NoPen);
    QRect ring = rect;
    if (flags & kEdgeRaisedOuter) {
        DrawRing(painter, ring, palette, {QPalette::Midlight, QPalette::Shadow});
        ring.adjust(1, 1, -1, -1);
    } else if (flags & kEdgeSunkenOuter) {
        DrawRing(painter, ring, palette, {QPalette::Dark, QPalette::Light});
        ring.adjust(1, 1, -1, -1);
    }
    if (flags & kEdgeRaisedInner)
        DrawRing(painter, ring, palette, {QPalette::Light, QPalette::Dark});
    else if (flags & kEdgeSunkenInner)
        DrawRing(painter, ring, palette, {QPalette::Shadow, QPalette::Midlight});
    painter.restore();
}

} // namespace pixquill
