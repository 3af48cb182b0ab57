#include <gtest/gtest.h>

#include "codec/IcoWriter.h"

namespace pixquill {
namespace {

struct EntryCase {
    int width;
    int height;
    unsigned char widthByte;
    unsigned char heightByte;
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.width << " x " << c.height; }

class IcoWriterTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(IcoWriterTest, DirectoryDescribesTheOneImage)
{
    const EntryCase& c = GetParam();
    const QByteArray png("\x89PNG-payload", 12);
    const QByteArray icon = WrapPngAsIcon(png, c.width, c.height, 24);
    ASSERT_EQ(22 + png.size(), icon.size());
    const auto byte = [&](int i) { return static_cast<unsigned char>(icon[i]); };
    EXPECT_EQ(QByteArray("\0\0\1\0\1\0", 6), icon.left(6)); // icon, one image
    EXPECT_EQ(c.widthByte, byte(6));
    EXPECT_EQ(c.heightByte, byte(7));
    EXPECT_EQ(1, byte(10)); // planes
    EXPECT_EQ(24, byte(12)); // bits per pixel
    EXPECT_EQ(png.size(), byte(14) | byte(15) << 8 | byte(16) << 16 | byte(17) << 24);
    EXPECT_EQ(22, byte(18) | byte(19) << 8);
    EXPECT_EQ(png, icon.mid(22));
}

INSTANTIATE_TEST_SUITE_P(Sizes, IcoWriterTest,
                         ::testing::Values(EntryCase {100, 75, 100, 75}, EntryCase {256, 256, 0, 0},
                                           EntryCase {1, 256, 1, 0}, EntryCase {255, 10, 255, 10}));

TEST(IcoWriterTest, RefusesWhatAnIconCannotHold)
{
    const QByteArray png("x", 1);
    EXPECT_TRUE(WrapPngAsIcon(png, 257, 10, 24).isEmpty());
    EXPECT_TRUE(WrapPngAsIcon(png, 10, 0, 24).isEmpty());
    EXPECT_TRUE(WrapPngAsIcon(QByteArray(), 10, 10, 24).isEmpty());
}

} // namespace
} // namespace pixquill
