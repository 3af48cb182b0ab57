#pragma once

// The fast road: decode a JPEG at the smallest reduced scale that still
// leaves at least twice the thumbnail in both directions, or a HEIF or AVIF
// file's own thumbnail image where it is at least that large, and shrink
// from there. The thumbnail's size still comes from the image's real, upright
// size, so every output has the size the full decode gives it.

#include <cstdint>
#include <optional>

#include <QString>

#include "engine/RenderThumbnail.h"

namespace pixquill {

class Surface;

// Renders the JPEG, HEIF or AVIF image at sourcePath into picThumb from a
// reduced decode (a HEIF file without a thumbnail image large enough is
// decoded in full and drawn all the same), or gives nothing, having touched
// neither surface, when the fast road does not apply: another format, a
// resize mode or thumbnail that shrinks less than half, or a reduced decode
// that failed (the full road then loads the file and says what is wrong
// with it). Not applying is no failure, so there is no
// reason to give.
std::optional<RenderResult> RenderFromReducedDecode(const QString& sourcePath, int resizeMode,
                                                    int resampleFilter, std::int32_t w, std::int32_t h,
                                                    Surface& picLoad, Surface& picThumb,
                                                    RenderOps& ops = RenderOps::Default());

} // namespace pixquill
