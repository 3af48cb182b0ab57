#include "tests/support/TestMetadata.h"

#include <cstdint>
#include <memory>

#include <exiv2/exiv2.hpp>

#include "tests/support/TestImages.h"

namespace pixquill::test {

namespace {

std::unique_ptr<Exiv2::Image> OpenBytes(const QByteArray& file)
{
    return std::unique_ptr<Exiv2::Image>(
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file.constData()), long(file.size()))
            .release());
}

QByteArray WrittenBytes(Exiv2::Image& image)
{
    Exiv2::BasicIo& io = image.io();
    QByteArray written(qsizetype(io.size()), Qt::Uninitialized);
    io.seek(0, Exiv2::BasicIo::beg);
    io.read(reinterpret_cast<Exiv2::byte*>(written.data()), long(written.size()));
    return written;
}

void AddAll(std::map<std::string, std::string>& keys, const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp)
{
    // The Exif directory's pointer is an offset, whatever the layout.
    for (const Exiv2::Exifdatum& datum : exif)
        keys[datum.key()] = datum.key() == "Exif.Image.ExifTag" ? std::string("pointer") : datum.toString();
    for (const Exiv2::Xmpdatum& datum : xmp)
        keys[datum.key()] = datum.toString();
}

} // namespace

QByteArray WithCameraMetadata(const QByteArray& file)
{
    Exiv2::enableBMFF(true);
    const std::unique_ptr<Exiv2::Image> image = OpenBytes(file);
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    exif["Exif.Image.Artist"] = "Ann Author";
    exif["Exif.Image.Copyright"] = "(c) Ann Author";
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = "Canon EOS 5D";
    exif["Exif.Image.Orientation"] = std::uint16_t(6);
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:01 10:00:00";
    exif["Exif.Canon.OwnerName"] = "Owner In The Maker Note";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 0/1";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = "2/1 21/1 0/1";
    Exiv2::XmpData& xmp = image->xmpData();
    xmp["Xmp.dc.creator"] = "Ann Author";
    xmp["Xmp.dc.rights"] = "lang=x-default All rights reserved";
    xmp["Xmp.exif.GPSLatitude"] = "48,51.0N";
    xmp["Xmp.photoshop.City"] = "Paris";
    xmp["Xmp.tiff.Orientation"] = "6";
    image->writeMetadata();
    return WrittenBytes(*image);
}

QByteArray WithLongDescription(const QByteArray& file, int length)
{
    const std::unique_ptr<Exiv2::Image> image = OpenBytes(file);
    image->readMetadata();
    image->exifData()["Exif.Image.Artist"] = "Ann Author";
    image->xmpData()["Xmp.dc.description"] = std::string(std::size_t(length), 'w');
    image->writeMetadata();
    return WrittenBytes(*image);
}

QByteArray JpegWithMetadata(const QImage& stored)
{
    return WithCameraMetadata(QtEncoded(stored, "JPG"));
}

std::map<std::string, std::string> CameraCopyright()
{
    return {{"Exif.Image.Artist", "Ann Author"},
            {"Exif.Image.Copyright", "(c) Ann Author"},
            {"Xmp.dc.creator", "Ann Author"},
            {"Xmp.dc.rights", "lang=\"x-default\" All rights reserved"}};
}

std::map<std::string, std::string> CameraAllButWhereAndMaker()
{
    std::map<std::string, std::string> keys = CameraCopyright();
    keys.insert({{"Exif.Image.ExifTag", "pointer"},
                 {"Exif.Image.Make", "Canon"},
                 {"Exif.Image.Model", "Canon EOS 5D"},
                 {"Exif.Image.Orientation", "1"},
                 {"Exif.Photo.DateTimeOriginal", "2024:05:01 10:00:00"},
                 {"Xmp.tiff.Orientation", "1"}});
    return keys;
}

QByteArray BrokenExif()
{
    // "II*", the first directory at 8, 40 entries; 20 bytes follow.
    QByteArray tiff("II*\0\x08\0\0\0\x28\0", 10);
    tiff.append(QByteArray(20, '\x01'));
    return tiff;
}

std::map<std::string, std::string> MetadataOf(const QByteArray& file)
{
    Exiv2::enableBMFF(true);
    const std::unique_ptr<Exiv2::Image> image = OpenBytes(file);
    image->readMetadata();
    std::map<std::string, std::string> keys;
    AddAll(keys, image->exifData(), image->xmpData());
    return keys;
}

std::map<std::string, std::string> MetadataOf(const QByteArray& exif, const QByteArray& xmp)
{
    Exiv2::ExifData exifData;
    if (!exif.isEmpty())
        Exiv2::ExifParser::decode(exifData, reinterpret_cast<const Exiv2::byte*>(exif.constData()),
                                  std::uint32_t(exif.size()));
    Exiv2::XmpData xmpData;
    if (!xmp.isEmpty())
        Exiv2::XmpParser::decode(xmpData, xmp.toStdString());
    std::map<std::string, std::string> keys;
    AddAll(keys, exifData, xmpData);
    return keys;
}

} // namespace pixquill::test
