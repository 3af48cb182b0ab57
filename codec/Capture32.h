#pragma once

#include <cstdint>

#include <QImage>

#include "codec/MFreeImage_2.h"

namespace pixquill {

// A 32-bit FreeImage copy of an image's pixels, bottom-up, with the fourth
// byte set to `fourth` (a screen capture reads back 0 there). Null for a null
// image or when the bitmap cannot be made.
Bitmap Capture32(const QImage& image, std::uint8_t fourth);

} // namespace pixquill
