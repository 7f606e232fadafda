#include "platform/mime/CharsetText.h"

#include "util/CharsetConverter.h"

#include <gtest/gtest.h>

namespace {

struct CharsetCase {
    const char* name;
    std::string bytes;
    const char* charset;
    std::string utf8;
};

class CharsetToUtf8 : public testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetToUtf8, Converts) {
    const CharsetCase& c = GetParam();
    EXPECT_EQ(CharsetText::toUtf8(c.bytes, c.charset), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CharsetToUtf8,
    testing::Values(
        CharsetCase{"utf8_declared", "gr\xC3\xBC\xC3\x9F", "UTF-8", "gr\xC3\xBC\xC3\x9F"},
        CharsetCase{"utf8_invalid_byte_marked",
                    "a\xFF"
                    "b",
                    "utf-8",
                    "a\xEF\xBF\xBD"
                    "b"},
        CharsetCase{"latin1", "caf\xE9", "iso-8859-1", "caf\xC3\xA9"},
        CharsetCase{"latin1_alias_quoted_case", "caf\xE9", "ISO_8859-1", "caf\xC3\xA9"},
        CharsetCase{"windows1252_euro", "3\x80", "windows-1252", "3\xE2\x82\xAC"},
        CharsetCase{"koi8r", "\xF0\xD2\xC9\xD7\xC5\xD4", "koi8-r",
                    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        CharsetCase{"shift_jis", "\x93\xFA\x96\x7B", "shift_jis", "\xE6\x97\xA5\xE6\x9C\xAC"},
        CharsetCase{"utf16_with_bom",
                    std::string("\xFF\xFE"
                                "h\0i\0",
                                6),
                    "utf-16", "hi"},
        CharsetCase{"unknown_valid_utf8_kept", "\xC3\xA9t\xC3\xA9", "x-no-such-charset",
                    "\xC3\xA9t\xC3\xA9"},
        CharsetCase{"unknown_8bit_as_windows1252", "caf\xE9 3\x80", "x-no-such-charset",
                    "caf\xC3\xA9 3\xE2\x82\xAC"},
        CharsetCase{"undeclared_8bit_as_windows1252", "\xE9", "", "\xC3\xA9"},
        CharsetCase{"us_ascii_with_8bit_utf8", "\xC3\xA9", "us-ascii", "\xC3\xA9"},
        CharsetCase{"us_ascii_with_8bit_latin", "\xE9", "us-ascii", "\xC3\xA9"},
        CharsetCase{"windows1252_unassigned_marked", "\x81", "", "\xEF\xBF\xBD"},
        CharsetCase{"empty", "", "iso-8859-1", ""},
        CharsetCase{"truncated_multibyte_marked", "\x93", "shift_jis", "\xEF\xBF\xBD"}),
    [](const testing::TestParamInfo<CharsetCase>& info) { return info.param.name; });

struct LineEndCase {
    const char* name;
    std::string in;
    std::string out;
};

class LineEnds : public testing::TestWithParam<LineEndCase> {};

// ASCII text in a charset that extends ASCII is taken as it is, without the converter:
// the converter must agree for every such charset and every ASCII byte.
TEST(CharsetToUtf8, AsciiReadsTheSameInEveryCharsetThatExtendsIt) {
    std::string ascii;
    for (int c = 0; c < 0x80; ++c)
        ascii += static_cast<char>(c);
    std::vector<std::string> names;
    for (int part : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16})
        names.push_back("ISO-8859-" + std::to_string(part));
    for (int page = 1250; page <= 1258; ++page)
        names.push_back("WINDOWS-" + std::to_string(page));
    for (const std::string& name : names) {
        std::string converted;
        ASSERT_TRUE(CharsetConverter::toUtf8(ascii, name, &converted)) << name;
        EXPECT_EQ(converted, ascii) << name;
    }
}

TEST_P(LineEnds, BecomeCrLf) {
    EXPECT_EQ(CharsetText::withCrLf(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Table, LineEnds,
                         testing::Values(LineEndCase{"empty", "", ""},
                                         LineEndCase{"lf", "a\nb\n", "a\r\nb\r\n"},
                                         LineEndCase{"crlf_unchanged", "a\r\nb", "a\r\nb"},
                                         LineEndCase{"lone_cr", "a\rb\r", "a\r\nb\r\n"},
                                         LineEndCase{"cr_cr_lf", "a\r\r\nb", "a\r\n\r\nb"},
                                         LineEndCase{"lf_cr", "a\n\rb", "a\r\n\r\nb"},
                                         LineEndCase{"blank_lines", "\n\n", "\r\n\r\n"},
                                         LineEndCase{"nul_dropped", std::string("a\0b", 3), "ab"}),
                         [](const testing::TestParamInfo<LineEndCase>& info) {
                             return info.param.name;
                         });

TEST(HtmlMetaCharset, FindsBothMetaForms) {
    EXPECT_EQ(CharsetText::htmlMetaCharset("<meta charset=\"ISO-8859-2\">"), "iso-8859-2");
    EXPECT_EQ(CharsetText::htmlMetaCharset(
                  "<html><head><META http-equiv=Content-Type content='text/html; "
                  "charset=windows-1251'></head>"),
              "windows-1251");
    EXPECT_EQ(CharsetText::htmlMetaCharset("<p>charset=utf-8 in text is no declaration</p>"), "");
    EXPECT_EQ(CharsetText::htmlMetaCharset("<meta name=x><meta charset=koi8-r>"), "koi8-r");
}

} // namespace
