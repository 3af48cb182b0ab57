#include "codec/KeptMetadata.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <QFile>

#include <FreeImage.h>
#include <exiv2/exiv2.hpp>

#include "codec/FileStream.h"
#include "codec/InputSource.h"
#include "codec/LibraryMessages.h"
#include "codec/OutputFormats.h"

namespace pixquill {

namespace {

// Exiv2's errors while it reads or writes, for the note or the reason: its
// messages go through one handler for the whole process, so each thread
// collects its own.
thread_local std::string t_exiv2Errors;

void CollectExiv2Message(int level, const char* message)
{
    if (level < Exiv2::LogMsg::error || !message)
        return;
    std::string line(message);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (t_exiv2Errors.empty())
        t_exiv2Errors = line; // the first says the most
}

// The XMP toolkit registers namespaces in shared tables.
std::mutex g_xmpMutex;

void LockXmp(void* data, bool lock)
{
    auto* mutex = static_cast<std::mutex*>(data);
    if (lock)
        mutex->lock();
    else
        mutex->unlock();
}

// Tags of the image's first directory that describe its pixels or point at
// other data (strips, tiles, its colour profile, the directories Exiv2 lays
// out itself, the location's directory): copied into the thumbnail they
// would be wrong, or carry what is never kept.
constexpr auto kImageTagsLeftOut = std::to_array<std::uint16_t>({
    0x00FE, 0x00FF, // NewSubfileType, SubfileType
    0x0100, 0x0101, 0x0102, 0x0103, 0x0106, // width, length, bits, compression, photometric
    0x010A, 0x0111, 0x0115, 0x0116, 0x0117, // fill order, strips, samples per pixel
    0x011C, 0x012D, 0x013D, // planar configuration, transfer function, predictor
    0x013E, 0x013F,         // white point, primaries
    0x0140, 0x0142, 0x0143, 0x0144, 0x0145, // colour map, tiles
    0x014A, 0x0152, 0x0153, 0x015B, // SubIFDs, extra samples, sample format, JPEG tables
    0x0201, 0x0202, 0x0211, 0x0212, 0x0213, 0x0214, // JPEG interchange, YCbCr
    0x02BC, 0x83BB, 0x8649, // XMP (kept as XMP), IPTC, Photoshop's resources
    0x8769, 0x8773, 0x8825, // the Exif directory's pointer, ICC profile, the GPS directory's pointer
});
constexpr std::uint16_t kOrientation = 0x0112;
constexpr std::uint16_t kArtist = 0x013B;
constexpr std::uint16_t kCopyright = 0x8298;
// Of the Exif directory: the maker notes, the pixel sizes of the image, the
// interoperability directory's pointer (laid out by Exiv2).
constexpr auto kPhotoTagsLeftOut = std::to_array<std::uint16_t>({0x927C, 0xA002, 0xA003, 0xA005});

bool KeptInExif(const Exiv2::Exifdatum& datum)
{
    const std::string group = datum.groupName();
    const std::uint16_t tag = datum.tag();
    const auto has = [tag](const auto& tags) { return std::find(tags.begin(), tags.end(), tag) != tags.end(); };
    if (group == "Image") {
        // A DNG's own tags describe its raw data, and one of them holds a
        // copy of the maker notes.
        const std::string_view section = Exiv2::ExifTags::sectionName(Exiv2::ExifKey(datum.key()));
        return !has(kImageTagsLeftOut) && section != "DngTags";
    }
    if (group == "Photo")
        return !has(kPhotoTagsLeftOut);
    // The interoperability directory is kept; the GPS directory, the maker
    // notes, the preview's and the other images' directories are not.
    return group == "Iop";
}

bool StartsWith(const std::string& key, std::string_view prefix)
{
    return std::string_view(key).substr(0, prefix.size()) == prefix;
}

// The key, or one of its items ("Xmp.dc.creator[1]").
bool IsKeyOrItem(const std::string& key, std::string_view name)
{
    return StartsWith(key, name) && (key.size() == name.size() || key[name.size()] == '[' || key[name.size()] == '/');
}

bool KeptInXmp(const std::string& key, MetadataToKeep keep)
{
    if (keep == MetadataToKeep::Copyright)
        return IsKeyOrItem(key, "Xmp.dc.creator") || IsKeyOrItem(key, "Xmp.dc.rights");
    // The location, as coordinates and as place names.
    if (StartsWith(key, "Xmp.exif.GPS") || StartsWith(key, "Xmp.exifEX.GPS"))
        return false;
    for (std::string_view name : {"Xmp.photoshop.City", "Xmp.photoshop.State", "Xmp.photoshop.Country",
                                  "Xmp.iptc.Location", "Xmp.iptc.CountryCode", "Xmp.iptcExt.LocationShown",
                                  "Xmp.iptcExt.LocationCreated"}) {
        if (IsKeyOrItem(key, name))
            return false;
    }
    // The image's pixel sizes would be wrong for the thumbnail, and so
    // would a reference to the extended XMP of a JPEG, which is not read.
    for (std::string_view name : {"Xmp.tiff.ImageWidth", "Xmp.tiff.ImageLength", "Xmp.exif.PixelXDimension",
                                  "Xmp.exif.PixelYDimension", "Xmp.xmpNote.HasExtendedXMP"}) {
        if (IsKeyOrItem(key, name))
            return false;
    }
    return true;
}

Exiv2::ExifData KeptExif(const Exiv2::ExifData& exif, MetadataToKeep keep)
{
    Exiv2::ExifData kept;
    for (const Exiv2::Exifdatum& datum : exif) {
        const bool image = datum.groupName() == "Image";
        if (keep == MetadataToKeep::Copyright) {
            if (image && (datum.tag() == kArtist || datum.tag() == kCopyright))
                kept.add(datum);
        } else if (image && datum.tag() == kOrientation) {
            kept["Exif.Image.Orientation"] = std::uint16_t(1); // the pixels are upright
        } else if (KeptInExif(datum)) {
            kept.add(datum);
        }
    }
    return kept;
}

Exiv2::XmpData KeptXmp(const Exiv2::XmpData& xmp, MetadataToKeep keep)
{
    Exiv2::XmpData kept;
    for (const Exiv2::Xmpdatum& datum : xmp) {
        const std::string key = datum.key();
        if (keep == MetadataToKeep::Exif && key == "Xmp.tiff.Orientation")
            kept["Xmp.tiff.Orientation"] = std::string("1");
        else if (KeptInXmp(key, keep))
            kept.add(datum);
    }
    return kept;
}

QString Exiv2Words(const std::exception& error)
{
    const std::string words = t_exiv2Errors.empty() ? std::string(error.what()) : t_exiv2Errors;
    return QString::fromStdString(words).simplified();
}

// The largest XMP packet a JPEG's APP1 segment holds beside its length and
// the XMP namespace that heads it.
constexpr qsizetype kJpegXmpRoom = 65535 - 2 - 29;

MetadataRead Unreadable(const QString& why)
{
    return {{}, QStringLiteral("its metadata could not be read and was left out (%1)").arg(why)};
}

} // namespace

void PrepareMetadataLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setHandler(CollectExiv2Message);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
        Exiv2::XmpParser::initialize(LockXmp, &g_xmpMutex);
        // HEIF, AVIF, JPEG XL and CR3 files are read only when asked for.
        Exiv2::enableBMFF(true);
    });
}

