#pragma once

// Where "Fill and Crop" cuts when told to keep what draws the eye: the part
// of the picture, in the box's shape, with the most edges, saturated colour
// and skin tones. A small scoring on a reduced copy of the picture, no face
// detector.

#include <QImage>
#include <QRect>
#include <QSize>

namespace pixquill {

// The crop CentredCrop gives (the largest part in the box's shape), moved
// along the picture's long side to where the score is highest; of equal
// scores the one nearest the middle. Every pixel scores its luma edges
// (right and down neighbours), half its saturation (largest minus smallest
// channel) and 64 when its colour is a skin tone (red above 95, green above
// 40, blue above 20, red the largest by more than 15). Pure; any thread.
QRect AttentionCrop(const QImage& picture, QSize box);

} // namespace pixquill
