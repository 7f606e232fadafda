#include "core/PatternSet.h"

#include "core/MatchBudget.h"
#include "core/Stimulation.h"
#include "util/Log.h"

#include <hs.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

// Vectorscan 5.4.9 (Debian 12) misses matches in the scanners it picks on machines with
// AVX2 or AVX-512: "ab*\s" finds nothing in 16 "c" followed by "a ", "a\s" nothing in
// 64 "c" followed by "a" and a line feed. Its SSE 4.2 scanner, which the library exports
// beside the others, matches exactly; databases are compiled for the generic platform so
// that it can run them. A build of the library without that scanner uses its only one.
extern "C" hs_error_t corei7_hs_scan(const hs_database_t* database, const char* data,
                                     unsigned int length, unsigned int flags, hs_scratch_t* scratch,
                                     match_event_handler onEvent, void* context)
    __attribute__((weak));

namespace {

std::atomic<std::uint64_t> nextSerial{1};

// The scratch space of one thread: vectorscan needs one per scanning thread, sized for
// the database it scans. It is made again only when the thread meets another database.
struct ScratchSpace {
    hs_scratch_t* scratch = nullptr;
    std::uint64_t serial = 0;

    ScratchSpace() = default;
    ~ScratchSpace() { hs_free_scratch(scratch); }
    ScratchSpace(const ScratchSpace&) = delete;
    ScratchSpace& operator=(const ScratchSpace&) = delete;
};

hs_scratch_t* scratchFor(const hs_database_t* database, std::uint64_t serial) {
    thread_local ScratchSpace space;
    if (space.serial == serial)
        return space.scratch;
    if (hs_alloc_scratch(database, &space.scratch) != HS_SUCCESS)
        return nullptr;
    space.serial = serial;
    return space.scratch;
}

unsigned scanFlags(bool caseless) {
    // One report per pattern is all a yes/no answer needs; it also spares the automaton
    // from tracking where matches start.
    return HS_FLAG_SINGLEMATCH | (caseless ? HS_FLAG_CASELESS : 0);
}

// Whether the pattern uses a construct that only a backtracking matcher has (vectorscan
// refuses back references, lookaround, atomic groups, possessive repeats, \K, \G, \R,
// \X, \N, recursion, conditions, callouts and verbs). A quick look at the text spares
// the automaton compiler a failed attempt per pattern; it may send a pattern to PCRE2
// that the automaton would have taken (a "(?=" inside a class), never the other way.
//
// It also keeps \h, \v, \H and \V with PCRE2: PCRE2 treats "\S*" before "\h" as
// possessive, as if no character were both (the no-break space 0xA0 is, as 0x85 is both
// \S and \v), and so misses matches that an automaton finds; the answers stay PCRE's.
bool usesBacktrackingOnlySyntax(const std::string& pattern) {
    std::size_t n = pattern.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = pattern[i];
        if (c == '\\') {
            if (++i == n)
                return true;
            if (std::strchr("KGRXNgkhvHV123456789", pattern[i]))
                return true;
            continue;
        }
        char next = i + 1 < n ? pattern[i + 1] : '\0';
        if (c == '(' && next == '*')
            return true;
        if (c == '(' && next == '?' && i + 2 < n &&
            std::strchr("=!<>(R&CP|#+0123456789", pattern[i + 2]))
            return true;
        if (c == '(' && next == '?' && i + 3 < n && pattern[i + 2] == '-' &&
            std::isdigit(static_cast<unsigned char>(pattern[i + 3])))
            return true;
        if ((c == '*' || c == '+' || c == '?' || c == '}') && next == '+')
            return true;
    }
    return false;
}

// Whether the pattern has an anchor or a word boundary. Vectorscan refuses such a
// pattern when an anchor stands inside it or a boundary can never hold ("a\\bb"), which
// only its full analysis finds out.
bool usesAnchorsOrBoundaries(const std::string& pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '^' || c == '$')
            return true;
        if (c == '\\' && ++i < pattern.size() && std::strchr("bBAzZ", pattern[i]))
            return true;
    }
    return false;
}

// Whether vectorscan compiles the pattern. Asking it costs a tenth of a millisecond; a
// pattern it refuses in the middle of a whole set costs a compilation of the set.
bool scanAccepts(const Pattern& pattern) {
    hs_expr_info_t* info = nullptr;
    hs_compile_error_t* error = nullptr;
    if (hs_expression_info(pattern.pattern().c_str(), scanFlags(pattern.isCaseless()), &info,
                           &error) != HS_SUCCESS) {
        hs_free_compile_error(error);
        return false;
    }
    std::free(info);
    return true;
}

// Whether vectorscan gives PCRE2's answer for the pattern. Patterns that can match the
// empty text (PCRE2 finds no shortest match length above zero) are left out: their
// answer hangs on anchors and word boundaries at the ends of the text, which the
// automaton handles in ways of its own.
bool scanGivesPcreAnswer(const Pattern& pattern) {
    if (pattern.minimumLength() == 0 || usesBacktrackingOnlySyntax(pattern.pattern()))
        return false;
    return !usesAnchorsOrBoundaries(pattern.pattern()) || scanAccepts(pattern);
}

struct ScanState {
    const std::vector<int>* inputOf;
    std::vector<char>* matched;
    int unmatched;
    bool stopAtFirst;
    bool stopped = false;
};

