#pragma once

// The copy of a drawing that the thumbnail renderer hands to FreeImage's
// rescaler.

#include <QImage>

#include "codec/MFreeImage_2.h"

namespace pixquill {

// A FreeImage copy of the picture for rescaling. A surface's RGB32 image is
// copied at 24 bits: its fourth byte carries nothing, and FreeImage filters
// each channel on its own, so the rescaled colours are exactly those of a
// 32-bit copy while the copy takes a quarter less memory and filtering work.
// Other formats are copied as BitmapFromPicture copies them. Null on failure.
Bitmap RescaleSourceFromPicture(const QImage& picture);

} // namespace pixquill
