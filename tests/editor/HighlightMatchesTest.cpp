#include "util/Encoding.h"
#include "core/MatchBudget.h"
#include "core/Stimulation.h"
#include "editor/HighlightMatches.h"
#include "editor/RtfReader.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <string>
#include <vector>
#include <gtest/gtest.h>

namespace {

const std::string header = "{\\rtf1{\\colortbl ;\\red255\\green0\\blue0;}";

REs patterns(const std::vector<std::string>& texts) {
    REs list;
    for (const std::string& text : texts)
        list.push_back(compilePattern(text));
    return list;
}

// Which characters of the document have the red background, as a string of '^' and ' '.
std::string redMarks(const QTextDocument& document) {
    std::string marks;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin())
            marks += '|';
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextFragment fragment = it.fragment();
            bool red = fragment.charFormat().background().color() == QColor(255, 0, 0) &&
                       fragment.charFormat().background().style() != Qt::NoBrush;
            marks += std::string(fragment.length(), red ? '^' : ' ');
        }
    }
    return marks;
}

struct HighlightCase {
    const char* name;
    std::string text;
    std::vector<std::string> expressions;
    std::string body; // the document between the header and the closing brace
};

class Highlight : public testing::TestWithParam<HighlightCase> {};

TEST_P(Highlight, WritesTheDocument) {
    const HighlightCase& c = GetParam();
    EXPECT_EQ(highlightMatches(c.text, patterns(c.expressions)), header + c.body + "}");
}

INSTANTIATE_TEST_SUITE_P(
    Documents, Highlight,
    testing::Values(
        HighlightCase{"NoExpressions", "Hello\r\nworld", {}, "Hello\\par world"},
        HighlightCase{"NoMatch", "Hello world. Bye", {"planet"}, "Hello world. Bye"},
        HighlightCase{
            "OneWord", "Hello world. Bye", {"world"}, "Hello \\highlight1 world\\highlight0 . Bye"},
        HighlightCase{"EveryMatchOfAnExpression",
                      "ab ab",
                      {"ab"},
                      "\\highlight1 ab\\highlight0  \\highlight1 ab\\highlight0 "},
        HighlightCase{"DotStopsAtTheSentenceEnd", "Hello. bye", {"o.\\sb"}, "Hello. bye"},
        HighlightCase{
            "DotWithinASentence", "Hello, bye", {"o.\\sb"}, "Hell\\highlight1 o, b\\highlight0 ye"},
        HighlightCase{"OverlappingMatchesFormOneRun",
                      "abcdef",
                      {"abc", "cde"},
                      "\\highlight1 abcde\\highlight0 f"},
        HighlightCase{"TouchingMatchesFormOneRun",
                      "abcdef",
                      {"ab", "cd"},
                      "\\highlight1 abcd\\highlight0 ef"},
        HighlightCase{
            "MatchEndingBetweenCrAndLf", "a\r\nb", {"a\\s"}, "\\highlight1 a\r\\highlight0 \nb"},
        HighlightCase{"MatchOverTheWholeLineEnd",
                      "a\r\nb",
                      {"a\\s\\s"},
                      "\\highlight1 a\\par \\highlight0 b"},
        HighlightCase{"LoneLineFeedsStay", "a\nb\n", {}, "a\nb\n"},
        HighlightCase{"CaselessPattern", "WORLD", {"world"}, "\\highlight1 WORLD\\highlight0 "},
        HighlightCase{"ZeroLengthMatchesMarkNothing", "abc", {"x*"}, "abc"},
        HighlightCase{"ZeroLengthThenRealMatch", "xab", {"a*"}, "x\\highlight1 a\\highlight0 b"},
        HighlightCase{"BrokenPatternNeverMatches", "a[b", {"[b"}, "a[b"},
        HighlightCase{"TextEndsAtItsFirstZeroByte", std::string("ab\0cd", 5), {"cd"}, "ab"},
        HighlightCase{"BackslashAndBracesAreEscaped",
                      "C:\\dir {x}",
                      {"dir"},
                      "C:\\\\\\highlight1 dir\\highlight0  \\{x\\}"},
        HighlightCase{"HighBytesAreEscaped", "caf\xc3\xa9", {}, "caf\\'c3\\'a9"}),
    [](const testing::TestParamInfo<HighlightCase>& info) { return std::string(info.param.name); });

