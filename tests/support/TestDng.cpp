#include "TestDng.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QTransform>

#include <tiffio.h>

#include "TestImages.h"

namespace pixquill::test {
namespace {

constexpr double kBlack = 256;
constexpr double kWhite = 16383;

// A tag of several values, passed as libtiff's field for it wants them:
// with or without the count, as float or as double.
bool SetValues(TIFF* tiff, std::uint32_t tag, const std::vector<double>& values)
{
    const TIFFField* field = TIFFFieldWithTag(tiff, tag);
    if (!field)
        return false;
    const int count = static_cast<int>(values.size());
    const TIFFDataType type = TIFFFieldDataType(field);
    if (type == TIFF_RATIONAL || type == TIFF_SRATIONAL || type == TIFF_FLOAT || type == TIFF_DOUBLE) {
        std::vector<float> floats(values.begin(), values.end());
        const void* data = TIFFFieldSetGetSize(field) == 8 ? static_cast<const void*>(values.data())
                                                             : static_cast<const void*>(floats.data());
        return TIFFFieldPassCount(field) ? TIFFSetField(tiff, tag, count, data) : TIFFSetField(tiff, tag, data);
    }
    if (type == TIFF_BYTE) {
        std::vector<std::uint8_t> bytes(values.begin(), values.end());
        return TIFFFieldPassCount(field) ? TIFFSetField(tiff, tag, count, bytes.data())
                                         : TIFFSetField(tiff, tag, bytes.data());
    }
    if (type == TIFF_SHORT) {
        std::vector<std::uint16_t> shorts(values.begin(), values.end());
        return TIFFFieldPassCount(field) ? TIFFSetField(tiff, tag, count, shorts.data())
                                         : TIFFSetField(tiff, tag, shorts.data());
    }
    std::vector<std::uint32_t> longs(values.begin(), values.end());
    return TIFFFieldPassCount(field) ? TIFFSetField(tiff, tag, count, longs.data())
                                     : TIFFSetField(tiff, tag, longs.data());
}

double Linear(int encoded)
{
    const double v = encoded / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

QByteArray Jpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

// The tags every DNG carries in its first directory, besides an image.
bool SetCameraTags(TIFF* tiff, int orientation)
{
    // XYZ (D65) to linear sRGB: the sensor records linear sRGB, neutral.
    return SetValues(tiff, TIFFTAG_DNGVERSION, {1, 4, 0, 0})
           && SetValues(tiff, TIFFTAG_DNGBACKWARDVERSION, {1, 1, 0, 0})
           && TIFFSetField(tiff, TIFFTAG_MAKE, "Pixquill") && TIFFSetField(tiff, TIFFTAG_MODEL, "Test Sensor")
           && TIFFSetField(tiff, TIFFTAG_UNIQUECAMERAMODEL, "Pixquill Test Sensor")
           && TIFFSetField(tiff, TIFFTAG_ORIENTATION, orientation)
           && SetValues(tiff, TIFFTAG_COLORMATRIX1,
                        {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570})
           && TIFFSetField(tiff, TIFFTAG_CALIBRATIONILLUMINANT1, 21)
           && SetValues(tiff, TIFFTAG_ASSHOTNEUTRAL, {1, 1, 1});
}

bool WritePreview(TIFF* tiff, const DngRecipe& recipe)
{
    const QImage scaled = recipe.Picture.scaled(recipe.PreviewSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int turn = recipe.PreviewOwnOrientation > 0 ? recipe.PreviewOwnOrientation : recipe.Orientation;
    const QImage stored = recipe.PreviewJpeg.isEmpty()
                              ? StoredAs(scaled, turn).convertToFormat(QImage::Format_RGB888)
                              : QImage::fromData(recipe.PreviewJpeg, "JPEG");
    bool ok = TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE)
              && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, stored.width())
              && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, stored.height())
              && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3)
              && TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
              && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB)
              && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, stored.height());
    if (!ok)
        return false;
    if (recipe.PreviewAsBitmap) {
        if (!TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE))
            return false;
        for (int y = 0; y < stored.height(); ++y) {
            if (TIFFWriteScanline(tiff, const_cast<uchar*>(stored.constScanLine(y)), std::uint32_t(y), 0) < 0)
                return false;
        }
        return true;
    }
    // A whole JPEG file as the one strip, as cameras store it: written raw,
    // past libtiff's own JPEG coder.
    QImage tagged = stored;
    if (recipe.PreviewAdobeRgb)
        tagged.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    QByteArray jpeg = !recipe.PreviewJpeg.isEmpty()      ? recipe.PreviewJpeg
                      : recipe.PreviewOwnOrientation > 0 ? JpegWithOrientation(tagged, recipe.PreviewOwnOrientation)
                                                         : Jpeg(tagged);
    return TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG)
           && TIFFWriteRawStrip(tiff, 0, jpeg.data(), jpeg.size()) >= 0;
}

