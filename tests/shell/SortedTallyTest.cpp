#include "shell/SortedTally.h"

#include <gtest/gtest.h>

namespace {

struct TallyCase {
    const char* name;
    std::vector<std::vector<std::string>> messages; // the folders of each message
    const char* summary;
};

class Tally : public testing::TestWithParam<TallyCase> {};

TEST_P(Tally, CountsMessagesAndFolders) {
    const TallyCase& c = GetParam();
    SortedTally tally;
    for (const auto& folders : c.messages)
        tally.add(folders);
    EXPECT_EQ(tally.messages(), static_cast<int>(c.messages.size()));
    EXPECT_EQ(tally.folderSummary(), c.summary);
    tally.clear();
    EXPECT_TRUE(tally.empty());
    EXPECT_EQ(tally.folderSummary(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Tally,
    testing::Values(
        TallyCase{"FullestFirst", {{"Travel"}, {"Invoices"}, {"Invoices"}}, "Invoices 2, Travel 1"},
        TallyCase{"TwoFoldersCountInBoth", {{"Travel", "Invoices"}}, "Invoices 1, Travel 1"},
        TallyCase{"BlankAndRepeatedNamesOnce", {{" Invoices ", "", "Invoices"}}, "Invoices 1"},
        TallyCase{"NoFolderStillAMessage", {{}}, ""}),
    [](const testing::TestParamInfo<TallyCase>& info) { return std::string(info.param.name); });

} // namespace
