#pragma once

// A decoded picture handed from a decode worker to the window in shared
// memory rather than through the pipe: the worker writes the pixels into an
// anonymous memory file once, seals it against any further change of size or
// content, and sends its descriptor over the handover channel; the window
// maps it and draws from the mapping, with no copy of its own. Linux only;
// elsewhere making one fails and the pixels travel in the Picture frame.

#include <QImage>

#include "codec/Outcome.h"

namespace pixquill {

// A sealed memory file holding picture's rows (Format_RGB32, width * 4 bytes
// a row, no padding); the descriptor is the caller's to close.
Outcome<int> MakeSharedPicture(const QImage& picture);

// The picture of width x height in the memory file fd, mapped: the image
// shares the file's pages and unmaps them when its last copy goes; a write
// to it changes a private copy of the page, never the file. fd stays the
// caller's. Refused, with the reason, unless fd is a memory file sealed
// against shrinking and writing that holds exactly that many pixels, so
// that neither a short file nor its sender changing it later can make a
// read of the picture fault.
Outcome<QImage> MapSharedPicture(int fd, int width, int height);

} // namespace pixquill