bool WriteMosaic(TIFF* tiff, const QImage& stored)
{
    const int width = stored.width();
    const int height = stored.height();
    bool ok = TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0) && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width)
              && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16)
              && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1)
              && TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
              && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA)
              && TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE)
              && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height)
              && SetValues(tiff, TIFFTAG_CFAREPEATPATTERNDIM, {2, 2})
              && SetValues(tiff, TIFFTAG_CFAPATTERN, {0, 1, 1, 2}) // red, green / green, blue
              && SetValues(tiff, TIFFTAG_BLACKLEVEL, {kBlack}) && SetValues(tiff, TIFFTAG_WHITELEVEL, {kWhite});
    if (!ok)
        return false;
    std::vector<std::uint16_t> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(stored.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb c = line[x];
            const int encoded = y % 2 == 0 ? (x % 2 == 0 ? qRed(c) : qGreen(c)) : (x % 2 == 0 ? qGreen(c) : qBlue(c));
            row[std::size_t(x)] = std::uint16_t(std::lround(kBlack + Linear(encoded) * (kWhite - kBlack)));
        }
        if (TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), 0) < 0)
            return false;
    }
    return true;
}

} // namespace

QImage StoredAs(const QImage& upright, int orientation)
{
    const QImage clockwise = upright.transformed(QTransform().rotate(90));
    switch (orientation) {
    case 2:
        return upright.mirrored(true, false);
    case 3:
        return upright.mirrored(true, true);
    case 4:
        return upright.mirrored(false, true);
    case 5:
        return clockwise.mirrored(true, false);
    case 6:
        return upright.transformed(QTransform().rotate(270));
    case 7:
        return clockwise.mirrored(false, true);
    case 8:
        return clockwise;
    default:
        return upright;
    }
}

QByteArray MakeCameraTiff(const QImage& image, bool scannedGrey)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("made.tif"));
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return {};
    const QImage pixels = image.convertToFormat(scannedGrey ? QImage::Format_Grayscale16 : QImage::Format_RGB888);
    bool ok = TIFFSetField(tiff, TIFFTAG_MAKE, scannedGrey ? "Nikon" : "Canon")
              && TIFFSetField(tiff, TIFFTAG_MODEL, scannedGrey ? "LS-5000" : "Canon EOS 5D")
              && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, pixels.width())
              && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, pixels.height())
              && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, scannedGrey ? 16 : 8)
              && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, scannedGrey ? 1 : 3)
              && TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
              && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, scannedGrey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)
              && TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE)
              && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, pixels.height());
    for (int y = 0; ok && y < pixels.height(); ++y)
        ok = TIFFWriteScanline(tiff, const_cast<uchar*>(pixels.constScanLine(y)), std::uint32_t(y), 0) >= 0;
    ok = ok && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    return ok ? ReadFileBytes(path) : QByteArray();
}

QByteArray MakeDng(const DngRecipe& recipe)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("made.dng"));
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return {};
    const QImage stored = StoredAs(recipe.Picture.convertToFormat(QImage::Format_RGB32), recipe.Orientation);
    bool ok = SetCameraTags(tiff, recipe.Orientation);
    if (ok && !recipe.PreviewSize.isEmpty()) {
        std::uint64_t subDirectory = 0;
        ok = WritePreview(tiff, recipe) && TIFFSetField(tiff, TIFFTAG_SUBIFD, 1, &subDirectory)
             && TIFFWriteDirectory(tiff) && WriteMosaic(tiff, stored);
    } else if (ok) {
        ok = WriteMosaic(tiff, stored);
    }
    ok = ok && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    return ok ? ReadFileBytes(path) : QByteArray();
}

std::array<double, 3> ChannelMeans(const QImage& image)
{
    std::array<double, 3> sums{};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            sums[0] += qRed(c);
            sums[1] += qGreen(c);
            sums[2] += qBlue(c);
        }
    }
    for (double& sum : sums)
        sum /= 255.0 * image.width() * image.height();
    return sums;
}

} // namespace pixquill::test