MetadataRead KeptMetadataOf(const QByteArray& file, MetadataToKeep keep)
{
    if (keep == MetadataToKeep::None)
        return {};
    PrepareMetadataLibrary();
    t_exiv2Errors.clear();
    const auto* bytes = reinterpret_cast<const Exiv2::byte*>(file.constData());
    const auto size = static_cast<long>(file.size());
    MetadataRead read;
    try {
        // A format whose metadata Exiv2 does not know has none to keep.
        if (Exiv2::ImageFactory::getType(bytes, size) == Exiv2::ImageType::none)
            return {};
        const std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::open(bytes, size).release());
        image->readMetadata();
        // Exiv2 goes on past a damaged directory and says so; what it read
        // then may be anything.
        if (!t_exiv2Errors.empty())
            return Unreadable(QString::fromStdString(t_exiv2Errors).simplified());
        const Exiv2::ExifData exif = KeptExif(image->exifData(), keep);
        const Exiv2::XmpData xmp = KeptXmp(image->xmpData(), keep);
        if (!exif.empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, image->byteOrder() == Exiv2::bigEndian ? Exiv2::bigEndian
                                                                                    : Exiv2::littleEndian,
                                      exif);
            read.Kept.Exif = QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
        }
        if (!xmp.empty()) {
            std::string packet;
            if (Exiv2::XmpParser::encode(packet, xmp) != 0)
                return Unreadable(QStringLiteral("its XMP could not be encoded"));
            read.Kept.Xmp = QByteArray::fromStdString(packet);
        }
    } catch (const std::exception& error) {
        return Unreadable(Exiv2Words(error));
    }
    if (!t_exiv2Errors.empty())
        return Unreadable(QString::fromStdString(t_exiv2Errors).simplified());
    return read;
}

