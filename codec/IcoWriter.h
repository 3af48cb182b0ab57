#pragma once

#include <QByteArray>

namespace pixquill {

// Builds a one-image icon file around an already encoded PNG image: the icon
// directory (6 bytes) and its single entry (16 bytes), followed by the PNG data
// unchanged. Icon readers since the 256-pixel icons accept PNG payloads of any
// size up to 256 x 256. Returns an empty array when the size cannot be stored
// (a side below 1 or above 256) or the PNG data is empty.
QByteArray WrapPngAsIcon(const QByteArray& png, int width, int height, int bitsPerPixel);

} // namespace pixquill
