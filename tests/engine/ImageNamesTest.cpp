#include <ostream>

#include <gtest/gtest.h>

#include "engine/ImageNames.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

struct NameCase {
    const char* Name;
    const char* Destination;
    const char* Prefix;
    int Format;
    const char* Expected;
};

std::ostream& operator<<(std::ostream& os, const NameCase& c)
{
    return os << c.Expected;
}

class OutputNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(OutputNames, FolderPrefixBaseAndExtension)
{
    const NameCase& c = GetParam();
    JobSettings settings;
    settings.SourceFolder = "/photos";
    settings.DestinationFolder = QString::fromUtf8(c.Destination);
    settings.Prefix = QString::fromUtf8(c.Prefix);
    settings.OutputFormat = c.Format;
    const ImageNames names = BuildImageNames(QString::fromUtf8(c.Name), settings);
    EXPECT_EQ(names.OutputPath, QString::fromUtf8(c.Expected));
    EXPECT_EQ(names.SourcePath, "/photos/" + QString::fromUtf8(c.Name));
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputNames,
    ::testing::Values(
        NameCase{"holiday.photo.jpg", "/thumbs", "_TH", 4, "/thumbs/_THholiday.png"},
        NameCase{"holiday.photo.jpg", " /thumbs/ ", " _TH ", 4, "/thumbs/_THholiday.png"},
        NameCase{"holiday.photo.jpg", "/thumbs", "", 3, "/thumbs/holiday.jpg"},
        NameCase{"README", "/thumbs", "_TH", 0, "/thumbs/_THREADME.bmp"},
        NameCase{"a.", "/thumbs", "t-", 6, "/thumbs/t-a.tif"},
        NameCase{"a.jpg", "/thumbs", "_TH", -1, "/thumbs/_THa"},
        NameCase{"été.JPG", "/tmp/ünï", "", 1, "/tmp/ünï/été.gif"},
        NameCase{"a.jpg", "", "_TH", 2, "/_THa.ico"},
        // From a folder tree: the folders stay, prefix and base name are the file's.
        NameCase{"2024/05/a.b.jpg", "/thumbs", "_TH", 3, "/thumbs/2024/05/_THa.jpg"},
        NameCase{"v1.2/README", "/thumbs/", "t-", 4, "/thumbs/v1.2/t-README.png"}));

TEST(OutputNames, SameBaseNamesCollide)
{
    JobSettings settings;
    settings.DestinationFolder = "/thumbs";
    settings.OutputFormat = kOutputFormatJpeg;
    EXPECT_EQ(BuildImageNames("a.jpg", settings).OutputPath,
              BuildImageNames("a.png", settings).OutputPath);
}

TEST(OutputNames, BaseNameIsBeforeTheFirstDot)
{
    EXPECT_EQ(BaseNameOf("a.b.jpg"), QString("a"));
    EXPECT_EQ(BaseNameOf("noext"), QString("noext"));
    EXPECT_EQ(BaseNameOf(".hidden"), QString(""));
}

} // namespace
} // namespace pixquill