MetadataRead ReadKeptMetadata(const QString& sourcePath, MetadataToKeep keep, const OutputFormatEntry& output)
{
    if (keep == MetadataToKeep::None)
        return {};
    QString error;
    const std::unique_ptr<InputSource> source = OpenRegularFile(QFile::encodeName(sourcePath), error);
    if (!source)
        return Unreadable(error);
    QByteArray file(qsizetype(source->Size()), Qt::Uninitialized);
    if (!ReadExactly(source->Reader(), 0, file.data(), source->Size()))
        return Unreadable(QStringLiteral("file cannot be read"));
    MetadataRead read = KeptMetadataOf(file, keep);
    if (output.FreeImageFormat == FIF_JPEG && read.Kept.Xmp.size() > kJpegXmpRoom) {
        read.Note = QStringLiteral("its XMP (%1 bytes) does not fit in a JPEG and was left out")
                        .arg(read.Kept.Xmp.size());
        read.Kept.Xmp.clear();
    }
    return read;
}

bool WriteKeptMetadata(FileStream& stream, const KeptMetadata& metadata)
{
    if (metadata.IsEmpty())
        return true;
    PrepareMetadataLibrary();
    if (stream.Seek(0, SEEK_END) != 0)
        return false;
    QByteArray file(qsizetype(stream.Tell()), Qt::Uninitialized);
    if (stream.Seek(0, SEEK_SET) != 0)
        return false;
    for (qsizetype done = 0; done < file.size();) {
        const std::size_t got = stream.Read(file.data() + done, std::size_t(file.size() - done));
        if (got == 0)
            return false;
        done += qsizetype(got);
    }

    t_exiv2Errors.clear();
    std::string written;
    try {
        const std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(file.constData()), static_cast<long>(file.size())).release());
        image->readMetadata();
        Exiv2::ExifData exif;
        if (!metadata.Exif.isEmpty())
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(metadata.Exif.constData()),
                                      static_cast<std::uint32_t>(metadata.Exif.size()));
        Exiv2::XmpData xmp;
        if (!metadata.Xmp.isEmpty() && Exiv2::XmpParser::decode(xmp, metadata.Xmp.toStdString()) != 0)
            throw Exiv2::Error(Exiv2::kerFailedToReadImageData);
        image->setExifData(exif);
        image->setXmpData(xmp);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        written.resize(std::size_t(io.size()));
        io.seek(0, Exiv2::BasicIo::beg);
        if (io.read(reinterpret_cast<Exiv2::byte*>(written.data()), long(written.size())) != long(written.size()))
            throw Exiv2::Error(Exiv2::kerFailedToReadImageData);
    } catch (const std::exception& error) {
        LibraryMessages::Add("cannot write the metadata: " + Exiv2Words(error).toStdString());
        return false;
    }
    return stream.Truncate() && stream.Write(written.data(), written.size()) && stream.Flush();
}

} // namespace pixquill
