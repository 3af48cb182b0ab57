#pragma once

// What a decoder hands the loader: the picture as a FreeImage bitmap, still in
// the colours the file stored, with the colour profile that came with it. The
// loader converts the colours to sRGB (ColourProfile) before the picture
// reaches a surface. Codec-internal: FreeImage's types stay behind the handle.

#include <QByteArray>
#include <QString>

#include "codec/MFreeImage_2.h"

namespace pixquill {

struct DecodedImage {
    Bitmap Image;          // null when nothing was decoded
    QByteArray IccProfile; // the embedded ICC profile; empty when the file has none (taken as sRGB)
    QString Error;         // why nothing was decoded; empty on success
    // What the decoder's library warned of while the picture was decoded all
    // the same (data cut short, a damaged part shown as grey), one line;
    // empty when it said nothing.
    QString Warning;
};

} // namespace pixquill
