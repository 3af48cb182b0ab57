#include <ostream>
#include <string>

#include <QBuffer>
#include <QColorSpace>
#include <QImage>

#include <gtest/gtest.h>

#include <FreeImage.h>

#include "codec/DecoderTable.h"
#include "codec/InputSource.h"
#include "tests/support/TestDng.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

enum class Content { Jpeg, AdobeRgbJpeg, Png, Text, Dng, CameraTiff, ScannedTiff, Cr3Start, RafStart };

QByteArray Bytes(Content content, int width = 40, int height = 30)
{
    switch (content) {
    case Content::Text:
        return QByteArray("plain words, no picture in them at all\n");
    case Content::Dng:
    {
        test::DngRecipe recipe;
        recipe.Picture = test::GradientImage(width, height);
        return test::MakeDng(recipe);
    }
    case Content::CameraTiff:
    case Content::ScannedTiff:
        return test::MakeCameraTiff(test::GradientImage(width, height), content == Content::ScannedTiff);
    case Content::Cr3Start: // an ISO-BMFF file type box of Canon's brand
        return QByteArray("\0\0\0\x18" "ftypcrx \0\0\0\x01" "crx isom", 24) + QByteArray(1000, '\0');
    case Content::RafStart:
        return QByteArray("FUJIFILMCCD-RAW 0201FF383501") + QByteArray(1000, '\0');
    default:
        break;
    }
    QImage image = test::GradientImage(width, height);
    if (content == Content::AdobeRgbJpeg)
        image.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, content == Content::Png ? "PNG" : "JPEG");
    return out;
}

struct FindCase {
    Content What;
    const char* Extension;
    const char* Row; // nullptr: no decoder takes it
};

std::ostream& operator<<(std::ostream& out, const FindCase& c)
{
    return out << static_cast<int>(c.What) << " ." << c.Extension << " -> " << (c.Row ? c.Row : "none");
}

class FindDecoderTest : public ::testing::TestWithParam<FindCase> {};

// Content decides before the name; the name only where no content check
// recognised anything, compared without regard to case.
TEST_P(FindDecoderTest, ContentFirstThenExtension)
{
    const FindCase& c = GetParam();
    const InputSource source(Bytes(c.What));
    const DecoderRow* row = FindDecoder(source.Reader(), source.Size(), c.Extension);
    if (!c.Row) {
        EXPECT_EQ(row, nullptr);
        return;
    }
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Name, c.Row);
    // A plain TIFF still reads as FreeImage reads it, a DNG as LibRaw does.
    if (c.What == Content::CameraTiff || c.What == Content::ScannedTiff || c.What == Content::Dng) {
        EXPECT_TRUE(row->Decode(source.Reader(), source.Size(), DecodeHints{}).Image);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FindDecoderTest,
    ::testing::Values(FindCase{Content::Jpeg, "png", "JPEG"}, FindCase{Content::Png, "jpg", "FreeImage"},
                      FindCase{Content::Text, "JPG", "JPEG"}, FindCase{Content::Text, "tga", "FreeImage"},
                      FindCase{Content::Text, "xyz", nullptr}, FindCase{Content::Text, "", nullptr},
                      // Camera RAW by content where it can be told, a plain TIFF
                      // with a camera's Make included; by name otherwise.
                      FindCase{Content::Dng, "tif", "Camera RAW"}, FindCase{Content::CameraTiff, "nef", "FreeImage"},
                      FindCase{Content::ScannedTiff, "tif", "FreeImage"},
                      FindCase{Content::Cr3Start, "mov", "Camera RAW"}, FindCase{Content::RafStart, "", "Camera RAW"},
                      FindCase{Content::Text, "NEF", "Camera RAW"}));

TEST(ExtensionOf, WhatFollowsTheLastDotOfTheFileName)
{
    EXPECT_EQ(ExtensionOf("/photos/day.trip.JPG"), "JPG");
    EXPECT_EQ(ExtensionOf("/photos.2024/jpg"), "");
    EXPECT_EQ(ExtensionOf("/photos/ends."), "");
}

// A wanted size lets the JPEG row decode at a reduced scale that still
// leaves twice the thumbnail, where the hints allow a reduced scale; without
// either it decodes in full. A profile comes back as the file stored it, and
// none from an untagged file.
TEST(DecodeRows, HonourHintsAndKeepTheProfile)
{
    const InputSource jpeg(Bytes(Content::Jpeg, 400, 300));
    const DecoderRow* row = FindDecoder(jpeg.Reader(), jpeg.Size(), "jpg");
    ASSERT_NE(row, nullptr);
    DecodeHints hints;
    hints.Width = 50;
    hints.Height = 37;
    const DecodedImage unasked = row->Decode(jpeg.Reader(), jpeg.Size(), hints);
    ASSERT_TRUE(unasked.Image);
    EXPECT_EQ(FreeImage_GetWidth(unasked.Image.get()), 400u);
    hints.ReducedScale = true;
    const DecodedImage reduced = row->Decode(jpeg.Reader(), jpeg.Size(), hints);
    ASSERT_TRUE(reduced.Image);
    EXPECT_EQ(FreeImage_GetWidth(reduced.Image.get()), 100u);
    EXPECT_EQ(FreeImage_GetHeight(reduced.Image.get()), 75u);
    const DecodedImage full = row->Decode(jpeg.Reader(), jpeg.Size(), DecodeHints{});
    ASSERT_TRUE(full.Image);
    EXPECT_EQ(FreeImage_GetWidth(full.Image.get()), 400u);
    EXPECT_TRUE(full.IccProfile.isEmpty());

    const InputSource tagged(Bytes(Content::AdobeRgbJpeg));
    const DecodedImage adobe = row->Decode(tagged.Reader(), tagged.Size(), {});
    ASSERT_TRUE(adobe.Image);
    EXPECT_EQ(adobe.IccProfile, QColorSpace(QColorSpace::AdobeRgb).iccProfile());
}

} // namespace
} // namespace pixquill
