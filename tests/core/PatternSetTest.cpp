#include "util/Log.h"
#include "core/MatchBudget.h"
#include "core/PatternSet.h"
#include "core/Stimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::vector<std::string>>;

// Time without end: only the fixed limits can stop a match, so answers never hang on
// how busy the machine is.
MatchBudget untimed(const std::string& name = "message") {
    return MatchBudget(name, std::chrono::hours(1));
}

// A small generator of its own, so that the same seed gives the same patterns everywhere.
class Random {
public:
    explicit Random(std::uint32_t seed) : state(seed) {}
    std::uint32_t below(std::uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
    template <std::size_t N> const char* pick(const char* const (&list)[N]) {
        return list[below(N)];
    }

private:
    std::uint32_t state;
};

// Pieces of the dialect as users write them: literals of both cases and high bytes,
// classes, escapes, anchors and boundaries, literal parentheses, groups opened with an
// escaped parenthesis (lookaround, atomic, option groups), back references, alternation
// and every kind of quantifier.
const char* const atoms[] = {
    "a",     "b",           "ab",          "de",           "x",       "A",        "B",
    " ",     "1",           "_",           "\xe9",         "\xc9",    ".",        "\\s",
    "\\S",   "\\w",         "\\W",         "\\d",          "\\D",     "\\b",      "\\B",
    "^",     "$",           "\\n",         "\\t",          "[abc]",   "[^a ]",    "[a-c]",
    "[A-C]", "[[:alpha:]]", "[[:space:]]", "[[:^alpha:]]", "\\x41",   "(",        ")",
    "\\Z",   "\\z",         "\\A",         "\\G",          "\\1",     "\\2",      "\\Qa.\\E",
    "\\.",   "\\|",         "\\*",         "\\h",          "\\v",     "\\R",      "\\N",
    "\\C",   "\\K",         "\\p{L}",      "\\e",          "\\x0b",   "[\\s\\d]", "[^\\w]",
    "\\\\",  "\\xa0",       "\\x85",       "[^\\n]",       "\\Ba",    "a\\b",     "\\bde\\b",
    "(a|b)", "[.]",         "[^\\s]",      "\\W\\w",       "\\S+\\h", "\\S*\\v"};
const char* const quantifiers[] = {"",    "",      "",   "",   "*",  "+",  "?",    "{1,3}",
                                   "{2}", "{0,2}", "*?", "+?", "??", "*+", "{2,}", "++"};
const char* const groupOpeners[] = {
    "\\(", "\\(?:", "\\(?=", "\\(?!", "\\(?<=", "\\(?<!", "\\(?>", "\\(?i:", "\\(?-i:", "\\(?s:"};

std::string randomPattern(Random& random, int depth = 0) {
    std::string pattern;
    int items = 1 + static_cast<int>(random.below(4));
    for (int i = 0; i < items; ++i) {
        std::uint32_t kind = random.below(20);
        if (kind == 0 && depth < 2)
            pattern += random.pick(groupOpeners) + randomPattern(random, depth + 1) + "\\)";
        else if (kind == 1 && depth < 2)
            pattern += randomPattern(random, depth + 1) + "|" + randomPattern(random, depth + 1);
        else
            pattern += random.pick(atoms);
        pattern += random.pick(quantifiers);
    }
    return pattern;
}

// Message text before normalisation: words, sentence ends, line ends, blanks, the
// characters patterns treat specially and high bytes (0xA0 and 0x85 are spaces to some
// classes only).
std::string randomText(Random& random) {
    static const char* const pieces[] = {
        "a",  "b",  "c",    "A",    "B",  "de", "DE", " ",  "  ",   "\r\n", "\n",
        ".",  "!",  "?",    "\\",   "(",  ")",  "1",  "_",  "\xe9", "\xc9", "\t",
        "\v", "\f", "\xa0", "\x85", "ab", "x",  "(a", "b)", "\\a",  "a.",   "ab de"};
    std::string text;
    int length = static_cast<int>(random.below(30));
    for (int i = 0; i < length; ++i)
        text += random.pick(pieces);
    return text;
}

// User-like patterns over a small vocabulary: words and phrases with the joints and
// anchors people write, so that the scan meets a database of many literals.
const char* const vocabulary[] = {"invoice", "due", "offer", "Offer", "meeting", "report",
                                  "free",    "win", "you",   "order", "12",      "2024"};
const char* const joints[] = {" ",   "\\s+", "\\s*",    ".*",     ".*?", "\\W+", "[ ,]+",
                              "\\b", "\\s",  ".{0,10}", " \\d+ ", "|",   "\\S*"};
const char* const edges[] = {"", "", "", "^", "$", "\\b", "\\bre", "s?", "\\d{2,4}"};

std::string userPattern(Random& random) {
    std::string pattern = random.pick(edges);
    int words = 1 + static_cast<int>(random.below(3));
    for (int w = 0; w < words; ++w) {
        if (w > 0)
            pattern += random.pick(joints);
        pattern += random.pick(vocabulary);
    }
    return pattern + random.pick(edges);
}

std::string userText(Random& random) {
    static const char* const others[] = {" ",  " ",  ", ", ". ", "! ", "?",   "\r\n",
                                         "  ", "re", "s",  "x",  "(",  "\xa0"};
    std::string text;
    int length = static_cast<int>(random.below(14));
    for (int i = 0; i < length; ++i)
        text += random.below(2) ? random.pick(vocabulary) : random.pick(others);
    return text;
}

std::string describe(const std::vector<std::string>& patterns) {
    std::string text;
    for (const std::string& pattern : patterns)
        text += "'" + pattern + "' ";
    return text;
}

struct Comparison {
    int compared = 0; // texts; those on which a limit stopped PCRE2 have no answer
    int scanned = 0;  // patterns placed in the scan
    int backtracking = 0;
};

// Matches every text with both ways of the same patterns and reports each input whose
// flag differs.
Comparison compareEngines(const Texts& patterns, const std::vector<std::string>& texts) {
    PatternSet best(patterns);
    PatternSet reference(patterns, PatternSet::Engine::backtrackingOnly);
    EXPECT_EQ(reference.scannedCount(), 0);
    EXPECT_EQ(best.invalidCount(), reference.invalidCount());
    Comparison result{0, best.scannedCount(), best.backtrackingCount()};
    int failures = 0;
    for (const std::string& raw : texts) {
        std::string text = normalizeText(raw);
        MatchBudget referenceBudget = untimed();
        std::vector<char> expected = reference.matchingInputs(text, referenceBudget);
        if (referenceBudget.givenUp() > 0)
            continue;
        ++result.compared;
        MatchBudget budget = untimed();
        std::vector<char> got = best.matchingInputs(text, budget);
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            if (got[i] != expected[i] && ++failures <= 10)
                ADD_FAILURE() << describe(patterns[i]) << "on '" << text << "': scan "
                              << int(got[i]) << ", PCRE2 " << int(expected[i]);
        }
        bool any = std::find(expected.begin(), expected.end(), 1) != expected.end();
        EXPECT_EQ(best.anyMatches(text, budget), any) << "'" << text << "'";
    }
    return result;
}