TEST(Highlight, LongTextWithADeeplyRecursivePatternDoesNotCrash) {
    // One group repetition per character: without a recursion limit PCRE would need
    // far more stack than a thread has.
    std::string text(2'000'000, 'a');
    text += "c";
    REs list{REPtr(new Pattern("((?:a|b)*c)", true))};
    std::string document = highlightMatches(text, list);
    EXPECT_EQ(document.rfind(header, 0), 0u);
    EXPECT_EQ(document.back(), '}');
}

TEST(Highlight, QuadraticPatternOnAMegabyteReturnsWithinItsBudget) {
    // Every "a" starts a search to the sentence end and back: a backtracking matcher
    // needs the square of the sentence's length to find that nothing matches.
    std::string text = std::string(1 << 20, 'a') + ". b";
    MatchBudget budget("shown message");
    std::string document = highlightMatches(text, patterns({"a.*b"}), budget);
    // Given up (by the match limit or the time, whichever comes first): no mark.
    EXPECT_EQ(budget.givenUp(), 1);
    EXPECT_EQ(document.find("\\highlight1"), std::string::npos);
}

struct ReadCase {
    const char* name;
    std::string text;
    std::vector<std::string> expressions;
    std::string plain; // UTF-8
    std::string marks;
};

class ReadBack : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadBack, ShowsTheTextWithRedRuns) {
    const ReadCase& c = GetParam();
    QTextDocument document;
    readRtf(&document, highlightMatches(c.text, patterns(c.expressions)));
    EXPECT_EQ(document.toPlainText().toStdString(), c.plain);
    EXPECT_EQ(redMarks(document), c.marks);
}

INSTANTIATE_TEST_SUITE_P(
    Views, ReadBack,
    testing::Values(
        ReadCase{"NoExpressions", "Hello\r\nworld", {}, "Hello\nworld", "     |     "},
        ReadCase{"OneWord", "Hello world. Bye", {"world"}, "Hello world. Bye", "      ^^^^^     "},
        ReadCase{"OverlappingRun", "abcdef", {"abc", "cde"}, "abcdef", "^^^^^ "},
        ReadCase{"HighlightAcrossALineEnd", "a\r\nb", {"a\\s\\s"}, "a\nb", "^| "},
        ReadCase{"SplitLineEndIsNoBreak", "a\r\nb", {"a\\s"}, "ab", "^ "},
        ReadCase{"LoneLineFeedsAreNoBreaks", "a\nb", {}, "ab", "  "},
        ReadCase{"Tabs", "a\tb", {"b"}, "a\tb", "  ^"},
        ReadCase{"BackslashBracesAndAccent",
                 "C:\\dir {x} caf\xc3\xa9!",
                 {"caf\xc3\xa9"},
                 "C:\\dir {x} caf\xc3\xa9!",
                 "           ^^^^ "}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(ReadRtf, UnknownControlWordsAndGroupsAreSkipped) {
    QTextDocument document;
    readRtf(&document, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\b bold\\b0 \\tab x\\~}");
    EXPECT_EQ(document.toPlainText().toStdString(), "bold\tx");
}

TEST(ReadRtf, ReloadingReplacesTheFormerText) {
    QTextDocument document;
    readRtf(&document, highlightMatches("first", patterns({"first"})));
    readRtf(&document, highlightMatches("second", {}));
    EXPECT_EQ(document.toPlainText().toStdString(), "second");
    EXPECT_EQ(redMarks(document), "      ");
}

} // namespace
