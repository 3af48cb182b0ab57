#pragma once

// The ICC profile of a PNG file, read from its iCCP chunk. FreeImage 3.18 as
// Debian builds it decodes such files but hands no profile for them, so the
// loader reads the chunk itself to show the picture in its true colours.

#include <cstdint>

#include <QByteArray>

#include "codec/ByteReader.h"

namespace pixquill {

// The inflated profile of the iCCP chunk, which PNG places before the image
// data; empty when there is none, when an sRGB chunk comes first (it rules),
// or when the chunk is damaged or would inflate to more than 4 MB.
QByteArray ReadPngIccProfile(const ByteReader& read, std::int64_t fileSize);

} // namespace pixquill
