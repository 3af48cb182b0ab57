#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

namespace pixquill::test {

// A w x h RGB32 image whose pixel (x, y) is a colour that depends on x and y,
// so that a flip, a shift or a swapped channel shows.
QImage GradientImage(int width, int height);

// Four solid quadrants: top-left red, top-right green, bottom-left blue,
// bottom-right white. Easy to check after a rescale.
QImage QuadrantImage(int width, int height);

// Colour distance: the largest difference over the three channels.
int ColourDistance(QRgb a, QRgb b);

// The JPEG with an APP1 EXIF block holding the TIFF bytes, put right after
// the start-of-image marker.
QByteArray WithExif(const QByteArray& jpeg, const QByteArray& tiff);

// The TIFF bytes of an EXIF block whose only tag is the orientation.
QByteArray OrientationExif(int orientation);

// A JPEG of the image (quality 95) with an EXIF block whose only tag is the
// orientation.
QByteArray JpegWithOrientation(const QImage& image, int orientation);

// The image in a format Qt writes ("PNG", "PPM"); empty when Qt cannot.
QByteArray QtEncoded(const QImage& image, const char* format);

// Whole file contents (empty when unreadable).
QByteArray ReadFileBytes(const QString& path);

} // namespace pixquill::test
