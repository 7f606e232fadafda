#include "util/CharsetConverter.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    const char* name;
    std::string bytes;
    const char* charset;
    std::string utf8;
};

class CharsetDecode : public testing::TestWithParam<DecodeCase> {};

// Decoding, every byte (or unit) that does not decode is one U+FFFD, wherever it stands
// among the ASCII that passes without iconv.
TEST_P(CharsetDecode, ReplacesEachBadUnitOnce) {
    std::string out;
    ASSERT_TRUE(CharsetConverter::toUtf8(GetParam().bytes, GetParam().charset, &out));
    EXPECT_EQ(out, GetParam().utf8);
    std::u16string wide = CharsetConverter::utf8ToUtf16(out);
    EXPECT_EQ(CharsetConverter::utf16ToUtf8(wide), out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CharsetDecode,
    testing::Values(DecodeCase{"ascii", "plain text", "UTF-8", "plain text"},
                    DecodeCase{"utf8_between_ascii",
                               "x\xE2\x82\xAC"
                               "y",
                               "utf-8",
                               "x\xE2\x82\xAC"
                               "y"},
                    DecodeCase{"cut_before_ascii",
                               "\xC3"
                               "A",
                               "UTF-8",
                               "\xEF\xBF\xBD"
                               "A"},
                    DecodeCase{"cut_at_end", "ab\xE2\x82", "UTF-8", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},
                    DecodeCase{"encoded_surrogate", "\xED\xA0\x80", "UTF-8",
                               "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                    DecodeCase{"overlong_after_an_ascii_word", "abcdefgh\xC0\xAF", "UTF-8",
                               "abcdefgh\xEF\xBF\xBD\xEF\xBF\xBD"},
                    DecodeCase{"bad_byte_inside_an_ascii_word", "abcdefg\xFFhijklmnop", "UTF-8",
                               "abcdefg\xEF\xBF\xBDhijklmnop"},
                    DecodeCase{"four_bytes_and_three", "\xF0\x9F\x98\x80\xE2\x82\xAC", "UTF-8",
                               "\xF0\x9F\x98\x80\xE2\x82\xAC"},
                    DecodeCase{"latin1", "caf\xE9", "ISO-8859-1", "caf\xC3\xA9"},
                    DecodeCase{"windows1252_hole",
                               "a\x81"
                               "b",
                               "WINDOWS-1252",
                               "a\xEF\xBF\xBD"
                               "b"},
                    DecodeCase{"utf16_odd_byte", std::string("h\0i\0!", 5), "UTF-16LE",
                               "hi\xEF\xBF\xBD"},
                    DecodeCase{"utf16_lone_surrogate",
                               std::string("\x00\xD8"
                                           "a\0",
                                           4),
                               "UTF-16LE",
                               "\xEF\xBF\xBD"
                               "a"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

// Encoding, every character the target lacks is one "?", whatever its length.
TEST(CharsetEncode, MissingCharactersAndBadBytesBecomeOneQuestionMarkEach) {
    std::string out;
    ASSERT_TRUE(
        CharsetConverter::fromUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x", "ISO-8859-1", &out));
    EXPECT_EQ(out, "\xE9??x");
    ASSERT_TRUE(CharsetConverter::fromUtf8("a\xFF"
                                           "b",
                                           "ISO-8859-1", &out));
    EXPECT_EQ(out, "a?b");
    EXPECT_EQ(CharsetConverter::utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"z"), "?z");
}

TEST(CharsetConverter, UnknownCharsetIsRefusedAndNothingWritten) {
    std::string out = "old";
    EXPECT_FALSE(CharsetConverter::toUtf8("x", "x-no-such-charset", &out));
    EXPECT_EQ(out, "");
    out = "old";
    EXPECT_FALSE(CharsetConverter::fromUtf8("x", "x-no-such-charset", &out));
    EXPECT_EQ(out, "");
}

TEST(CharsetConverter, Utf8Validity) {
    EXPECT_TRUE(CharsetConverter::isUtf8(""));
    EXPECT_TRUE(CharsetConverter::isUtf8("gr\xC3\xBC\xC3\x9F"));
    EXPECT_FALSE(CharsetConverter::isUtf8("gr\xFC"));
    EXPECT_FALSE(CharsetConverter::isUtf8("\xC0\xAF")); // over-long
}

} // namespace

// Latin-1 is converted without iconv: every byte, in every spelling of the name taken that
// way, as iconv converts it under another of its names.
TEST(CharsetConverter, Latin1AsIconvReadsIt) {
    std::string every;
    for (int c = 0; c < 256; ++c)
        every += static_cast<char>(c);
    std::string expected, out;
    ASSERT_TRUE(CharsetConverter::toUtf8(every, "CP819", &expected));
    for (const char* name : {"ISO-8859-1", "iso8859-1", "Latin1"}) {
        ASSERT_TRUE(CharsetConverter::toUtf8(every, name, &out));
        EXPECT_EQ(out, expected) << name;
    }
}
