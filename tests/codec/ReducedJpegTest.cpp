#include <ostream>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <FreeImage.h>

#include "codec/InputSource.h"
#include "codec/ReducedJpeg.h"
#include "tests/codec/CodecTestFiles.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

enum class Layout { Baseline, Progressive, BigEndianExif, ExifWithoutOrientation, Truncated, NotJpeg };

struct HeaderCase {
    Layout Kind;
    int Width;
    int Height;
    int Orientation; // written in the EXIF block (Baseline, Progressive, BigEndianExif)
};

std::ostream& operator<<(std::ostream& out, const HeaderCase& c)
{
    return out << static_cast<int>(c.Kind) << " " << c.Width << "x" << c.Height << " orientation " << c.Orientation;
}

QByteArray Encode(const QImage& image, bool progressive)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return jpeg;
}

QByteArray FileFor(const HeaderCase& c)
{
    const QImage image = test::GradientImage(c.Width, c.Height);
    switch (c.Kind) {
    case Layout::Baseline:
        return test::JpegWithOrientation(image, c.Orientation);
    case Layout::Progressive:
        // The orientation block of a baseline file, moved onto a progressive one.
        return test::WithExif(Encode(image, true),
                              test::JpegWithOrientation(QImage(1, 1, QImage::Format_RGB32), c.Orientation).mid(12, 26));
    case Layout::BigEndianExif: {
        QByteArray tiff("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01", 18);
        tiff.append('\0');
        tiff.append(static_cast<char>(c.Orientation));
        tiff.append(QByteArray(6, '\0'));
        return test::WithExif(Encode(image, false), tiff);
    }
    case Layout::ExifWithoutOrientation: {
        // One entry: ImageDescription (0x010E), ASCII, 2 bytes "x".
        QByteArray tiff("II*\0\x08\0\0\0\x01\0\x0E\x01\x02\0\x02\0\0\0x\0\0\0\0\0\0\0", 26);
        return test::WithExif(Encode(image, false), tiff);
    }
    case Layout::Truncated:
        return Encode(image, false).left(20);
    case Layout::NotJpeg: {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return png;
    }
    }
    return {};
}

class ReadJpegHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

// Our marker reading must agree with what FreeImage's decode produces: the
// upright size after EXIF rotation.
TEST_P(ReadJpegHeaderTest, AgreesWithFreeImagesUprightDecode)
{
    const HeaderCase& c = GetParam();
    QTemporaryDir folder;
    const QString path = folder.filePath("x.jpg");
    ASSERT_TRUE(test::WriteFileBytes(path, FileFor(c)));
    const JpegHeader header = ReadJpegHeader(path);
    if (c.Kind == Layout::Truncated || c.Kind == Layout::NotJpeg) {
        EXPECT_FALSE(header.Ok);
        return;
    }
    ASSERT_TRUE(header.Ok);
    EXPECT_EQ(header.StoredWidth, c.Width);
    EXPECT_EQ(header.StoredHeight, c.Height);
    // An orientation of 1 given is told from none given.
    EXPECT_EQ(header.OrientationTagged, c.Kind != Layout::ExifWithoutOrientation);
    FIBITMAP* decoded = FreeImage_Load(FIF_JPEG, QFile::encodeName(path).constData(), JPEG_ACCURATE | JPEG_EXIFROTATE);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(header.Width, static_cast<int>(FreeImage_GetWidth(decoded)));
    EXPECT_EQ(header.Height, static_cast<int>(FreeImage_GetHeight(decoded)));
    FreeImage_Unload(decoded);

    // And the reduced decode lands on the header's size divided by the scale.
    const InputSource file(FileFor(c));
    const DecodedImage reduced = DecodeJpegAtScale(file.Reader(), file.Size(), header, 4);
    ASSERT_TRUE(reduced.Image) << reduced.Error.toStdString();
    const bool turned = header.Orientation >= 5;
    EXPECT_EQ(int(FreeImage_GetWidth(reduced.Image.get())), ((turned ? c.Height : c.Width) + 3) / 4);
    EXPECT_EQ(int(FreeImage_GetHeight(reduced.Image.get())), ((turned ? c.Width : c.Height) + 3) / 4);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ReadJpegHeaderTest,
    ::testing::Values(HeaderCase{Layout::Baseline, 101, 57, 1}, HeaderCase{Layout::Baseline, 101, 57, 6},
                      HeaderCase{Layout::Baseline, 64, 33, 8}, HeaderCase{Layout::Baseline, 64, 33, 3},
                      HeaderCase{Layout::Progressive, 90, 41, 5}, HeaderCase{Layout::Progressive, 90, 41, 1},
                      HeaderCase{Layout::BigEndianExif, 77, 31, 7}, HeaderCase{Layout::ExifWithoutOrientation, 50, 20, 1},
                      HeaderCase{Layout::Truncated, 50, 20, 1}, HeaderCase{Layout::NotJpeg, 50, 20, 1}));

TEST(ChooseJpegScale, TheSmallestScaleKeepingTwiceTheThumbnail)
{
    JpegHeader header;
    header.Ok = true;
    header.Width = header.StoredWidth = 1680;
    header.Height = header.StoredHeight = 1050;
    EXPECT_EQ(ChooseJpegScale(header, 100, 62), 8);  // 210 x 132
    EXPECT_EQ(ChooseJpegScale(header, 106, 66), 4);  // 1/8 would give 210 < 212
    EXPECT_EQ(ChooseJpegScale(header, 420, 262), 2); // 420 x 263 at 1/4 is not twice
    EXPECT_EQ(ChooseJpegScale(header, 841, 525), 1);
    EXPECT_EQ(ChooseJpegScale(header, 0, 62), 1);
    header.Ok = false;
    EXPECT_EQ(ChooseJpegScale(header, 10, 10), 1);
}

} // namespace
} // namespace pixquill
