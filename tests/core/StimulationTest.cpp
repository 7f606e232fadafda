#include "core/MatchBudget.h"
#include "core/NeuronIn.h"
#include "core/PatternSet.h"
#include "core/Stimulation.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <chrono>
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

// The same answers from the net's pattern set, whichever way it matches each pattern.
TEST_P(PatternMatch, ThroughTheNetsPatternSet) {
    const MatchCase& c = GetParam();
    PatternSet set({{c.pattern}});
    MatchBudget budget;
    EXPECT_EQ(set.matchingInputs(normalizeText(c.text), budget)[0] != 0, c.matches)
        << c.pattern << " on '" << c.text << "'";
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
    EXPECT_EQ(re->captureCount(), 1);

    re = compilePattern("of+er\\s\\d+");
    std::string input("big OFFER 20 now");
    ::PatternMatch match;
    MatchBudget budget;
    ASSERT_EQ(re->find(input, 0, match, budget), FindResult::found);
    EXPECT_EQ(input.substr(match.end - match.groupLength, match.groupLength), "OFFER 20");
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
    // No single character is required, so PCRE2 cannot rule the text out before trying.
    neuron.addRegex("a*a*a*a*a*a*a*[bc]");
    neuron.addRegex("aaa");
    std::string text(3000, 'a');
    // Time without end: only the match limit can stop it.
    MatchBudget budget("first", std::chrono::hours(1));
    EXPECT_FALSE(patternMatches(*neuron.getREs()->at(0), text, budget));
    EXPECT_EQ(budget.givenUp(), 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("a*a*a*a*a*a*a*[bc]"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("match limit"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("'first'"), std::string::npos) << lines[0];
    // The failed pattern does not end the neuron's search; it is logged once, not once
    // per message.
    MatchBudget second("second", std::chrono::hours(1));
    EXPECT_TRUE(neuron.matchesNormalized(text, second));
    EXPECT_EQ(second.givenUp(), 1);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(MatchErrors, DeepGroupRepetitionOnALongTextDoesNotOverflowTheStack) {
    // Each repetition of a group costs the matcher a frame; 400,000 of them used to crash
    // the program with the library's default recursion limit.
    NeuronIn neuron("n");
    neuron.addRegex("\\(a|b\\)*c");
    std::string text = "\\" + std::string(400000, 'a') + "bc";
    MatchBudget budget("message", std::chrono::hours(1));
    EXPECT_FALSE(neuron.matchesNormalized(text, budget));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("limit"), std::string::npos) << lines[0];
}

TEST_F(MatchErrors, ACompileErrorIsNotReported) {
    NeuronIn neuron("n");
    neuron.addRegex("\\(a");
    EXPECT_FALSE(neuron.matches("(a"));
    EXPECT_TRUE(lines.empty());
}

} // namespace
