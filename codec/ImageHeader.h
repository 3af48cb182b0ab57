#pragma once

// The image size a file's header declares, read with a few lines of our own
// for the formats whose FreeImage readers cannot stop after the header: they
// decode every pixel before anyone can look at the size, so a hostile header
// would cost its full size in time and memory first.

#include <cstdint>
#include <optional>

#include "codec/ByteReader.h"

namespace pixquill {

struct DeclaredSize {
    std::uint64_t Width = 0;
    std::uint64_t Height = 0;
    std::uint64_t Channels = 1; // samples per pixel the decoder keeps, where the header says

    std::uint64_t Pixels() const;
};

// True for the FreeImage formats (FREE_IMAGE_FORMAT codes) read here: GIF,
// WBMP, SGI, DDS, IFF/LBM, MNG, XBM, J2K, JP2, PICT and KOALA.
bool HasHeaderReader(int format);

// The size the header declares; for formats that hold several images, the
// largest one the decoder may allocate for the first. Nothing when the header
// is missing, cut short or makes no sense.
std::optional<DeclaredSize> ReadDeclaredSize(int format, const ByteReader& read);

} // namespace pixquill
