// Every broken input of the shared table through the loader: the right
// outcome and reason, the load surface untouched by a failure, the file
// untouched by any load, nothing printed on stderr.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestImages.h"

namespace pixquill {
namespace {

using test::BrokenInput;
using test::BrokenKind;
using test::Expect;

// What the directory entry is, without following or opening it.
QByteArray Fingerprint(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link:" + info.symLinkTarget().toUtf8();
    if (!info.isFile())
        return "other:" + QByteArray::number(info.exists());
    return QCryptographicHash::hash(test::ReadFileBytes(path), QCryptographicHash::Sha256);
}

class BrokenInputLoad : public ::testing::TestWithParam<BrokenInput> {};

TEST_P(BrokenInputLoad, GivesItsOutcomeAndTouchesNothing)
{
    const BrokenInput& input = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    if (test::MakeBrokenInputs(dir.path(), {input}).empty())
        GTEST_SKIP() << "cannot be made on this system";
    const QString path = dir.filePath(input.Name);
    const QByteArray before = Fingerprint(path);

    Surface surface;
    surface.Resize(13, 7);
    surface.Image() = test::QuadrantImage(13, 7);
    const QImage earlier = surface.Image();

    test::StderrCapture capture;
    const LoadResult result = LoadImageToSurface(path, surface);
    const QByteArray printed = capture.Take();

    EXPECT_TRUE(printed.isEmpty()) << printed.toStdString();
    EXPECT_EQ(before, Fingerprint(path));
    if (result.ok) {
        EXPECT_NE(input.Expected, Expect::Fails) << "loaded, should fail with " << input.Reason.toStdString();
        EXPECT_TRUE(result.error.isEmpty());
        EXPECT_FALSE(surface.Image().isNull());
        EXPECT_EQ(QSize(surface.Width(), surface.Height()), surface.Image().size());
    } else {
        EXPECT_NE(input.Expected, Expect::Loads) << result.error.toStdString();
        EXPECT_TRUE(input.ReasonMatches(result.error)) << "reason: " << result.error.toStdString();
        EXPECT_EQ(QSize(13, 7), QSize(surface.Width(), surface.Height()));
        EXPECT_EQ(earlier, surface.Image());
    }
}

std::string CaseName(const ::testing::TestParamInfo<BrokenInput>& testInfo)
{
    // Test names allow letters, digits and underscores only.
    std::string name;
    for (const QChar c : testInfo.param.Name)
        name += c.isLetterOrNumber() && c.unicode() < 128 ? static_cast<char>(c.unicode()) : '_';
    return name.substr(0, 60) + "_" + std::to_string(testInfo.index);
}

INSTANTIATE_TEST_SUITE_P(Empty, BrokenInputLoad, ::testing::ValuesIn(test::BrokenInputsOf(BrokenKind::Empty)), CaseName);
INSTANTIATE_TEST_SUITE_P(Cut, BrokenInputLoad, ::testing::ValuesIn(test::BrokenInputsOf(BrokenKind::Cut)), CaseName);
INSTANTIATE_TEST_SUITE_P(Noise, BrokenInputLoad, ::testing::ValuesIn(test::BrokenInputsOf(BrokenKind::Noise)), CaseName);
INSTANTIATE_TEST_SUITE_P(Swapped, BrokenInputLoad, ::testing::ValuesIn(test::BrokenInputsOf(BrokenKind::Swapped)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(TooLarge, BrokenInputLoad, ::testing::ValuesIn(test::BrokenInputsOf(BrokenKind::TooLarge)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(NotAFile, BrokenInputLoad, ::testing::ValuesIn(test::BrokenInputsOf(BrokenKind::NotAFile)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(OddName, BrokenInputLoad, ::testing::ValuesIn(test::BrokenInputsOf(BrokenKind::OddName)),
                         CaseName);

} // namespace
} // namespace pixquill
