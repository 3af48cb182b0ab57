#include <gtest/gtest.h>

#include <QPainter>

#include "codec/Surface.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

TEST(SurfaceTest, HiddenSurfaceKeepsWhatIsDrawn)
{
    Surface surface(40, 30, Qt::white);
    {
        QPainter painter(&surface.Image());
        painter.fillRect(10, 10, 5, 5, Qt::red);
    }
    EXPECT_EQ(QSize(40, 30), surface.Image().size());
    EXPECT_EQ(qRgb(255, 0, 0), surface.Image().pixel(12, 12));
    EXPECT_EQ(qRgb(255, 255, 255), surface.Image().pixel(0, 0));
}

TEST(SurfaceTest, ClsWithoutPictureFillsBackColour)
{
    Surface surface(8, 8, QColor(0x80, 0xA0, 0xC0));
    surface.Image().fill(Qt::black);
    surface.Cls();
    EXPECT_EQ(qRgb(0x80, 0xA0, 0xC0), surface.Image().pixel(3, 3));
}

TEST(SurfaceTest, PictureFromImageIsBroughtBackByCls)
{
    Surface surface(20, 20, Qt::white);
    surface.Image().fill(Qt::blue);
    surface.SetPictureFromImage();
    // Drawing after the snapshot must not leak into the picture.
    surface.Image().fill(Qt::green);
    EXPECT_EQ(qRgb(0, 0, 255), surface.Picture().pixel(5, 5));
    surface.Cls();
    EXPECT_EQ(qRgb(0, 0, 255), surface.Image().pixel(5, 5));
}

TEST(SurfaceTest, ResizeKeepsOverlapAndFillsNewAreaWithBackColour)
{
    Surface surface(10, 10, Qt::white);
    surface.Image().fill(Qt::red);
    surface.SetWidth(20);
    EXPECT_EQ(QSize(20, 10), QSize(surface.Width(), surface.Height()));
    EXPECT_EQ(QSize(20, 10), surface.Image().size());
    EXPECT_EQ(qRgb(255, 0, 0), surface.Image().pixel(9, 9));
    EXPECT_EQ(qRgb(255, 255, 255), surface.Image().pixel(15, 5));
}

TEST(SurfaceTest, BorderMakesInnerSizeSmaller)
{
    Surface surface(102, 105);
    surface.SetBorderWidth(2);
    EXPECT_EQ(98, surface.ScaleWidth());
    EXPECT_EQ(101, surface.ScaleHeight());
    EXPECT_EQ(102, surface.Width());
}

TEST(SurfaceTest, AutoSizeTakesThePictureSize)
{
    Surface surface(45, 45);
    surface.SetAutoSize(true);
    QImage picture(64, 32, QImage::Format_RGB32);
    picture.fill(Qt::red);
    surface.SetPicture(picture);
    EXPECT_EQ(QSize(64, 32), QSize(surface.Width(), surface.Height()));
}

TEST(SurfaceTest, ZeroAndNegativeSizesGiveAnEmptyImage)
{
    Surface surface(10, 10);
    surface.Resize(0, 5);
    EXPECT_TRUE(surface.Image().isNull());
    surface.Resize(-3, 5);
    EXPECT_EQ(0, surface.Width());
    surface.Cls(); // must not crash on an empty surface
}

// A load over the previous image must not change the picture that still
// shares the previous image's pixels (the preview keeps one).
TEST(SurfaceTest, ResizeForOverwriteLeavesASharedPictureAlone)
{
    Surface surface(4, 3);
    surface.Image().fill(Qt::red);
    surface.SetPictureFromImage();
    surface.ResizeForOverwrite(4, 3);
    surface.Image().fill(Qt::blue);
    EXPECT_EQ(surface.Picture().pixel(1, 1), qRgb(255, 0, 0));
    surface.ResizeForOverwrite(7, 2);
    EXPECT_EQ(QSize(surface.Width(), surface.Height()), QSize(7, 2));
    EXPECT_EQ(surface.Image().size(), QSize(7, 2));
    EXPECT_EQ(surface.Picture().size(), QSize(4, 3));
}

} // namespace
} // namespace pixquill
