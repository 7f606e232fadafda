#include "platform/maildir/MaildirFileName.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct FileNameCase {
    const char* label;
    std::string fileName;
    std::string base;
    std::string flags;
    bool message;
};

class FileNames : public testing::TestWithParam<FileNameCase> {};

TEST_P(FileNames, BaseAndFlags) {
    const FileNameCase& c = GetParam();
    EXPECT_EQ(MaildirFileName::baseName(c.fileName), c.base);
    EXPECT_EQ(MaildirFileName::flags(c.fileName), c.flags);
    EXPECT_EQ(MaildirFileName::isMessageFile(c.fileName), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileNames,
    testing::Values(
        FileNameCase{"in_new", "1700.M1P2.host", "1700.M1P2.host", "", true},
        FileNameCase{"in_cur_no_flags", "1700.M1P2.host:2,", "1700.M1P2.host", "", true},
        FileNameCase{"flags", "1700.M1P2.host:2,FRS", "1700.M1P2.host", "FRS", true},
        FileNameCase{"size_field_kept_in_base", "1700.M1P2.host,S=1234:2,S",
                     "1700.M1P2.host,S=1234", "S", true},
        FileNameCase{"experimental_info", "1700.M1P2.host:1,xyz", "1700.M1P2.host", "", true},
        FileNameCase{"mbsync_uid_is_no_part_of_the_base", "1700.123_4.host,U=17:2,FS",
                     "1700.123_4.host", "FS", true},
        FileNameCase{"mbsync_uid_before_another_field", "1700.host,U=5,S=100:2,S",
                     "1700.host,S=100", "S", true},
        FileNameCase{"uid_field_without_digits_kept", "1700.host,U=:2,", "1700.host,U=", "", true},
        FileNameCase{"uid_field_with_text_kept", "1700.host,U=12x", "1700.host,U=12x", "", true},
        FileNameCase{"hidden_file", ".nfs000123", ".nfs000123", "", false},
        FileNameCase{"empty", "", "", "", false}),
    [](const testing::TestParamInfo<FileNameCase>& info) { return std::string(info.param.label); });

TEST(MaildirFileName, CopyNameLeavesOutMbsyncsUidOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"1700.123_4.host,U=17:2,FS", "1700.123_4.host:2,FS"},
        {"1700.123_4.host,U=17", "1700.123_4.host"},
        {"1700.host,S=99,U=3,W=101:2,", "1700.host,S=99,W=101:2,"},
        {"1700.M1P2.host:2,S", "1700.M1P2.host:2,S"},
        {"1700.host,U=1x:2,S", "1700.host,U=1x:2,S"},
        {"", ""},
    };
    for (const auto& [name, copy] : cases)
        EXPECT_EQ(MaildirFileName::withoutSyncUid(name), copy) << name;
}

TEST(MaildirFileName, UniqueNamesAreUniqueAndPlain) {
    std::set<std::string> names;
    for (int i = 0; i < 1000; ++i) {
        std::string name = MaildirFileName::uniqueName();
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_EQ(name.find(':'), std::string::npos);
        EXPECT_TRUE(MaildirFileName::isMessageFile(name));
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 1000u);
}

} // namespace
