#pragma once

#include <QPalette>
#include <QRect>

class QPainter;

namespace pixquill {

// Three-dimensional edge styles shared by the viewer and the progress bar:
// 0 none, 1 raised outer line, 2 raised inner line, 3 sunken outer line,
// 4 sunken inner line, 5 raised, 6 sunken, 7 etched, 8 bump; anything else none.
// Styles 2 and 3 do not follow the order of the underlying edge flags.
enum EdgeFlag : int {
    kEdgeRaisedOuter = 0x1,
    kEdgeSunkenOuter = 0x2,
    kEdgeRaisedInner = 0x4,
    kEdgeSunkenInner = 0x8,
};

// Edge flags for an edge style (0 for none).
int EdgeFlagsForStyle(int edgeStyle);

// How many pixels an edge style takes on each side (0, 1 or 2).
int EdgeWidthForStyle(int edgeStyle);

// Draws the edge on all four sides of rect with the palette's light, midlight,
// dark and shadow colours. Top and left lines are drawn first; the bottom and
// right lines overwrite the two corners they share with them. An edge with
// only an inner line draws it on the outermost ring.
void DrawEdge(QPainter& painter, const QRect& rect, int edgeStyle, const QPalette& palette);

} // namespace pixquill
