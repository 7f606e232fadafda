#include "platform/maildir/MaildirNames.h"

#include "platform/Store.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct NameCase {
    const char* label;
    std::string name;
    std::string component;
};

class NameEncoding : public testing::TestWithParam<NameCase> {};

TEST_P(NameEncoding, EncodesAndDecodesBack) {
    const NameCase& c = GetParam();
    EXPECT_EQ(MaildirNames::encode(c.name), c.component);
    EXPECT_EQ(MaildirNames::decode(c.component), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameEncoding,
    testing::Values(NameCase{"plain_ascii", "Work", "Work"},
                    NameCase{"space_kept", "Old mail", "Old mail"},
                    NameCase{"ampersand", "R&D", "R&-D"},
                    // The RFC 3501 example word and a German one.
                    NameCase{"japanese", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "&ZeVnLIqe-"},
                    NameCase{"umlaut",
                             "Gr\xc3\xbc\xc3\x9f"
                             "e",
                             "Gr&APwA3w-e"},
                    NameCase{"own_dot", "v1.2", "v1\\2e2"}, NameCase{"own_slash", "a/b", "a\\2fb"},
                    NameCase{"backslash", "C:\\temp", "C:\\5ctemp"},
                    NameCase{"dot_dot_stays_inside", "..", "\\2e\\2e"},
                    NameCase{"absolute_path_stays_inside", "/etc/passwd",
                             "\\2f"
                             "etc\\2fpasswd"},
                    NameCase{"climbing_path", "../../x", "\\2e\\2e\\2f\\2e\\2e\\2fx"},
                    NameCase{"escape_lookalike", "\\2e", "\\5c2e"},
                    NameCase{"utf7_lookalike", "&AOQ-", "&-AOQ-"},
                    NameCase{"control_character", "a\tb", "a&AAk-b"},
                    NameCase{"astral_plane", "\xf0\x9f\x93\xa7", "&2D3c5w-"}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(MaildirNames, RejectsNamesThatCannotBeStored) {
    EXPECT_EQ(MaildirNames::encode(""), "");
    EXPECT_EQ(MaildirNames::encode("bad\xff utf-8"), "");
    EXPECT_EQ(MaildirNames::encode("\xed\xa0\x80"), ""); // an encoded surrogate
    EXPECT_EQ(MaildirNames::childDirName(".A", ""), "");
}

TEST(MaildirNames, ChildDirectoryNamesNest) {
    EXPECT_EQ(MaildirNames::childDirName("", "Work"), ".Work");
    EXPECT_EQ(MaildirNames::childDirName(".Work", "2024.Q1"), ".Work.2024\\2eQ1");
    auto parts = MaildirNames::components(".Work.2024\\2eQ1");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(MaildirNames::decode(parts[1]), "2024.Q1");
}

TEST(MaildirNames, HandMadeNamesDecodeAsTheyAre) {
    EXPECT_EQ(MaildirNames::decode("&Jjo"), "&Jjo");               // unterminated shift
    EXPECT_EQ(MaildirNames::decode("&AGE-"), "&AGE-");             // shifted ASCII is not ours
    EXPECT_EQ(MaildirNames::decode("&2D0-"), "&2D0-");             // lone surrogate
    EXPECT_EQ(MaildirNames::decode("caf\xc3\xa9"), "caf\xc3\xa9"); // raw UTF-8 by another program
    EXPECT_EQ(MaildirNames::decode("\\41"), "\\41");               // not one of our escapes
    EXPECT_EQ(MaildirNames::decode("x\\2"), "x\\2");
}

TEST(MaildirNames, RandomNamesRoundTripAndStayOneLevel) {
    std::mt19937 random(4711);
    const std::vector<std::string> pieces = {
        "a",    "Z",    ".",  "/",        "\\",           "&",
        "-",    " ",    "~",  "\xc3\xa4", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
        "\x01", "\x7f", "2e", ","};
    for (int round = 0; round < 2000; ++round) {
        std::string name;
        int length = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i)
            name += pieces[random() % pieces.size()];
        std::string component = MaildirNames::encode(name);
        ASSERT_FALSE(component.empty()) << name;
        EXPECT_EQ(component.find('.'), std::string::npos) << name;
        EXPECT_EQ(component.find('/'), std::string::npos) << name;
        EXPECT_EQ(MaildirNames::decode(component), name);
    }
}

struct SpecialCase {
    const char* label;
    std::string name;
    bool topLevel;
    std::int32_t type;
};

class SpecialFolders : public testing::TestWithParam<SpecialCase> {};

TEST_P(SpecialFolders, TypeByTopLevelName) {
    EXPECT_EQ(MaildirNames::specialType(GetParam().name, GetParam().topLevel), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    Types, SpecialFolders,
    testing::Values(SpecialCase{"drafts", "Drafts", true, FOLDER_DRAFT},
                    SpecialCase{"sent", "Sent", true, FOLDER_SENT},
                    SpecialCase{"trash", "Trash", true, FOLDER_DELETED},
                    SpecialCase{"junk", "Junk", true, FOLDER_JUNK},
                    SpecialCase{"other_case_is_ordinary", "trash", true, FOLDER_NOTSPECIAL},
                    SpecialCase{"nested_is_ordinary", "Sent", false, FOLDER_NOTSPECIAL},
                    SpecialCase{"ordinary", "Work", true, FOLDER_NOTSPECIAL}),
    [](const testing::TestParamInfo<SpecialCase>& info) { return std::string(info.param.label); });

} // namespace
