#pragma once

// Photos with metadata, written by Exiv2, and their metadata read back, for
// the tests of what --keep takes over.

#include <map>
#include <string>

#include <QByteArray>
#include <QImage>

namespace pixquill::test {

// The file (any format Exiv2 writes) carrying what a camera and a
// photographer put in: EXIF Artist, Copyright, Make (a camera whose maker notes Exiv2 writes),
// Model, DateTimeOriginal, Orientation 6, a maker note and a GPS position;
// XMP dc:creator, dc:rights, exif:GPSLatitude, photoshop:City and
// tiff:Orientation 6.
QByteArray WithCameraMetadata(const QByteArray& file);

// A JPEG of the stored picture with that metadata.
QByteArray JpegWithMetadata(const QImage& stored);

// The file (any format Exiv2 writes) with an EXIF Artist and an XMP
// dc:description of `length` characters.
QByteArray WithLongDescription(const QByteArray& file, int length);

// Of that metadata, what a thumbnail keeps with --keep copyright: the author
// and the copyright.
std::map<std::string, std::string> CameraCopyright();
// And with --keep exif: neither the location (EXIF's and XMP's GPS, XMP's
// city) nor the maker note, and the orientation 1 since the pixels are
// upright.
std::map<std::string, std::string> CameraAllButWhereAndMaker();

// The TIFF bytes of an EXIF block whose first directory claims more entries
// than the block holds.
QByteArray BrokenExif();

// Every EXIF and XMP key of a file, with its value as Exiv2 reads it back
// ("Exif.Image.Artist" -> "Ann Author"); empty for a file without.
std::map<std::string, std::string> MetadataOf(const QByteArray& file);

// The same of an EXIF block (TIFF bytes) and an XMP packet.
std::map<std::string, std::string> MetadataOf(const QByteArray& exif, const QByteArray& xmp);

} // namespace pixquill::test
