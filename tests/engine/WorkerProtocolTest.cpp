#include <gtest/gtest.h>

#include "engine/WorkerProcess.h"
#include "engine/WorkerProtocol.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

WorkerJob SampleJob()
{
    WorkerJob job;
    job.Settings.SourceFolder = QStringLiteral("/photos/Ünïcødé ");
    job.Settings.DestinationFolder = QStringLiteral("/photos/Thumbs");
    job.Settings.Prefix = QString();
    job.Settings.WidthText = QStringLiteral(" 12.5 ");
    job.Settings.HeightText = QStringLiteral("abc");
    job.Settings.ResizeMode = 3;
    job.Settings.ResampleFilter = 5;
    job.Settings.OutputFormat = -1;
    job.Settings.FastDecode = true;
    job.Settings.Quality = 42;
    job.ListedNames = {QStringLiteral("a.jpg"), QStringLiteral("名前.png"), QString()};
    return job;
}

// A reply reaches the batch in pieces of any size: until the last byte is in,
// the frame stays incomplete and nothing is taken off the buffer.
// Every field away from its default, so a field the protocol forgets shows.
ImageResult SampleResult()
{
    ImageResult result{QStringLiteral("b.tif"), QStringLiteral("/out/_THb.jpg"), false,
                       QStringLiteral("cannot decode the image (TIFF: bad strip)")};
    result.UpToDate = true;
    result.Interrupted = true;
    result.SourceBytes = 5'000'000'000;
    result.SourceWidth = 6000;
    result.SourceHeight = 4000;
    result.ThumbnailWidth = 150;
    result.ThumbnailHeight = 100;
    result.ThumbnailBytes = 4321;
    result.Milliseconds = 1234;
    result.Warning = QStringLiteral("Premature end of JPEG file");
    return result;
}

TEST(WorkerProtocolTest, FramesSurviveAnySplit)
{
    // An image made in two sizes answers with both results.
    std::vector<ImageResult> sent{SampleResult(), SampleResult()};
    sent[1].OutputPath = QStringLiteral("/out/_THb-640.jpg");
    sent[1].Size = QStringLiteral("640x480");
    const QByteArray bytes = PackFrame(WorkerMessage::Result, EncodeResults(sent))
        + PackFrame(WorkerMessage::Image, EncodeImageName(QStringLiteral("next.png")));
    const qsizetype firstEnd = PackFrame(WorkerMessage::Result, EncodeResults(sent)).size();
    for (qsizetype cut = 0; cut < firstEnd; ++cut) {
        QByteArray buffer = bytes.left(cut);
        WorkerFrame frame;
        ASSERT_EQ(FrameStatus::Incomplete, TakeFrame(buffer, frame)) << cut;
        EXPECT_EQ(cut, buffer.size());
        buffer += bytes.mid(cut);
        ASSERT_EQ(FrameStatus::Complete, TakeFrame(buffer, frame)) << cut;
        EXPECT_EQ(WorkerMessage::Result, frame.Kind);
        const std::optional<std::vector<ImageResult>> got = DecodeResults(frame.Payload);
        ASSERT_TRUE(got);
        EXPECT_TRUE(sent == *got);
        ASSERT_EQ(FrameStatus::Complete, TakeFrame(buffer, frame));
        EXPECT_EQ(std::optional<QString>(QStringLiteral("next.png")), DecodeImageName(frame.Payload));
        EXPECT_TRUE(buffer.isEmpty());
    }
}

TEST(WorkerProtocolTest, JobAndSettingsRoundTripEveryField)
{
    const WorkerJob job = SampleJob();
    const std::optional<WorkerJob> back = DecodeJob(EncodeJob(job));
    ASSERT_TRUE(back);
    // The sample sets each field away from its default, so a field the
    // protocol forgets shows here.
    EXPECT_TRUE(back->Settings == job.Settings);
    EXPECT_EQ(job.ListedNames, back->ListedNames);
    const std::optional<JobSettings> settings = DecodeSettings(EncodeSettings(job.Settings));
    ASSERT_TRUE(settings);
    EXPECT_TRUE(*settings == job.Settings);
}

struct GarbageCase {
    const char* name;
    QByteArray bytes;
    FrameStatus status;
};

void PrintTo(const GarbageCase& c, std::ostream* os) { *os << c.name; }

class GarbledStreamTest : public ::testing::TestWithParam<GarbageCase> {};

