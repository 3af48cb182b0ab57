// What --keep takes over from an image's metadata, read from sources made in
// the test: the blobs the encoders are given, decoded again.

#include <map>
#include <ostream>
#include <string>

#include <QImage>

#include <FreeImage.h>
#include <gtest/gtest.h>

#include "codec/KeptMetadata.h"
#include "codec/MFreeImage_2.h"
#include "tests/support/TestImages.h"
#include "tests/support/TestMetadata.h"

namespace pixquill {
namespace {

using Keys = std::map<std::string, std::string>;

QByteArray CameraPhoto()
{
    return test::JpegWithMetadata(test::QuadrantImage(60, 40));
}

QByteArray DamagedPhoto()
{
    return test::WithExif(CameraPhoto(), test::BrokenExif());
}

// An uncompressed TIFF, its first directory full of its own strips and sizes.
QByteArray CameraTiff()
{
    const Bitmap bitmap(FreeImage_Allocate(30, 20, 24));
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(FIF_TIFF, bitmap.get(), memory, TIFF_NONE);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    const QByteArray tiff(reinterpret_cast<const char*>(data), qsizetype(size));
    FreeImage_CloseMemory(memory);
    return test::WithCameraMetadata(tiff);
}

struct KeepCase {
    const char* Label;
    QByteArray (*Source)();
    MetadataToKeep Keep;
    Keys Kept;        // every key kept, with its value
    bool Note = false; // the metadata could not be read
};

std::ostream& operator<<(std::ostream& os, const KeepCase& c)
{
    return os << c.Label;
}

class KeptMetadataTable : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeptMetadataTable, KeepsWhatWasAskedAndNeverTheLocation)
{
    const KeepCase& c = GetParam();
    const MetadataRead read = KeptMetadataOf(c.Source(), c.Keep);
    EXPECT_EQ(read.Note.isEmpty(), !c.Note) << read.Note.toStdString();
    EXPECT_FALSE(read.Note.contains(QLatin1Char('\n')));
    const Keys kept = test::MetadataOf(read.Kept.Exif, read.Kept.Xmp);
    EXPECT_EQ(kept, c.Kept);
}

// A TIFF's resolution is kept; its strips, sizes and compression are not.
Keys TiffKept()
{
    Keys keys = test::CameraAllButWhereAndMaker();
    keys.insert({{"Exif.Image.ResolutionUnit", "2"}, {"Exif.Image.XResolution", "72/1"},
                 {"Exif.Image.YResolution", "72/1"}});
    return keys;
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeptMetadataTable,
    ::testing::Values(KeepCase{"photo, none", CameraPhoto, MetadataToKeep::None, {}},
                      KeepCase{"photo, copyright", CameraPhoto, MetadataToKeep::Copyright,
                               test::CameraCopyright()},
                      KeepCase{"photo, exif", CameraPhoto, MetadataToKeep::Exif,
                               test::CameraAllButWhereAndMaker()},
                      KeepCase{"tiff, exif", CameraTiff, MetadataToKeep::Exif, TiffKept()},
                      KeepCase{"damaged, none", DamagedPhoto, MetadataToKeep::None, {}},
                      KeepCase{"damaged, exif", DamagedPhoto, MetadataToKeep::Exif, {}, true},
                      KeepCase{"png without any, exif",
                               [] { return test::QtEncoded(test::GradientImage(20, 10), "PNG"); },
                               MetadataToKeep::Exif, {}},
                      // A format whose metadata Exiv2 does not know.
                      KeepCase{"ppm, exif", [] { return test::QtEncoded(test::GradientImage(20, 10), "PPM"); },
                               MetadataToKeep::Exif, {}}));

} // namespace
} // namespace pixquill
