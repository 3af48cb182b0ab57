// Every file the fuzzer found that our own code must survive goes once more
// through the road it was found on: copied into a source folder under its
// own name and put through ProcessImage with the job the fuzz target picks
// for its size. It must come out written or refused with a reason, leave no
// temporary file behind and, in the sanitizer build, make no report.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "codec/Surface.h"
#include "engine/ProcessImage.h"
#include "tests/fuzz/FuzzCase.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

QStringList RegressionFiles()
{
    return QDir(QStringLiteral(PIXQUILL_TEST_DATA_DIR "/fuzz-regressions"))
        .entryList({QStringLiteral("*.*")}, QDir::Files, QDir::Name)
        .filter(QRegularExpression(QStringLiteral("^(?!README)")));
}

class FuzzRegressionTest : public ::testing::TestWithParam<QString> {};

TEST_P(FuzzRegressionTest, IsWrittenOrRefusedWithAReason)
{
    const QString name = GetParam();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString source = root.filePath(QStringLiteral("in"));
    const QString destination = root.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkdir(source));
    ASSERT_TRUE(QDir().mkdir(destination));
    const QString original = QStringLiteral(PIXQUILL_TEST_DATA_DIR "/fuzz-regressions/") + name;
    ASSERT_TRUE(QFile::copy(original, source + QLatin1Char('/') + name));

    Surface picLoad;
    Surface picThumb;
    const ImageResult result =
        ProcessImage(name, fuzz::FuzzJob(source, destination, QFileInfo(original).size()), picLoad, picThumb);
    EXPECT_TRUE(result.Written || !result.Reason.isEmpty());
    const QStringList left = QDir(destination).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(result.Written ? QStringList{QFileInfo(result.OutputPath).fileName()} : QStringList{}, left);
}

INSTANTIATE_TEST_SUITE_P(Findings, FuzzRegressionTest, ::testing::ValuesIn(RegressionFiles()),
                         [](const auto& testInfo) {
                             QString name = testInfo.param;
                             return name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"))
                                 .toStdString();
                         });

} // namespace
} // namespace pixquill
