#include "platform/profile/Profile.h"

#include "util/Log.h"
#include "platform/profile/ProfileCache.h"
#include "tests/platform/profile/SettledFile.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string readValue(const std::string& file, const char* section, const char* key,
                      const char* defaultValue = "def", unsigned size = 256) {
    std::string buffer(size, '\x7f');
    unsigned copied =
        GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), size, file.c_str());
    EXPECT_EQ(copied, std::strlen(buffer.c_str()));
    return buffer.substr(0, copied);
}

// Sets the file's times an hour back and waits until its change time (which only the
// kernel sets) is old enough for a parsed copy to be trusted on its stat alone.
void ageFile(const std::string& path, int extraSeconds = 0) {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 3600 - extraSeconds;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    waitUntilSettled(path);
}

struct ReadCase {
    const char* name;
    const char* text;
    const char* section;
    const char* key;
    const char* expected;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const ReadCase& value, std::ostream* out) {
    *out << value.name;
}

class ProfileRead : public testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, FindsTheValue) {
    TempFolder folder;
    std::string file = folder.file("read.ini");
    writeFile(file, GetParam().text);
    EXPECT_EQ(readValue(file, GetParam().section, GetParam().key), GetParam().expected);
}

const ReadCase readCases[] = {
    {"section_in_other_case", "[Settings]\nkey=v\n", "sETTINGS", "key", "v"},
    {"key_in_other_case", "[s]\nKeY=v\n", "s", "kEy", "v"},
    {"blanks_around_key_and_value", "[s]\n  key \t=  \t value x \t\n", "s", "key", "value x"},
    {"blanks_around_asked_names", "[s]\nkey=v\n", " s ", " key\t", "v"},
    {"blanks_inside_header", "[ s ]\nk=v\n", "s", "k", "v"},
    {"double_quotes_dropped", "[s]\nk=\"  quoted  \"\n", "s", "k", "  quoted  "},
    {"single_quotes_dropped", "[s]\nk= 'a b' \n", "s", "k", "a b"},
    {"mismatched_quotes_kept", "[s]\nk=\"a'\n", "s", "k", "\"a'"},
    {"lone_quote_kept", "[s]\nk=\"\n", "s", "k", "\""},
    {"inner_quotes_kept", "[s]\nk=say \"hi\" now\n", "s", "k", "say \"hi\" now"},
    {"splits_at_first_equals", "[s]\nk=a=b\n", "s", "k", "a=b"},
    {"crlf_lines", "[s]\r\nk=v\r\nl=w\r\n", "s", "l", "w"},
    {"first_of_two_keys", "[s]\nk=1\nK=2\n", "s", "k", "1"},
    {"first_of_two_sections", "[s]\nk=1\n[S]\nk=2\n", "s", "k", "1"},
    {"comment_is_no_key", "[s]\n;k=v\n", "s", ";k", "def"},
    {"key_before_any_section", "k=v\n[s]\n", "s", "k", "def"},
    {"key_of_other_section", "[a]\nk=1\n[b]\nk=2\n", "b", "k", "2"},
    {"byte_order_mark", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "v"},
    {"no_final_line_break", "[s]\nk=v", "s", "k", "v"},
    {"empty_value_is_not_missing", "[s]\nk=\n", "s", "k", ""},
    {"line_without_equals", "[s]\nk\nk=v\n", "s", "k", "v"},
    {"missing_key", "[s]\nk=v\n", "s", "other", "def"},
    {"missing_section", "[s]\nk=v\n", "t", "k", "def"},
    {"backslash_n_stays_two_characters", "[s]\nk=a\\nb\n", "s", "k", "a\\nb"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProfileRead, testing::ValuesIn(readCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileReadEdges, MissingFileGivesDefaultWithoutTrailingBlanks) {
    TempFolder folder;
    std::string file = folder.file("none.ini");
    EXPECT_EQ(readValue(file, "s", "k", "fallback \t"), "fallback");
    EXPECT_EQ(readValue(file, "s", "k", " lead"), " lead");
    EXPECT_EQ(readValue(file, "s", "k", nullptr), "");
    EXPECT_FALSE(fileExists(file));
}

TEST(ProfileReadEdges, ResultIsCutToBufferSizeLessOne) {
    TempFolder folder;
    std::string file = folder.file("cut.ini");
    writeFile(file, "[s]\nk=abcdef\n");
    EXPECT_EQ(readValue(file, "s", "k", "", 7), "abcdef");
    EXPECT_EQ(readValue(file, "s", "k", "", 6), "abcde");
    EXPECT_EQ(readValue(file, "s", "k", "", 4), "abc");
    EXPECT_EQ(readValue(file, "s", "k", "", 1), "");
    EXPECT_EQ(readValue(file, "s", "missing", "0123456789", 5), "0123");

    char untouched[4] = {'x', 'y', 'z', '\0'};
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", untouched, 0, file.c_str()), 0u);
    EXPECT_STREQ(untouched, "xyz");
}

TEST(ProfileReadEdges, StringFormReturnsLongValuesWhole) {
    TempFolder folder;
    std::string file = folder.file("long.ini");
    std::string row(100000, 'A');
    writeFile(file, "[NeuronsHidden]\nhw.0=" + row + "\n");
    EXPECT_EQ(getProfileString("neuronshidden", "HW.0", "", file), row);
    EXPECT_EQ(getProfileString("NeuronsHidden", "hw.1", "keep  ", file), "keep  ");
    EXPECT_EQ(readValue(file, "NeuronsHidden", "hw.0", "", 4096), row.substr(0, 4095));
}

TEST(ProfileReadEdges, NullKeyListsKeysAndNullSectionListsSections) {
    TempFolder folder;
    std::string file = folder.file("list.ini");
    writeFile(file, "pre=1\n[One]\na=1\n;c=3\nB = 2\n[two]\n[ONE]\nz=9\n");
    char buffer[64];
    unsigned copied =
        GetPrivateProfileStringA("one", nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(std::string(buffer, copied + 1), std::string("a\0B\0\0", 5));
    copied = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(std::string(buffer, copied + 1), std::string("One\0two\0\0", 9));
    // Cut: the last name shortened and ended by two nulls, size - 2 returned.
    copied = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 7, file.c_str());
    EXPECT_EQ(copied, 5u);
    EXPECT_EQ(std::string(buffer, 7), std::string("One\0t\0\0", 7));
    copied = GetPrivateProfileStringA("missing", nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(ProfileWrite, FirstWriteCreatesTheFile) {
    TempFolder folder;
    std::string file = folder.file("new.ini");
    ASSERT_TRUE(WritePrivateProfileStringA("Global", "learnFolder", "_12_", file.c_str()));
    EXPECT_EQ(readFile(file), "[Global]\nlearnFolder=_12_\n");
    EXPECT_EQ(readValue(file, "global", "LEARNFOLDER"), "_12_");
}

TEST(ProfileWrite, UntouchedLinesAndCommentsSurvive) {
    TempFolder folder;
    std::string file = folder.file("keep.ini");
    writeFile(file, "; written by hand\n"
                    "loose line\n"
                    "[settings]\n"
                    "  JobVariant = _1_   ; not a comment\n"
                    "; about from\n"
                    "from=_a@b_\n"
                    "\n"
                    "[Other]\n"
                    "x=\"quoted\"\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "jobvariant", "_2_", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("SETTINGS", "threshold", "_80.000000_", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("New", "k", "v", file.c_str()));
    EXPECT_EQ(readFile(file), "; written by hand\n"
                              "loose line\n"
                              "[settings]\n"
                              "  JobVariant =_2_\n"
                              "; about from\n"
                              "from=_a@b_\n"
                              "threshold=_80.000000_\n"
                              "\n"
                              "[Other]\n"
                              "x=\"quoted\"\n"
                              "[New]\n"
                              "k=v\n");
}

TEST(ProfileWrite, NullValueDeletesTheKey) {
    TempFolder folder;
    std::string file = folder.file("del.ini");
    writeFile(file, "[s]\na=1\nB=2\nb=3\nc=4\n[t]\nb=5\n");
    ASSERT_TRUE(WritePrivateProfileStringA("S", "b", nullptr, file.c_str()));
    EXPECT_EQ(readFile(file), "[s]\na=1\nc=4\n[t]\nb=5\n");
    EXPECT_EQ(readValue(file, "s", "b"), "def");
}

TEST(ProfileWrite, NullKeyDeletesTheSection) {
    TempFolder folder;
    std::string file = folder.file("del.ini");
    writeFile(file,
              ";top\n[NeuronsIn]\nneuron0.name=_a_\n[Global]\nlearnFolder=_3_\n[neuronsin]\nx=1\n");
    ASSERT_TRUE(WritePrivateProfileStringA("neuronsIN", nullptr, nullptr, file.c_str()));
    EXPECT_EQ(readFile(file), ";top\n[Global]\nlearnFolder=_3_\n");
    EXPECT_EQ(readValue(file, "NeuronsIn", "x"), "def");
    // Written again, the section comes back at the end.
    ASSERT_TRUE(WritePrivateProfileStringA("NeuronsIn", "neuron0.name", "_b_", file.c_str()));
    EXPECT_EQ(readFile(file), ";top\n[Global]\nlearnFolder=_3_\n[NeuronsIn]\nneuron0.name=_b_\n");
}

TEST(ProfileWrite, DeletingWhatIsMissingCreatesNothing) {
    TempFolder folder;
    std::string file = folder.file("none.ini");
    EXPECT_TRUE(WritePrivateProfileStringA("s", "k", nullptr, file.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("s", nullptr, nullptr, file.c_str()));
    EXPECT_FALSE(fileExists(file));
}

TEST(ProfileWrite, WritingTheSameValueLeavesTheFileAlone) {
    TempFolder folder;
    std::string file = folder.file("same.ini");
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", file.c_str()));
    struct stat before {
    }, after{};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("S", "K", "v", file.c_str()));
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST(ProfileWrite, CrLfFileStaysCrLf) {
    TempFolder folder;
    std::string file = folder.file("crlf.ini");
    writeFile(file, "[s]\r\na=1\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("s", "b", "2", file.c_str()));
    EXPECT_EQ(readFile(file), "[s]\r\na=1\r\nb=2\r\n");
}

struct ExactCase {
    const char* name;
    const char* value;
    const char* line; // as the file stores it
};

void PrintTo(const ExactCase& value, std::ostream* out) {
    *out << value.name;
}

class ProfileWriteKeeps : public testing::TestWithParam<ExactCase> {};

// Reading drops blanks and a pair of quotes around a value: such a value is stored in
// quotes so it reads back as written; any other is stored as it always was.
TEST_P(ProfileWriteKeeps, TheValueExactly) {
    TempFolder folder;
    std::string file = folder.file("exact.ini");
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", GetParam().value, file.c_str()));
    EXPECT_EQ(readFile(file), std::string("[s]\nk=") + GetParam().line + "\n");
    EXPECT_EQ(readValue(file, "s", "k"), GetParam().value);
    EXPECT_EQ(getProfileString("s", "k", "", file), GetParam().value);
}

const ExactCase exactCases[] = {
    {"plain", "_12_", "_12_"},
    {"inner_blanks_and_quotes", "a 'b' \"c\"", "a 'b' \"c\""},
    {"leading_blank", " lead", "\" lead\""},
    {"trailing_tab", "trail\t", "\"trail\t\""},
    {"only_blanks", " \t ", "\" \t \""},
    {"single_quoted", "'q'", "\"'q'\""},
    {"double_quoted", "\"q\"", "\"\"q\"\""},
    {"lone_quote", "\"", "\""},
    {"empty", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWriteKeeps, testing::ValuesIn(exactCases),
                         [](const auto& info) { return std::string(info.param.name); });

class ProfileRewriteKeeps : public testing::TestWithParam<ReadCase> {};

// Rewriting the file for another key changes no value: carriage returns before a line
// feed are part of the line break, also when there are several.
TEST_P(ProfileRewriteKeeps, EveryOtherValue) {
    TempFolder folder;
    std::string file = folder.file("rewrite.ini");
    writeFile(file, GetParam().text);
    EXPECT_EQ(readValue(file, GetParam().section, GetParam().key), GetParam().expected);
    ASSERT_TRUE(WritePrivateProfileStringA("other", "x", "1", file.c_str()));
    EXPECT_EQ(readValue(file, GetParam().section, GetParam().key), GetParam().expected);
}

const ReadCase rewriteCases[] = {
    {"bare_cr_before_lf", "[s]\nk=v\r\r\nl=w\n", "s", "k", "v"},
    {"bare_crs_in_crlf_file", "[s]\r\nk=v\r\r\r\n", "s", "k", "v"},
    {"bare_cr_at_the_end", "[s]\nk=v\r\r", "s", "k", "v"},
    {"cr_inside_stays", "[s]\nk=a\rb\n", "s", "k", "a\rb"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProfileRewriteKeeps, testing::ValuesIn(rewriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWrite, WritesThroughASymbolicLink) {
    TempFolder folder;
    std::string real = folder.file("real.ini");
    std::string link = folder.file("link.ini");
    writeFile(real, "[s]\na=1\n");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "b", "2", link.c_str()));
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(readFile(real), "[s]\na=1\nb=2\n");
}

TEST(ProfileWrite, KeepsTheFileMode) {
    TempFolder folder;
    std::string file = folder.file("mode.ini");
    writeFile(file, "[s]\n");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", file.c_str()));
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

struct RejectCase {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const RejectCase& value, std::ostream* out) {
    *out << value.name;
}

class ProfileWriteRejects : public testing::TestWithParam<RejectCase> {};

// The original wrote such names as they came, which broke the file's structure
// (a line break in a value starts a new key; "=" in a key moves text into the value).
TEST_P(ProfileWriteRejects, NamesThatCannotBeReadBack) {
    TempFolder folder;
    std::string file = folder.file("reject.ini");
    writeFile(file, "[s]\nk=old\n");
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    EXPECT_FALSE(WritePrivateProfileStringA(GetParam().section, GetParam().key, GetParam().value,
                                            file.c_str()));
    setLogSink({});
    EXPECT_EQ(readFile(file), "[s]\nk=old\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("WritePrivateProfileStringA"), std::string::npos);
    EXPECT_NE(lines[0].find(file), std::string::npos);
}

const RejectCase rejectCases[] = {
    {"line_feed_in_value", "s", "k", "two\nlines"},
    {"carriage_return_in_value", "s", "k", "a\rb"},
    {"equals_in_key", "s", "a=b", "v"},
    {"line_break_in_key", "s", "a\nb", "v"},
    {"key_opening_a_section", "s", "[x]", "v"},
    {"key_starting_a_comment", "s", ";k", "v"},
    {"bracket_in_section", "s]x", "k", "v"},
    {"line_break_in_section", "s\n[t", "k", "v"},
    {"no_section", nullptr, "k", "v"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWriteRejects, testing::ValuesIn(rejectCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileCacheCheck, SeesAnotherWritersChangeOfTheSameSize) {
    TempFolder folder;
    std::string file = folder.file("cache.ini");
    writeFile(file, "[s]\nk=1\n");
    ageFile(file);
    EXPECT_EQ(readValue(file, "s", "k"), "1");
    // Same size, same inode: only the modification time tells.
    writeFile(file, "[s]\nk=2\n");
    ageFile(file, 1);
    EXPECT_EQ(readValue(file, "s", "k"), "2");
    // A new file under the name (rename), same size and times: the inode tells.
    std::string other = folder.file("other.ini");
    writeFile(other, "[s]\nk=3\n");
    ageFile(other, 1);
    ASSERT_EQ(rename(other.c_str(), file.c_str()), 0);
    EXPECT_EQ(readValue(file, "s", "k"), "3");
    ASSERT_EQ(unlink(file.c_str()), 0);
    EXPECT_EQ(readValue(file, "s", "k"), "def");
}

TEST(ProfileCacheCheck, ReadsAndWritesFromTwoThreads) {
    TempFolder folder;
    std::string file = folder.file("threads.ini");
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            char buffer[32];
            GetPrivateProfileStringA("s", "k0", "", buffer, sizeof buffer, file.c_str());
            getProfileString("s", "k1", "", file);
        }
    });
    bool allWritten = true;
    for (int i = 0; i < 200; ++i) {
        std::string key = "k" + std::to_string(i);
        allWritten &= WritePrivateProfileStringA("s", key.c_str(), key.c_str(), file.c_str());
    }
    done = true;
    reader.join();
    EXPECT_TRUE(allWritten);
    for (int i = 0; i < 200; ++i) {
        std::string key = "k" + std::to_string(i);
        EXPECT_EQ(getProfileString("s", key, "", file), key);
    }
}

} // namespace