TEST(PatternSet, ScanAndBacktrackingGiveTheSameInputVectorOnGeneratedPatterns) {
    setLogToStderr(false);
    Random random(20240611);
    int scanned = 0;
    int backtracking = 0;
    int compared = 0;
    // Many small sets: the automaton compiler takes its time over many unusual patterns
    // in one database, and small sets meet as many constructs in a fraction of it.
    for (int set = 0; set < 400; ++set) {
        Texts patterns(8);
        for (auto& input : patterns) {
            int count = 1 + static_cast<int>(random.below(2));
            for (int p = 0; p < count; ++p)
                input.push_back(randomPattern(random));
        }
        std::vector<std::string> texts;
        for (int t = 0; t < 40; ++t)
            texts.push_back(randomText(random));
        Comparison result = compareEngines(patterns, texts);
        scanned += result.scanned;
        backtracking += result.backtracking;
        compared += result.compared;
        if (HasFailure())
            break;
    }
    // Both ways must really be in use for the comparison to mean anything.
    EXPECT_GT(scanned, 1000);
    EXPECT_GT(backtracking, 1000);
    EXPECT_GT(compared, 15000);
    setLogToStderr(true);
}

TEST(PatternSet, ScanAndBacktrackingAgreeOnOneLargeSetOfUserLikePatterns) {
    Random random(7);
    Texts patterns(600);
    for (auto& input : patterns) {
        int count = 1 + static_cast<int>(random.below(3));
        for (int p = 0; p < count; ++p)
            input.push_back(userPattern(random));
    }
    std::vector<std::string> texts;
    for (int t = 0; t < 1500; ++t)
        texts.push_back(userText(random));
    Comparison result = compareEngines(patterns, texts);
    EXPECT_GT(result.scanned, 600);
    EXPECT_EQ(result.compared, 1500);
}

