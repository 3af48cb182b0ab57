#pragma once

// The metadata a thumbnail takes over from its image (the command line's
// --keep), read once from the image and written into each thumbnail made of
// it. Exiv2 reads it and encodes it; the encoders of the formats Exiv2 cannot
// write (AVIF, JPEG XL) put the blobs it made into their files themselves.
//
// What is never kept, whatever is asked: the location (the GPS directory,
// XMP's exif:GPS* and the place names of photoshop: and Iptc4xmp), the
// camera maker's notes, the embedded preview images, and the fields that
// describe the image's own pixels (sizes, strips, compression, its colour
// profile), which would be wrong for the thumbnail. The orientation, where
// the image had one, becomes 1: the thumbnail's pixels are upright.
//
// Reads and writes only what it is given: the source through OpenRegularFile
// (so in a decode worker, the descriptor handed over) and the output through
// its FileStream. Any thread.

#include <QByteArray>
#include <QString>

namespace pixquill {

class FileStream;
struct OutputFormatEntry;

enum class MetadataToKeep {
    None = 0,
    Copyright = 1, // EXIF Artist and Copyright, XMP dc:creator and dc:rights
    Exif = 2,      // every EXIF and XMP field but those never kept
};

struct KeptMetadata {
    QByteArray Exif; // TIFF-structured, from its byte-order mark on; empty: none
    QByteArray Xmp;  // an XMP packet; empty: none

    bool IsEmpty() const { return Exif.isEmpty() && Xmp.isEmpty(); }
};

struct MetadataRead {
    KeptMetadata Kept;
    // One line when the image's metadata could not be read (then nothing
    // of it is kept, and the thumbnail is made as without --keep), or when
    // a part of it does not fit in the output format.
    QString Note;
};

// What to keep of the image at sourcePath for a thumbnail in the output
// format. Nothing (and no note) for MetadataToKeep::None, for a format
// without metadata Exiv2 knows and for an image without the fields asked
// for. A JPEG holds an XMP packet in one segment: a larger one is left out,
// with a note, rather than the thumbnail.
MetadataRead ReadKeptMetadata(const QString& sourcePath, MetadataToKeep keep, const OutputFormatEntry& output);

// The same from a whole file's bytes.
MetadataRead KeptMetadataOf(const QByteArray& file, MetadataToKeep keep);

// Writes the metadata into the complete JPEG, PNG, TIFF or WebP file the
// stream has just written, replacing the file's content; nothing to do for
// empty metadata. False when Exiv2 refuses (its words go to LibraryMessages)
// or the system refused a read or write (stream.Error()).
bool WriteKeptMetadata(FileStream& stream, const KeptMetadata& metadata);

// Sets Exiv2 up once (its XMP toolkit, its messages kept from stderr, the
// ISO media formats switched on); later calls do nothing. Every function
// above calls it; a decode worker calls it before locking itself down.
void PrepareMetadataLibrary();

} // namespace pixquill
