#include "platform/profile/Loc.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

class LocTest : public testing::Test {
protected:
    void TearDown() override { locClose(); }

    // Opens a language file holding `text`.
    void openWith(const std::string& text) {
        writeFile(file_, text);
        locOpen(file_);
    }

    TempFolder folder_;
    std::string file_ = folder_.file("strings.ini");
};

TEST_F(LocTest, WithoutAnOpenFileTheKeyIsTheText) {
    locClose();
    EXPECT_EQ(locText("settings.title"), "settings.title");
    EXPECT_EQ(locText("settings.currentState.ok", "5.3.2005"), "settings.currentState.ok");
}

TEST_F(LocTest, MissingFileShowsTheKeys) {
    locOpen(folder_.file("no-strings.ini"));
    EXPECT_EQ(locText("settings.title"), "settings.title");
    EXPECT_EQ(locText("systray.restore"), "systray.restore");
    EXPECT_EQ(locText("systray.exit"), "systray.exit");
}

TEST_F(LocTest, MissingSectionKeyOrValueShowsTheKey) {
    openWith("[de]\nsettings.title=Titel\n[en]\nsettings.buttonOk=\nsettings.buttonApply=\"\"\n");
    EXPECT_EQ(locText("settings.title"), "settings.title");
    EXPECT_EQ(locText("settings.buttonOk"), "settings.buttonOk");
    EXPECT_EQ(locText("settings.buttonApply"), "settings.buttonApply");
    // Not the date: the argument goes with the missing value.
    EXPECT_EQ(locText("settings.currentState.ok", "05.03.2005"), "settings.currentState.ok");
}

TEST_F(LocTest, SectionAndKeyInOtherCaseAreFound) {
    openWith("[EN]\nSETTINGS.Title = Brevalo \n");
    EXPECT_EQ(locText("settings.title"), "Brevalo");
}

TEST_F(LocTest, ReopeningSwitchesFiles) {
    openWith("[en]\nwarn=Warning\n");
    std::string other = folder_.file("other.ini");
    writeFile(other, "[en]\nwarn=Attention\n");
    locOpen(other);
    EXPECT_EQ(locText("warn"), "Attention");
}

struct FormatCase {
    const char* name;
    const char* value;
    std::vector<std::string> arguments;
    const char* expected;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const FormatCase& value, std::ostream* out) {
    *out << value.name;
}

class LocFormat : public LocTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(LocFormat, Formats) {
    openWith(std::string("[en]\nkey=") + GetParam().value + "\n");
    const std::vector<std::string>& arguments = GetParam().arguments;
    std::string text = arguments.empty()       ? locText("key")
                       : arguments.size() == 1 ? locText("key", arguments[0])
                                               : locText("key", arguments[0], arguments[1]);
    EXPECT_EQ(text, GetParam().expected);
}

const FormatCase formatCases[] = {
    {"backslash_n_breaks_the_line", "two\\nwords", {}, "two\nwords"},
    {"backslash_r_then_n", "a\\r\\nb", {}, "a\r\nb"},
    {"backslash_r_n_in_that_order", "a\\\\nb", {}, "a\\\nb"},
    {"capital_n_stays", "a\\Nb", {}, "a\\Nb"},
    {"double_percent", "100%% sure", {}, "100% sure"},
    {"one_text_argument", "Learned on %s.", {"5.3.2005"}, "Learned on 5.3.2005."},
    {"argument_with_percent_is_not_reformatted", "[%s]", {"%s %d"}, "[%s %d]"},
    {"argument_and_double_percent", "%s: 100%%", {"A"}, "A: 100%"},
    {"two_arguments", "%s and %s", {"A", "B"}, "A and B"},
    {"width", "[%5s]", {"ab"}, "[   ab]"},
    {"left_width", "[%-5s]", {"ab"}, "[ab   ]"},
    {"precision", "[%.1s]", {"ab"}, "[a]"},
    {"line_break_in_argument_value", "Folder:\\n%s", {"Sales"}, "Folder:\nSales"},
    // Values whose conversions do not fit the arguments are shown unformatted.
    {"missing_argument", "Learned on %s", {}, "Learned on %s"},
    {"number_conversion", "%d items, 50%%", {}, "%d items, 50%"},
    {"write_conversion", "%n", {}, "%n"},
    {"lone_percent_at_end", "50%", {}, "50%"},
    {"argument_too_many", "No folder", {"Sales"}, "No folder"},
    {"argument_too_few", "%s and %s", {"A"}, "%s and %s"},
    {"star_width", "%*s", {"A"}, "%*s"},
    {"huge_width", "%99999999999s", {"A"}, "%99999999999s"},
};

INSTANTIATE_TEST_SUITE_P(Cases, LocFormat, testing::ValuesIn(formatCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LocTest, ValueIsReadUpTo2047Characters) {
    openWith("[en]\nkey=" + std::string(3000, 'v') + "\n");
    EXPECT_EQ(locText("key"), std::string(2047, 'v'));
}

TEST_F(LocTest, FormattedTextIsCutAt4095Bytes) {
    openWith("[en]\nkey=" + std::string(1000, 'v') + "%s\n");
    EXPECT_EQ(locText("key", std::string(5000, 'a')),
              std::string(1000, 'v') + std::string(3095, 'a'));
}

TEST_F(LocTest, CutNeverSplitsAUtf8Character) {
    openWith("[en]\nkey=vv%s\n");
    // "vv" then two-byte characters: byte 4095 is the second half of one.
    std::string accented;
    for (int i = 0; i < 2100; ++i)
        accented += "\xC3\xA9";
    std::string text = locText("key", accented);
    EXPECT_EQ(text.size(), 4094u);
    EXPECT_EQ(text.substr(2), accented.substr(0, 4092));
}

TEST_F(LocTest, NullArgumentIsAnEmptyText) {
    openWith("[en]\nkey=<%s>\n");
    const char* none = nullptr;
    EXPECT_EQ(locText("key", none), "<>");
}

} // namespace