struct PlacementCase {
    const char* name;
    const char* pattern;
    const char* placement; // "scan", "backtracking" or "invalid"
};

void PrintTo(const PlacementCase& c, std::ostream* out) {
    *out << c.name;
}

class Placement : public testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, GoesWhereItsAnswerIsExact) {
    const PlacementCase& c = GetParam();
    PatternSet set(Texts{{c.pattern}});
    std::string placement = set.scannedCount()        ? "scan"
                            : set.backtrackingCount() ? "backtracking"
                                                      : "invalid";
    EXPECT_EQ(placement, c.placement) << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    PatternSet, Placement,
    testing::Values(PlacementCase{"word", "invoice", "scan"},
                    PlacementCase{"word_between_boundaries", "\\bin voice\\b", "scan"},
                    PlacementCase{"quadratic_for_backtracking", "invoice.*due", "scan"},
                    PlacementCase{"anchors_and_boundaries", "^\\bend$", "scan"},
                    PlacementCase{"classes_and_repeats", "[a-z]{2,5}\\s+\\d+", "scan"},
                    PlacementCase{"back_reference", "a\\1", "backtracking"},
                    PlacementCase{"lookahead", "a\\(?=b\\)", "backtracking"},
                    PlacementCase{"matches_the_empty_text", "a*", "backtracking"},
                    PlacementCase{"only_an_anchor", "$", "backtracking"},
                    PlacementCase{"no_break_space_class", "\\S+\\h", "backtracking"},
                    PlacementCase{"start_of_pattern_item", "*UCP", "backtracking"},
                    PlacementCase{"unbalanced_bracket", "[abc", "invalid"},
                    PlacementCase{"escaped_parenthesis_alone", "\\(a", "invalid"},
                    PlacementCase{"item_the_old_library_lacked", "*pla:x", "invalid"}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });

// Texts on which the scanners vectorscan picks for wide vector units miss a match
// (a pattern's last byte in the last lanes of a block): the scan must find each.
struct LaneCase {
    const char* name;
    const char* pattern;
    std::string text; // before normalisation
};

void PrintTo(const LaneCase& c, std::ostream* out) {
    *out << c.name;
}

class ScanAtBlockEnds : public testing::TestWithParam<LaneCase> {};

TEST_P(ScanAtBlockEnds, FindsWhatPcreFinds) {
    const LaneCase& c = GetParam();
    PatternSet set(Texts{{c.pattern}});
    ASSERT_EQ(set.scannedCount(), 1);
    MatchBudget budget = untimed();
    EXPECT_EQ(set.matchingInputs(normalizeText(c.text), budget), std::vector<char>{1});
}

