#pragma once

// pixquill-thumbnailer: one image to one PNG, as a file manager asks for
// it through a .thumbnailer file ("-s %s %u %o"). The longer side of the
// PNG is the size asked for (a smaller image keeps its size), upright, in
// sRGB, drawn from the cheapest picture the file holds that serves (an
// embedded thumbnail or a camera's preview).
//
// A file manager thumbnails every file a user downloads, so the decoding
// runs in a child process that locks itself down first (LockDownWorker)
// and reads and writes only the two files opened for it beforehand
// (HandedFiles); the parent puts the PNG in place only when the child
// reports it written in full.

#include <cstdint>

#include <QSize>
#include <QString>
#include <QStringList>

#include "codec/Outcome.h"

namespace pixquill {

inline constexpr int kDefaultDesktopThumbnailSize = 256;
// Larger than any size a file manager asks for (1024 at most today).
inline constexpr int kMaxDesktopThumbnailSize = 4096;
// A decoder that has not finished within this time is killed, so that a
// file that sends a decoder round in circles costs the file manager that
// much and no more: ten seconds, and one more for every 4 MiB. A 12-MP
// phone HEIC decoded whole takes over a second on a busy two-core machine
// (the guards refuse every hostile file of the test suites long before).
int DesktopThumbnailMilliseconds(std::int64_t fileBytes);

// Exit statuses of pixquill-thumbnailer.
inline constexpr int kThumbnailerWritten = 0;
inline constexpr int kThumbnailerFailed = 1;
inline constexpr int kThumbnailerUsage = 2;

struct ThumbnailerCall {
    int Size = kDefaultDesktopThumbnailSize;
    QString Input; // a local path, the URI's where a file:// URI was given
    QString Output;
    bool Help = false;
    bool Version = false;
};

// Reads the arguments after the program's name: [-s SIZE] INPUT OUTPUT,
// or --help, or --version. INPUT is a path or a file:// URI (%u), whose
// escapes are decoded; any other URI is refused, as a usage failure.
Outcome<ThumbnailerCall> ReadThumbnailerArguments(const QStringList& arguments);

QString ThumbnailerUsage();

// The thumbnail's size for a whole image of `full`: its longer side is
// `size`, the shorter follows the aspect (at least 1); an image that fits
// already keeps its own size.
QSize DesktopThumbnailSize(QSize full, int size);

// Decodes, draws and writes the thumbnail in the calling process, the PNG
// put in place atomically (nothing at output on failure). Gives the
// thumbnail's size. In a process whose files are handed over, the PNG is
// written into the temporary file handed over, for its owner to rename.
Outcome<QSize> DrawDesktopThumbnail(const QString& input, const QString& output, int size);

// The whole of pixquill-thumbnailer's work: opens the input and the
// output's temporary file, decodes in a locked-down child (its library
// messages dropped), waits for it at most DesktopThumbnailMilliseconds,
// and renames the PNG into place. A crash, a hang or a lock-down that did not take hold is a
// failure like any other, with nothing left at output. Call it while the
// process has a single thread: the child is forked, not started afresh.
Outcome<QSize> MakeDesktopThumbnail(const ThumbnailerCall& call);

} // namespace pixquill
