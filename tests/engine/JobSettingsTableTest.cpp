#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "engine/JobSettingsTable.h"
#include "engine/WorkerProtocol.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

// The settings with the row's field changed from its default.
JobSettings ChangedBy(const JobSettingRow& row)
{
    JobSettings settings;
    std::visit(
        [&settings](auto field) {
            auto& value = settings.*field;
            using T = std::remove_reference_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>)
                value += QStringLiteral("x");
            else if constexpr (std::is_same_v<T, bool>)
                value = !value;
            else
                value += 7;
        },
        row.Field);
    return settings;
}

// A row that names another row's field would leave a field out of the worker
// protocol and the command line both.
TEST(JobSettingsTable, EveryRowHasAFieldOfItsOwnThatTravelsToTheWorker)
{
    std::vector<JobSettings> changed;
    std::set<std::string> options;
    for (const JobSettingRow& row : JobSettingRows()) {
        const JobSettings settings = ChangedBy(row);
        EXPECT_FALSE(settings == JobSettings{}) << row.Option;
        for (const JobSettings& other : changed)
            EXPECT_FALSE(settings == other) << row.Option;
        changed.push_back(settings);
        EXPECT_TRUE(options.insert(row.Option).second) << row.Option;
        const std::optional<JobSettings> back = DecodeSettings(EncodeSettings(settings));
        ASSERT_TRUE(back.has_value()) << row.Option;
        EXPECT_TRUE(*back == settings) << row.Option;
    }
}

// A choice's default must be one of its names, or the command line would
// refuse its own default.
TEST(JobSettingsTable, ChoicesAreDistinctAndHoldTheDefault)
{
    const JobSettings defaults;
    for (const JobSettingRow& row : JobSettingRows()) {
        if (row.Syntax != SettingSyntax::Choice)
            continue;
        ASSERT_NE(row.Choices, nullptr) << row.Option;
        const std::vector<NamedChoice> choices = row.Choices();
        std::set<QString> names;
        std::set<int> values;
        for (const NamedChoice& choice : choices) {
            EXPECT_TRUE(names.insert(QString::fromLatin1(choice.Name).toLower()).second) << choice.Name;
            EXPECT_TRUE(values.insert(choice.Value).second) << choice.Name;
        }
        EXPECT_FALSE(ChoiceName(choices, defaults.*std::get<int JobSettings::*>(row.Field)).isEmpty())
            << row.Option;
    }
}

} // namespace
} // namespace pixquill