int onScanMatch(unsigned int id, unsigned long long, unsigned long long, unsigned int,
                void* context) {
    auto* state = static_cast<ScanState*>(context);
    char& flag = (*state->matched)[(*state->inputOf)[id]];
    if (flag)
        return 0;
    flag = 1;
    // Stop the scan when the caller asked for one match only, or every input matched.
    state->stopped = state->stopAtFirst || --state->unmatched == 0;
    return state->stopped ? 1 : 0;
}

} // namespace

PatternSet::PatternSet(const std::vector<std::vector<std::string>>& texts, Engine engine)
    : inputs(static_cast<int>(texts.size())), serial(nextSerial++) {
    struct Candidate {
        int input;
        std::string wrapped;
        bool caseless;
    };
    std::vector<Candidate> candidates;
    for (int input = 0; input < inputs; ++input) {
        for (const std::string& text : texts[input]) {
            REPtr pattern = compilePattern(text);
            if (!pattern->isValid()) {
                ++invalid; // never matches, as with every other caller
                continue;
            }
            if (engine == Engine::best && scanGivesPcreAnswer(*pattern))
                candidates.push_back({input, pattern->pattern(), pattern->isCaseless()});
            else
                backtracking.push_back({input, pattern});
        }
    }

    hs_platform_info_t platform{};
    platform.tune = HS_TUNE_FAMILY_GENERIC;
    platform.cpu_features = 0;
    while (!candidates.empty()) {
        std::vector<const char*> expressions;
        std::vector<unsigned> flags;
        std::vector<unsigned> ids;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            expressions.push_back(candidates[i].wrapped.c_str());
            flags.push_back(scanFlags(candidates[i].caseless));
            ids.push_back(static_cast<unsigned>(i));
        }
        hs_compile_error_t* error = nullptr;
        if (hs_compile_multi(expressions.data(), flags.data(), ids.data(),
                             static_cast<unsigned>(candidates.size()), HS_MODE_BLOCK, &platform,
                             &database, &error) == HS_SUCCESS)
            break;
        database = nullptr;
        // A pattern that passed the look can still be refused (a construct the look does
        // not know, or too large for the automaton); it is matched one by one instead. A
        // failure of the whole set sends every pattern there.
        int bad = error->expression;
        debugLog("pattern set: vectorscan refused %s (%s); matched by PCRE2 instead",
                 bad >= 0 ? ("'" + candidates[bad].wrapped + "'").c_str() : "the set",
                 error->message);
        hs_free_compile_error(error);
        auto moveToBacktracking = [this](const Candidate& c) {
            REPtr pattern(new Pattern(c.wrapped, c.caseless));
            backtracking.push_back({c.input, pattern});
        };
        if (bad < 0) {
            for (const Candidate& c : candidates)
                moveToBacktracking(c);
            candidates.clear();
        } else {
            moveToBacktracking(candidates[bad]);
            candidates.erase(candidates.begin() + bad);
        }
    }
    for (const Candidate& c : candidates)
        scannedInput.push_back(c.input);
    std::stable_sort(
        backtracking.begin(), backtracking.end(),
        [](const Backtracking& a, const Backtracking& b) { return a.input < b.input; });
}

PatternSet::~PatternSet() {
    hs_free_database(database);
}

bool PatternSet::scan(const std::string& text, std::vector<char>& matched, bool stopAtFirst) const {
    if (!database)
        return false;
    hs_scratch_t* scratch = scratchFor(database, serial);
    if (!scratch) {
        debugLog("pattern set: no memory for vectorscan's scratch space; %d patterns count as "
                 "no match",
                 scannedCount());
        return false;
    }
    // Texts are cut long before this (the first four million characters of a body).
    auto length = static_cast<unsigned>(std::min<std::size_t>(text.size(), UINT_MAX));
    ScanState state{&scannedInput, &matched,
                    static_cast<int>(std::count(matched.begin(), matched.end(), 0)), stopAtFirst};
    auto scanner = corei7_hs_scan ? corei7_hs_scan : hs_scan;
    hs_error_t rc = scanner(database, text.data(), length, 0, scratch, onScanMatch, &state);
    if (rc != HS_SUCCESS && rc != HS_SCAN_TERMINATED)
        debugLog("pattern set: vectorscan error %d; the patterns it did not report count as no "
                 "match",
                 rc);
    return state.stopped && stopAtFirst;
}

bool PatternSet::matchBacktracking(const std::string& text, std::vector<char>& matched,
                                   MatchBudget& budget, bool stopAtFirst) const {
    for (const Backtracking& entry : backtracking) {
        if (matched[entry.input])
            continue;
        if (patternMatches(*entry.pattern, text, budget)) {
            matched[entry.input] = 1;
            if (stopAtFirst)
                return true;
        }
    }
    return false;
}

std::vector<char> PatternSet::matchingInputs(const std::string& normalizedText,
                                             MatchBudget& budget) const {
    std::vector<char> matched(inputs, 0);
    scan(normalizedText, matched, false);
    matchBacktracking(normalizedText, matched, budget, false);
    return matched;
}

bool PatternSet::anyMatches(const std::string& normalizedText, MatchBudget& budget) const {
    std::vector<char> matched(inputs, 0);
    return scan(normalizedText, matched, true) ||
           matchBacktracking(normalizedText, matched, budget, true);
}
