#include "core/NetFile.h"

#include "CoreTestSupport.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

struct TextCase {
    const char* name;
    std::string stored;
    std::string text;
};

void PrintTo(const TextCase& value, std::ostream* out) {
    *out << value.name;
}

class DecodeText : public testing::TestWithParam<TextCase> {};

TEST_P(DecodeText, ReadsTheStoredForm) {
    EXPECT_EQ(decodeText(GetParam().stored), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    NetFile, DecodeText,
    testing::Values(TextCase{"nothing", "", ""}, TextCase{"lone_underscore", "_", ""},
                    TextCase{"empty_text", "__", ""}, TextCase{"plain", "_abc_", "abc"},
                    TextCase{"hand_written", "abc", "abc"}, TextCase{"only_leading", "_abc", "abc"},
                    TextCase{"only_trailing", "abc_", "abc"},
                    TextCase{"underscore_text", "___", "_"},
                    TextCase{"sequences", "_a\\nb\\rc\\td_", "a\nb\rc\td"},
                    TextCase{"backslash_n_typed_by_the_user", "_C:\\new_", "C:\new"},
                    TextCase{"other_backslashes_stay", "_a\\b\\\\_", "a\\b\\\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetFile, TextEncodingKeepsBlanksTabsAndLineBreaks) {
    for (std::string text :
         {std::string(" leading blank, trailing tab\t"), std::string("a\r\nb"), std::string(""),
          std::string("_"), std::string("'quoted'"), std::string("\"quoted\""),
          std::string(" = ; [x] "), std::string("\xc3\xa4 \xff")}) {
        std::string stored = encodeText(text);
        EXPECT_EQ(stored.find('\n'), std::string::npos);
        EXPECT_EQ(stored.find('\r'), std::string::npos);
        EXPECT_EQ(decodeText(stored), text) << stored;
    }
    EXPECT_EQ(encodeText(""), "__");
    EXPECT_EQ(encodeText("a\nb\tc\r"), "_a\\nb\\tc\\r_");
}

struct NumberCase {
    const char* name;
    std::string piece;
    std::uint64_t bits;
};

void PrintTo(const NumberCase& value, std::ostream* out) {
    *out << value.name;
}

class DecodeNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(DecodeNumber, GivesTheBytesLeastSignificantFirst) {
    double value = decodeNumber(GetParam().piece);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    EXPECT_EQ(bits, GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(
    NetFile, DecodeNumber,
    testing::Values(NumberCase{"one", "000000000000F03F", 0x3FF0000000000000ull},
                    NumberCase{"point_three", "333333333333D33F", 0x3FD3333333333333ull},
                    NumberCase{"lower_case", "333333333333d33f", 0x3FD3333333333333ull},
                    NumberCase{"empty", "", 0},
                    NumberCase{"short_fills_the_first_bytes", "F03F", 0x3FF0ull},
                    NumberCase{"odd_count_gets_a_leading_zero", "ABC", 0xBC0Aull},
                    NumberCase{"long_keeps_the_last_16", "FFEE000000000000F03F",
                               0x3FF0000000000000ull},
                    NumberCase{"bad_low_digit_keeps_the_high", "4G", 0x04ull},
                    NumberCase{"bad_high_digit_gives_zero", "G4", 0},
                    NumberCase{"bad_pair_inside", "01zz03", 0x030001ull}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetFile, NumberListsRoundTripBitForBit) {
    const double values[] = {1.0,
                             0.3,
                             -0.0,
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::max(),
                             -1.0 / 3.0,
                             std::numeric_limits<double>::infinity()};
    std::string text = encodeNumbers(values, 7);
    EXPECT_EQ(text.substr(0, 33), "000000000000F03F|333333333333D33F");
    EXPECT_EQ(text.size(), 7u * 17 - 1);
    double read[7] = {};
    EXPECT_EQ(decodeNumbers(text, read, 7), 7);
    EXPECT_EQ(std::memcmp(read, values, sizeof values), 0);
    EXPECT_EQ(encodeNumbers(values, 0), "");
}

TEST(NetFile, NumberListsFillOnlyTheSlotsTheyHave) {
    double slots[4] = {7, 7, 7, 7};
    EXPECT_EQ(decodeNumbers("000000000000F03F|", slots, 4), 1);
    EXPECT_EQ(slots[0], 1.0);
    EXPECT_EQ(slots[1], 7.0);
    EXPECT_EQ(decodeNumbers("||000000000000F03F", slots, 4), 3);
    EXPECT_EQ(slots[0], 0.0);
    EXPECT_EQ(slots[1], 0.0);
    EXPECT_EQ(slots[2], 1.0);
    EXPECT_EQ(slots[3], 7.0);
    double two[2] = {5, 5};
    EXPECT_EQ(decodeNumbers("000000000000F03F|000000000000F03F|000000000000F03F", two, 2), 2);
    EXPECT_EQ(decodeNumbers("", two, 2), 0);
    EXPECT_EQ(two[0], 1.0);
}

struct AddressCase {
    const char* name;
    std::string stored;
    std::vector<std::string> addresses;
};

void PrintTo(const AddressCase& value, std::ostream* out) {
    *out << value.name;
}

class SplitAddresses : public testing::TestWithParam<AddressCase> {};

// An empty address is nobody to write to, and one at the end of a list could not be
// stored again: reading drops them, so a list survives any number of saves.
TEST_P(SplitAddresses, GivesTheAddressesThatSurviveASave) {
    std::vector<std::string> read = splitAddresses(GetParam().stored);
    EXPECT_EQ(read, GetParam().addresses);
    EXPECT_EQ(splitAddresses(joinAddresses(read)), read);
}

INSTANTIATE_TEST_SUITE_P(
    NetFile, SplitAddresses,
    testing::Values(AddressCase{"empty", "", {}}, AddressCase{"one", "a@x.org", {"a@x.org"}},
                    AddressCase{"two", "a@x.org;b@x.org", {"a@x.org", "b@x.org"}},
                    AddressCase{"trailing_separator", "a@x.org;", {"a@x.org"}},
                    AddressCase{"adjacent_separators", "a@x.org;;b@x.org", {"a@x.org", "b@x.org"}},
                    AddressCase{"leading_and_trailing", ";a@x.org;;", {"a@x.org"}},
                    AddressCase{"only_separators", ";;", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetFile, ReadsWhatWasWrittenAndTellsMissingFromEmpty) {
    CoreTestFolder dir;
    NetFile file(dir.netFile());
    EXPECT_FALSE(file.findText("s", "k"));
    EXPECT_EQ(file.readText("s", "k", "default"), "default");
    ASSERT_TRUE(file.writeText("s", "empty", ""));
    ASSERT_TRUE(file.writeText("s", "text", " a\tb\nc "));
    ASSERT_TRUE(file.writeInt("s", "int", -42));
    ASSERT_TRUE(file.writeReal("s", "real", 80));
    EXPECT_EQ(file.findText("s", "empty"), std::optional<std::string>(""));
    EXPECT_EQ(file.readText("s", "text", ""), " a\tb\nc ");
    EXPECT_EQ(file.readInt("s", "int", 0), -42);
    EXPECT_EQ(readFile(dir.netFile()),
              "[s]\nempty=__\ntext=_ a\\tb\\nc _\nint=_-42_\nreal=_80.000000_\n");
    ASSERT_TRUE(file.deleteSection("s"));
    EXPECT_FALSE(file.findText("s", "text"));
}

TEST(NetFile, ValuesLongerThanAProfileBufferAreReadWhole) {
    CoreTestFolder dir;
    NetFile file(dir.netFile());
    std::string text(20000, 'x');
    text[4095] = 'y';
    file.writeText("s", "long", text);
    EXPECT_EQ(file.readText("s", "long", ""), text);
    EXPECT_EQ(NetFile::snapshot(dir.netFile()).readText("s", "long", ""), text);
}

TEST(NetFile, SnapshotKeepsTheFileAsItWas) {
    CoreTestFolder dir;
    NetFile file(dir.netFile());
    file.writeText("s", "k", "old");
    NetFile before = NetFile::snapshot(dir.netFile());
    file.writeText("s", "k", "new");
    EXPECT_EQ(before.readText("s", "k", ""), "old");
    EXPECT_EQ(file.readText("s", "k", ""), "new");
}

} // namespace

TEST(StoreIdFromText, ReadsBothStoredFormsOfAnId) {
    EXPECT_EQ(storeIdFromText("12"), 12u);
    EXPECT_EQ(storeIdFromText("3000000000"), 3000000000u);  // a message id, "%ld"
    EXPECT_EQ(storeIdFromText("-1294967296"), 3000000000u); // a folder id, "%d"
    EXPECT_EQ(storeIdFromText("4294967294"), 4294967294u);
    EXPECT_EQ(storeIdFromText("-1"), FOLDERID_INVALID);
    EXPECT_EQ(storeIdFromText(""), FOLDERID_INVALID);
    EXPECT_EQ(storeIdFromText("12a"), FOLDERID_INVALID);
    EXPECT_EQ(storeIdFromText("4294967296"), FOLDERID_INVALID);
    EXPECT_EQ(storeIdFromText("-2147483649"), FOLDERID_INVALID);
}
