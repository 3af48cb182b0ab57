#include <ostream>

#include <QImage>

#include <gtest/gtest.h>

#include "codec/MFreeImage_2.h"
#include "codec/RescaleSource.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

struct RescaleCase {
    int Width;
    int Height;
    int ToWidth;
    int ToHeight;
};

std::ostream& operator<<(std::ostream& out, const RescaleCase& c)
{
    return out << c.Width << "x" << c.Height << " to " << c.ToWidth << "x" << c.ToHeight;
}

QImage Drawn(FIBITMAP* bitmap, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    DrawBitmapToDC(bitmap, image, width, height);
    return image;
}

// The renderer's 24-bit copy must rescale to exactly the colours of the
// 32-bit copy the surface reads back as, with every filter, shrinking,
// enlarging or keeping the size.
class RescaleSourceTest : public ::testing::TestWithParam<RescaleCase> {};

TEST_P(RescaleSourceTest, RescalesToTheColoursOfTheFullDepthCopy)
{
    const RescaleCase& c = GetParam();
    QImage picture = test::GradientImage(c.Width, c.Height);
    // Detail at every scale, not just a ramp.
    for (int y = 0; y < c.Height; y += 3)
        for (int x = (y * 7) % 5; x < c.Width; x += 5)
            picture.setPixel(x, y, qRgb((x * 31) & 0xFF, (y * 17) & 0xFF, ((x + y) * 13) & 0xFF));
    for (int filter = 0; filter <= 5; ++filter) {
        Bitmap wide = BitmapFromPicture(picture);
        Bitmap narrow = RescaleSourceFromPicture(picture);
        ASSERT_TRUE(wide && narrow);
        const Bitmap a = RescaleBitmap(wide, c.ToWidth, c.ToHeight, true, filter);
        const Bitmap b = RescaleBitmap(narrow, c.ToWidth, c.ToHeight, true, filter);
        EXPECT_EQ(Drawn(a.get(), c.ToWidth, c.ToHeight), Drawn(b.get(), c.ToWidth, c.ToHeight)) << "filter " << filter;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RescaleSourceTest,
                         ::testing::Values(RescaleCase{640, 427, 100, 67}, RescaleCase{97, 211, 45, 98},
                                           RescaleCase{50, 40, 50, 40}, RescaleCase{31, 17, 120, 80},
                                           RescaleCase{300, 2, 7, 1}));

} // namespace
} // namespace pixquill
