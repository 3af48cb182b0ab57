// The collector of library messages: per thread, per scope, never printed.

#include <atomic>
#include <ostream>
#include <thread>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "codec/LibraryMessages.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/codec/CodecTestFiles.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/StderrCapture.h"

namespace pixquill {
namespace {

TEST(LibraryMessages, InnerScopeHidesTheOuterOneAndNothingIsKeptOutsideAny)
{
    LibraryMessages::Add("before any scope");
    LibraryMessages outer;
    LibraryMessages::Add("outer");
    {
        LibraryMessages inner;
        LibraryMessages::Add("inner");
        LibraryMessages::Add("inner"); // repeats are dropped
        EXPECT_EQ(inner.Messages(), std::vector<std::string>{"inner"});
        EXPECT_EQ(inner.Explain(QStringLiteral("failed")), QStringLiteral("failed (inner)"));
    }
    LibraryMessages::Add("outer again");
    EXPECT_EQ(outer.Messages(), (std::vector<std::string>{"outer", "outer again"}));
}

// Two workers decoding different broken files at the same time each get
// their own decoder's words, never the other's.
TEST(LibraryMessages, ParallelLoadsKeepTheirMessagesApart)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("cut.png"));
    const QString jpeg = dir.filePath(QStringLiteral("cut.jpg"));
    ASSERT_TRUE(test::WriteFileBytes(png, test::PngHeaderOnly(64, 64)));
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QByteArray goodJpeg = test::EncodeWithCodec(picture, "jpg");
    ASSERT_TRUE(test::WriteFileBytes(jpeg, goodJpeg.left(200)));

    // What each says when loaded alone.
    Surface surface;
    const QString pngReason = LoadImageToSurface(png, surface).error;
    const QString jpegReason = LoadImageToSurface(jpeg, surface).error;
    ASSERT_TRUE(jpegReason.startsWith(QStringLiteral("cannot decode the image ("))) << jpegReason.toStdString();
    ASSERT_NE(pngReason, jpegReason);
    ASSERT_TRUE(pngReason.startsWith(QStringLiteral("cannot decode the image ("))) << pngReason.toStdString();

    std::atomic<int> mixed {0};
    const auto worker = [&mixed](const QString& path, const QString& expected) {
        Surface own;
        for (int i = 0; i < 200; ++i) {
            if (LoadImageToSurface(path, own).error != expected)
                ++mixed;
        }
    };
    test::StderrCapture capture;
    std::thread a(worker, png, pngReason);
    std::thread b(worker, jpeg, jpegReason);
    a.join();
    b.join();
    EXPECT_TRUE(capture.Take().isEmpty());
    EXPECT_EQ(mixed, 0);
}

// A library's words become one line of a reason, however they were laid out.
struct OneLineCase {
    const char* Name;
    const char* Said;
    const char* Kept; // "" for nothing at all
};

std::ostream& operator<<(std::ostream& os, const OneLineCase& c) { return os << c.Name; }

class OneLine : public ::testing::TestWithParam<OneLineCase> {};

TEST_P(OneLine, KeepsTheWordsOnOneLine)
{
    const OneLineCase& c = GetParam();
    EXPECT_EQ(LibraryMessages::OneLine(c.Said).toStdString(), c.Kept);
    LibraryMessages collected;
    LibraryMessages::Add(c.Said);
    EXPECT_EQ(collected.Summary().toStdString(), c.Kept);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OneLine,
    ::testing::Values(OneLineCase{"TrailingBreak", "File does not include any supported brands.\n",
                                  "File does not include any supported brands."},
                      OneLineCase{"Lines", "first line\r\n  second line\n", "first line second line"},
                      OneLineCase{"TerminalEscape", "tag \x1b[2J\x1b]0;title\x07 read", "tag [2J ]0;title read"},
                      OneLineCase{"Tabs", "\tcolumn\tafter", "column after"},
                      OneLineCase{"OnlyBreaks", "\n\r\n", ""},
                      OneLineCase{"Unicode", "caf\xc3\xa9 \xe2\x80\x94 ok", "caf\xc3\xa9 \xe2\x80\x94 ok"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
