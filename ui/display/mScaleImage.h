#pragma once

#include <cstdint>
#include <optional>

#include <QRect>

namespace pixquill {

class Surface;
class SurfaceWidget;

// Where a sourceWidth x sourceHeight picture lands when it is fitted into a
// boxWidth x boxHeight box: shrunk to fit with its aspect ratio kept, never
// enlarged. The width is limited first and the height then tested against the
// rounded result, so two roundings happen (201 x 240 in 200 x 200 gives
// 167 x 200, not 168 x 200). The margin is taken off the room once, not per
// side; centring uses the box's full size, halves going to even. Without
// centring the picture starts at (margin, margin).
//
// Returns nothing when nothing is to be drawn: a source without pixels, or a
// box whose size is not larger than the margin. A side that would round to
// zero keeps one pixel, so a thin picture does not vanish.
std::optional<QRect> FitTargetRect(int sourceWidth, int sourceHeight, int boxWidth, int boxHeight,
                                   int margin, bool centre);

// Clears destination and draws the whole of source's persistent image into
// it at FitTargetRect, with an area-averaging stretch, then refreshes it.
// Source is only read. A source with no pixels leaves destination cleared.
// centre is a flag: 0 false, anything else true (callers pass -1 or true).
// Each call reads the source once as 32-bit pixels and keeps nothing after it
// returns. GUI thread, or the thread that owns both surfaces.
void FitImageToBox(const Surface& source, Surface& destination, std::int16_t margin,
                   std::int16_t centre);
void FitImageToBox(const Surface& source, SurfaceWidget& destination, std::int16_t margin,
                   std::int16_t centre);

} // namespace pixquill