TEST_P(GarbledStreamTest, IsNotTakenForAFrame)
{
    QByteArray buffer = GetParam().bytes;
    WorkerFrame frame;
    EXPECT_EQ(GetParam().status, TakeFrame(buffer, frame));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, GarbledStreamTest,
    ::testing::Values(GarbageCase{"UnknownKind", QByteArray("\0\0\0\0\x0B", 5), FrameStatus::Malformed},
                      GarbageCase{"KindZero", QByteArray("\0\0\0\0\0", 5), FrameStatus::Malformed},
                      // A library's stray text where a reply should be.
                      GarbageCase{"Text", QByteArray("warning: bad marker\n"), FrameStatus::Malformed},
                      GarbageCase{"Oversized", QByteArray("\x7F\xFF\xFF\xFF\x03", 5), FrameStatus::Malformed},
                      GarbageCase{"HeaderOnly", QByteArray("\0\0\0\x08\x03", 5), FrameStatus::Incomplete}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A picture's pixels come through whole; a payload whose pixels do not match
// its declared size is refused before anything is allocated for it.
struct PictureCase {
    const char* name;
    QSize size;         // of the sent picture; empty: a failed load
    int cut;            // bytes taken off the end (negative: added)
    bool accepted;
};

class PictureFrameTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PictureFrameTest, RoundTripsOrIsRefused)
{
    const PictureCase& c = GetParam();
    LookedPicture sent{{QStringLiteral("/a/b.png"), QString(), !c.size.isEmpty(), {}}, QImage()};
    if (!c.size.isEmpty()) {
        sent.Picture = QImage(c.size, QImage::Format_RGB32);
        for (int y = 0; y < c.size.height(); ++y)
            for (int x = 0; x < c.size.width(); ++x)
                sent.Picture.setPixel(x, y, qRgb(x * 7, y * 13, x ^ y));
    }
    QByteArray payload = EncodePicture(sent);
    payload = c.cut >= 0 ? payload.left(payload.size() - c.cut) : payload + QByteArray(-c.cut, '\x7f');
    const std::optional<LookedPicture> got = DecodePicture(payload);
    ASSERT_EQ(got.has_value(), c.accepted);
    if (c.accepted) {
        EXPECT_EQ(got->Result.Name, sent.Result.Name);
        EXPECT_EQ(got->Picture, sent.Picture);
    }
}

INSTANTIATE_TEST_SUITE_P(, PictureFrameTest,
                         ::testing::Values(PictureCase{"Picture", {37, 5}, 0, true},
                                           PictureCase{"FailedLoad", {}, 0, true},
                                           PictureCase{"OnePixelShort", {37, 5}, 4, false},
                                           PictureCase{"OneByteShort", {37, 5}, 1, false},
                                           PictureCase{"TrailingBytes", {37, 5}, -3, false},
                                           PictureCase{"SizeWithoutPixels", {37, 5}, 37 * 5 * 4, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(WorkerProtocolTest, PayloadsWithTrailingOrMissingBytesAreRefused)
{
    const QByteArray result = EncodeResults({{QStringLiteral("a"), QStringLiteral("b"), true, {}}});
    EXPECT_FALSE(DecodeResults(result + '\0'));
    EXPECT_FALSE(DecodeResults(result.left(result.size() - 1)));
    EXPECT_FALSE(DecodeResults(EncodeResults({})));
    EXPECT_FALSE(DecodeJob(EncodeJob(SampleJob()).left(20)));
    // Settings alone are no job, and a job is no settings.
    EXPECT_FALSE(DecodeJob(EncodeSettings(SampleJob().Settings)));
    EXPECT_FALSE(DecodeSettings(EncodeJob(SampleJob())));
    EXPECT_FALSE(DecodeImageName(QByteArray("\xFF\xFF\xFF\x00", 4)));
}

// Workers that never answer: each image gets the reason, and every image
// after a death is tried on a newly started worker.
struct BrokenWorkerCase {
    const char* name;
    WorkerCommand command;
    const char* reason;
};

void PrintTo(const BrokenWorkerCase& c, std::ostream* os) { *os << c.name; }

class BrokenWorkerTest : public ::testing::TestWithParam<BrokenWorkerCase> {};

TEST_P(BrokenWorkerTest, EveryImageIsReportedAndTriedAfresh)
{
    const BrokenWorkerCase& c = GetParam();
    WorkerProcess worker(c.command, SampleJob());
    for (const QString& name : {QStringLiteral("one.png"), QStringLiteral("two.png")}) {
        const ImageResult result = CommitImage(worker.Make(name)).front();
        EXPECT_EQ(name, result.Name);
        EXPECT_EQ(QStringLiteral("/photos/Thumbs/") + name.section('.', 0, 0), result.OutputPath);
        EXPECT_FALSE(result.Written);
        EXPECT_EQ(QString::fromLatin1(c.reason), result.Reason);
    }
    EXPECT_EQ(2, worker.Starts());
}

INSTANTIATE_TEST_SUITE_P(
    Workers, BrokenWorkerTest,
    ::testing::Values(
        BrokenWorkerCase{"ExitsAtOnce", {QStringLiteral("/bin/true"), {}}, kDecoderCrashed},
        BrokenWorkerCase{"PrintsText", {QStringLiteral("/bin/echo"), {QStringLiteral("no frames here")}},
                         kDecoderCrashed},
        // Answers with the job it was sent instead of a result.
        BrokenWorkerCase{"EchoesItsInput", {QStringLiteral("/bin/cat"), {}}, kDecoderCrashed},
        BrokenWorkerCase{"Missing", {QStringLiteral("/nonexistent/pixquill-worker"), {}}, kDecoderNotStarted}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace pixquill
