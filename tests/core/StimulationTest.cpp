#include "core/NeuronIn.h"
#include "core/Stimulation.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct MatchCase {
    const char* name;
    const char* pattern;
    std::string text;
    bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* out) {
    *out << c.name;
}

class PatternMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(PatternMatch, AgainstTheNormalisedText) {
    const MatchCase& c = GetParam();
    NeuronIn neuron("n");
    neuron.addRegex(c.pattern);
    EXPECT_EQ(neuron.matches(c.text), c.matches) << c.pattern << " on '" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Stimulation, PatternMatch,
    testing::Values(
        MatchCase{"literal_full_stop_never_matches", "end\\.", "the end. Next", false},
        MatchCase{"exclamation_mark_never_matches", "now!", "buy now!", false},
        MatchCase{"question_mark_never_matches", "why\\?", "why?", false},
        MatchCase{"whitespace_crosses_sentence_end", "end\\s+next", "the end. Next one", true},
        MatchCase{"dot_stops_at_sentence_end", "end.*one", "the end. Next one", false},
        MatchCase{"dot_within_a_sentence", "the.*one", "the end, next one", true},
        MatchCase{"line_breaks_become_blanks", "one  two", "one\r\ntwo", true},
        MatchCase{"caret_only_at_start_of_text", "^next", "the end. next", false},
        MatchCase{"dollar_before_final_line_feed", "end$", "the end.", true},
        MatchCase{"unanchored_inside_text", "rice", "a good price today", true},
        MatchCase{"parentheses_are_literal", "(sale)", "big (sale) now", true},
        MatchCase{"parentheses_are_not_a_group", "(sale)", "big sale now", false},
        MatchCase{"single_escaped_paren_fails_to_compile", "\\(a", "x\\(a \\a (a", false},
        MatchCase{"escaped_parens_open_a_group", "\\(a\\)", "x\\a\\y", true},
        MatchCase{"escaped_parens_no_longer_literal", "\\(a\\)", "x(a)y", false},
        MatchCase{"bar_splits_literal_halves_left", "(a|b)", "x(ay", true},
        MatchCase{"bar_splits_literal_halves_right", "(a|b)", "xb)y", true},
        MatchCase{"bar_halves_need_their_parens", "(a|b)", "a b", false},
        MatchCase{"lower_case_pattern_is_caseless", "offer", "SPECIAL OFFER", true},
        MatchCase{"capital_pattern_is_case_sensitive", "Offer", "special offer", false},
        MatchCase{"capital_pattern_matches_its_case", "Offer", "Special Offer", true},
        MatchCase{"capital_escape_is_case_sensitive", "\\S+ab", "xxAB", false},
        MatchCase{"lower_escape_stays_caseless", "\\s*ab", "xxAB", true},
        MatchCase{"starred_pattern_matches_empty_text", "a*", "", true},
        MatchCase{"plain_pattern_misses_empty_text", "a", "", false}),
    [](const testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST(NormalizeText, OneLinePerSentence) {
    EXPECT_EQ(normalizeText("Hi.\r\nYou! Why? ok"), "Hi\n  You\n Why\n ok");
    EXPECT_EQ(normalizeText(""), "");
    EXPECT_EQ(normalizeText(std::string("a\0.b", 4)), std::string("a\0\nb", 4));
}

TEST(CompilePattern, WrapsAndEscapesAndCapturesTheWholeMatch) {
    REPtr re = compilePattern("(of+er) x|y");
    EXPECT_EQ(re->pattern(), "(\\(of+er\\) x|y)");
    EXPECT_EQ(re->NumberOfCapturingGroups(), 1);

    re = compilePattern("of+er\\s\\d+");
    pcrecpp::StringPiece input("big OFFER 20 now");
    std::string whole;
    ASSERT_TRUE(re->FindAndConsume(&input, &whole));
    EXPECT_EQ(whole, "OFFER 20");
}

TEST(CompilePattern, ABrokenPatternIsKeptInErrorState) {
    REPtr re = compilePattern("[abc");
    EXPECT_FALSE(re->error().empty());
    EXPECT_FALSE(patternMatches(*re, "[abc"));
}

class MatchErrors : public testing::Test {
protected:
    void SetUp() override {
        setLogToStderr(false);
        setLogSink([this](const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override {
        setLogSink({});
        setLogToStderr(true);
    }
    std::vector<std::string> lines;
};

TEST_F(MatchErrors, CatastrophicBacktrackingCountsAsNoMatchAndIsLogged) {
    NeuronIn neuron("n");
    neuron.addRegex("a*a*a*a*a*a*a*b");
    neuron.addRegex("aaa");
    std::string text(3000, 'a');
    EXPECT_FALSE(patternMatches(*neuron.getREs()->at(0), text));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("a*a*a*a*a*a*a*b"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("match error -8"), std::string::npos) << lines[0];
    // The failed pattern does not end the neuron's search.
    EXPECT_TRUE(neuron.matches(text));
}

TEST_F(MatchErrors, DeepGroupRepetitionOnALongTextDoesNotOverflowTheStack) {
    // Each repetition of a group costs PCRE one stack frame; 400,000 of them used to
    // crash the program with the library's default recursion limit.
    NeuronIn neuron("n");
    neuron.addRegex("\\(a|b\\)*c");
    std::string text = "\\" + std::string(400000, 'a');
    EXPECT_FALSE(neuron.matches(text));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("match error -21"), std::string::npos) << lines[0];
}

TEST_F(MatchErrors, ACompileErrorIsNotReported) {
    NeuronIn neuron("n");
    neuron.addRegex("\\(a");
    EXPECT_FALSE(neuron.matches("(a"));
    EXPECT_TRUE(lines.empty());
}

} // namespace