INSTANTIATE_TEST_SUITE_P(
    PatternSet, ScanAtBlockEnds,
    testing::Values(LaneCase{"repeat_then_blank_after_16", "ab*\\s", std::string(16, 'c') + "a "},
                    LaneCase{"blank_class_at_a_line_end_after_64", "a\\s",
                             std::string(64, 'c') + "a."}),
    [](const testing::TestParamInfo<LaneCase>& info) { return std::string(info.param.name); });

class MatchTime : public testing::Test {
protected:
    void SetUp() override {
        setLogToStderr(false);
        setLogSink([this](const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override {
        setLogSink({});
        setLogToStderr(true);
    }
    // A clock that stands still for its first reads and then jumps an hour ahead, so the
    // budget runs out at a read the test knows.
    static MatchBudget::Clock jumpsAfter(int reads) {
        auto count = std::make_shared<int>(0);
        auto start = std::chrono::steady_clock::now();
        return [count, reads, start] {
            return ++*count > reads ? start + std::chrono::hours(1) : start;
        };
    }
    std::vector<std::string> lines;
};

TEST_F(MatchTime, ASpentBudgetGivesUpTheBacktrackingPatternsAndLogsOnce) {
    // "\h" keeps a pattern with the backtracking matcher; "hello" is scanned.
    PatternSet set({{"hello"}, {"hello\\hworld"}, {"world\\hagain"}});
    std::string text = normalizeText("hello world again");
    MatchBudget spent("Big offer", std::chrono::nanoseconds(0));
    EXPECT_EQ(set.matchingInputs(text, spent), (std::vector<char>{1, 0, 0}));
    EXPECT_EQ(spent.givenUp(), 2);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("'Big offer'"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("'(hello\\hworld)'"), std::string::npos) << lines[0];

    MatchBudget fresh = untimed();
    EXPECT_EQ(set.matchingInputs(text, fresh), (std::vector<char>{1, 1, 1}));
    EXPECT_EQ(fresh.givenUp(), 0);
}

TEST_F(MatchTime, TimeRunningOutInsideAMatchStopsItAndTheRest) {
    // Quadratic for a backtracking matcher: every "a" starts a search to the sentence end.
    PatternSet set({{"again"}, {"a.*b\\h"}, {"again\\hc"}});
    std::string text = normalizeText(std::string(3000, 'a') + ". b again c");
    // The budget reads the clock when it is made, before the first match, and at every
    // 64th step of a match: the third read comes inside the quadratic search.
    MatchBudget budget("Huge", std::chrono::milliseconds(50), jumpsAfter(2));
    EXPECT_EQ(set.matchingInputs(text, budget), (std::vector<char>{1, 0, 0}));
    EXPECT_EQ(budget.givenUp(), 2);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("'Huge'"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("'(a.*b\\h)'"), std::string::npos) << lines[0];

    // With time enough the search ends, and the last pattern matches.
    MatchBudget untimedBudget = untimed();
    EXPECT_EQ(set.matchingInputs(text, untimedBudget), (std::vector<char>{1, 0, 1}));
    EXPECT_EQ(untimedBudget.givenUp(), 0);
}

TEST(PatternSet, InputsWithoutPatternsAndBrokenPatternsNeverMatch) {
    PatternSet set(Texts{{}, {"[abc"}, {"abc"}, {"x*"}});
    MatchBudget budget = untimed();
    EXPECT_EQ(set.matchingInputs("abc", budget), (std::vector<char>{0, 0, 1, 1}));
    EXPECT_EQ(set.matchingInputs("", budget), (std::vector<char>{0, 0, 0, 1}));
    EXPECT_TRUE(set.anyMatches("zzz", budget));

    PatternSet none(Texts{});
    EXPECT_TRUE(none.matchingInputs("abc", budget).empty());
    EXPECT_FALSE(none.anyMatches("abc", budget));
    EXPECT_EQ(budget.givenUp(), 0);
}

} // namespace
