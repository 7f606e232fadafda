#include "util/Text.h"

#include <gtest/gtest.h>

#include <clocale>

using Pieces = std::vector<std::string>;

TEST(ReplaceAll, NeverRescansInsertedText) {
    EXPECT_EQ(replaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replaceAll("abab", "ab", "b"), "bb");
    EXPECT_EQ(replaceAll("xAx", "a", "b"), "xAx"); // case-sensitive
    EXPECT_EQ(replaceAll("", "a", "b"), "");
    EXPECT_EQ(replaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(replaceAll("a..b", ".", ". "), "a. . b");
}

TEST(SplitText, EmptyInnerPiecesStayTheLastOnlyWhenNotEmpty) {
    EXPECT_EQ(splitText(";a;;b", ";"), (Pieces{"", "a", "", "b"}));
    EXPECT_EQ(splitText("a;", ";"), (Pieces{"a"}));
    EXPECT_EQ(splitText("", ";"), Pieces{});
    EXPECT_EQ(splitText(";", ";"), (Pieces{""}));
    EXPECT_EQ(splitText("a|b|c", "|"), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(splitText("a\r\nb", "\r\n"), (Pieces{"a", "b"}));
}

TEST(JoinTexts, SeparatorOnlyBetweenNeighbours) {
    EXPECT_EQ(joinTexts({}, ";"), "");
    EXPECT_EQ(joinTexts({"a"}, ";"), "a");
    EXPECT_EQ(joinTexts({"a", "", "b"}, ";"), "a;;b");
}

TEST(TrimText, DropsControlCharactersAndBlanksAtBothEnds) {
    EXPECT_EQ(trimText(" \t\r\n x y \x01"), "x y");
    EXPECT_EQ(trimText("   "), "");
    EXPECT_EQ(trimText("\xC3\xA9"), "\xC3\xA9"); // bytes above 127 are letters, not blanks
}

TEST(LowerText, OnlyAsciiCapitalsChange) {
    EXPECT_EQ(lowerText("AZaz@[\xC3\x89"), "azaz@[\xC3\x89");
    EXPECT_EQ(lowerText("\xC9"), "\xC9"); // a Latin-1 capital E acute stays
}

TEST(ToInt, WholeTextOrDefault) {
    EXPECT_EQ(toInt("42", -1), 42);
    EXPECT_EQ(toInt("-7", 0), -7);
    EXPECT_EQ(toInt("+7", 0), 7);
    EXPECT_EQ(toInt("", 5), 5);
    EXPECT_EQ(toInt("12a", 5), 5);
    EXPECT_EQ(toInt(" 12", 5), 5);
    EXPECT_EQ(toInt("99999999999", 5), 5); // out of range
    EXPECT_EQ(toInt("4294967295", -1), -1);
    EXPECT_EQ(toInt("+-1", 3), 3);
}

TEST(ToReal, LongestLeadingNumberUnderEveryLocale) {
    EXPECT_DOUBLE_EQ(toReal("75.5xyz", 80), 75.5);
    EXPECT_DOUBLE_EQ(toReal("80.000000", 0), 80.0);
    EXPECT_DOUBLE_EQ(toReal("75%", 0), 75.0);
    EXPECT_DOUBLE_EQ(toReal("abc", 80), 80.0);
    EXPECT_DOUBLE_EQ(toReal("", 80), 80.0);
    EXPECT_DOUBLE_EQ(toReal("1e2", 0), 100.0);
}

TEST(FormatReal, FullStopEvenUnderACommaLocale) {
    const char* set = std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(formatReal(80), "80.000000");
    EXPECT_DOUBLE_EQ(toReal("75.5", 0), 75.5);
    if (set)
        std::setlocale(LC_ALL, "C");
}

TEST(EscapeHtml, AmpersandStaysAndCrLfBecomesBreak) {
    EXPECT_EQ(escapeHtml("<b> & </b>"), "&lt;b&gt; & &lt;/b&gt;");
    EXPECT_EQ(textToHtml("a<b\r\nc"), "a&lt;b<br>c");
    EXPECT_EQ(textToHtml("a\nb\rc"), "a\nb\rc"); // lone LF and CR stay
    EXPECT_EQ(textToHtml("\r\n\r\n"), "<br><br>");
}
