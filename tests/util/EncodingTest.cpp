#include "util/Encoding.h"

#include <gtest/gtest.h>

#include <clocale>

TEST(Encoding, Utf8RoundTripKeepsEveryPlane) {
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"; // a é € 😀 z
    WideString wide = utf8ToWide(text);
    EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600z");
    EXPECT_EQ(wideToUtf8(wide), text);
}

TEST(Encoding, BrokenInputIsReplacedNotDropped) {
    EXPECT_EQ(utf8ToWide("a\xFF"
                         "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf8ToWide("\xC3"), u"\uFFFD");           // cut sequence
    EXPECT_EQ(utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD"); // over-long form
    WideString loneSurrogate(1, char16_t(0xD800));
    EXPECT_EQ(wideToUtf8(loneSurrogate), "?");
}

TEST(Encoding, EmptyStaysEmpty) {
    EXPECT_EQ(wideToBytes(u""), "");
    EXPECT_EQ(bytesToWide(""), u"");
}

TEST(Encoding, PlainCLocaleMeansUtf8) {
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(wideToBytes(u"\u00E9t\u00E9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(bytesToWide("\xC3\xA9"), u"\u00E9");
}

TEST(Encoding, MissingCharactersBecomeOneQuestionMarkEach) {
    // Latin-1 has é but neither € nor an emoji (two UTF-16 units, still one "?").
    EXPECT_EQ(wideToBytes(u"\u00E9\u20AC\U0001F600x", 28591), "\xE9??x");
    EXPECT_EQ(bytesToWide("\xE9", 28591), u"\u00E9");
    EXPECT_EQ(wideToBytes(u"\u00E9", 1252), "\xE9");
    // From UTF-8 the same, in one conversion.
    for (unsigned codePage : {28591u, 1252u, unsigned(CP_UTF8)})
        EXPECT_EQ(utf8ToBytes("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x", codePage),
                  wideToBytes(u"\u00E9\u20AC\U0001F600x", codePage))
            << codePage;
}
