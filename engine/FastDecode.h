#pragma once

// The fast road for JPEGs: decode at the smallest reduced scale that still
// leaves at least twice the thumbnail in both directions, and shrink from
// there. The thumbnail's size still comes from the image's real, upright
// size, so every output has the size the full decode gives it.

#include <cstdint>

#include <QString>

#include "engine/RenderThumbnail.h"

namespace pixquill {

class Surface;

// Renders the JPEG at sourcePath into picThumb from a reduced decode and
// returns true, or returns false having touched neither surface when the
// fast road does not apply: not a JPEG, a resize mode or thumbnail that
// shrinks less than half, or a reduced decode that failed (the full road
// then loads the file and says what is wrong with it).
bool RenderFromReducedJpeg(const QString& sourcePath, int resizeMode, int resampleFilter,
                           std::int32_t w, std::int32_t h, Surface& picLoad, Surface& picThumb,
                           RenderResult& rendered, RenderOps& ops = RenderOps::Default());

} // namespace pixquill
