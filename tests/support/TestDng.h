#pragma once

// DNG files made in code, as a camera would write them: a preview in the
// first directory (NewSubFileType 1) and the sensor's 16-bit RGGB mosaic in
// a sub-directory (NewSubFileType 0), with the tags LibRaw renders it by.

#include <array>

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace pixquill::test {

struct DngRecipe {
    // The scene as it is shown, upright; the sensor holds it turned back by
    // Orientation, at this size.
    QImage Picture;
    int Orientation = 1; // EXIF orientation, 1 to 8
    // The preview, upright size; none when empty. Stored turned back as the
    // sensor's picture is, or by its own orientation when it has one.
    QSize PreviewSize;
    int PreviewOwnOrientation = 0; // an EXIF block in the JPEG preview with this orientation; 0: none
    bool PreviewAdobeRgb = false;  // the JPEG preview carries an Adobe RGB profile
    bool PreviewAsBitmap = false;  // 8-bit RGB samples instead of a JPEG
    // The JPEG preview's bytes as they are to be stored, when given (the
    // picture as the sensor holds it; PreviewSize still says there is one).
    QByteArray PreviewJpeg;
};

// The DNG's bytes; empty when libtiff could not write it.
QByteArray MakeDng(const DngRecipe& recipe);

// An ordinary TIFF of the image, with the Make and Model tags a camera's or
// a scanner's TIFF carries, no raw data in it: 8-bit RGB from a camera, or
// 16-bit grey from a film scanner.
QByteArray MakeCameraTiff(const QImage& image, bool scannedGrey = false);

// The picture turned back by an EXIF orientation: what a camera stores for
// a scene that is shown upright once the orientation is applied.
QImage StoredAs(const QImage& upright, int orientation);

// The mean of each colour channel of a picture, 0 to 1: red, green, blue.
std::array<double, 3> ChannelMeans(const QImage& image);

} // namespace pixquill::test
