#include "core/PatternSet.h"

#include "util/Log.h"
#include "core/MatchBudget.h"
#include "core/Stimulation.h"

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
std::atomic<PatternSet::DatabaseStore*> databaseStore{nullptr};

// What a compilation depends on, in a form that differs whenever one of them does.
std::string compilationKey(const hs_platform_info_t& platform,
                           const std::vector<const char*>& expressions,
                           const std::vector<unsigned>& flags, const std::vector<unsigned>& ids) {
    std::string key = "platform " + std::to_string(platform.tune) + " " +
                      std::to_string(platform.cpu_features) + "\n";
    for (std::size_t i = 0; i < expressions.size(); ++i) {
        std::size_t length = std::strlen(expressions[i]);
        key += std::to_string(ids[i]) + " " + std::to_string(flags[i]) + " " +
               std::to_string(length) + " ";
        key.append(expressions[i], length);
        key += "\n";
    }
    return key;
}

// The scratch space of one thread: vectorscan needs one per scanning thread, large
// enough for every database it scans. It is grown only when the thread meets another set.
struct ScratchSpace {
    hs_scratch_t* scratch = nullptr;
    std::uint64_t serial = 0;

    ScratchSpace() = default;
    ~ScratchSpace() { hs_free_scratch(scratch); }
    ScratchSpace(const ScratchSpace&) = delete;
    ScratchSpace& operator=(const ScratchSpace&) = delete;
};

hs_scratch_t* scratchFor(const std::vector<hs_database_t*>& databases, std::uint64_t serial) {
    thread_local ScratchSpace space;
    if (space.serial == serial)
        return space.scratch;
    for (const hs_database_t* database : databases) {
        if (hs_alloc_scratch(database, &space.scratch) != HS_SUCCESS)
            return nullptr;
    }
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

bool isWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A one-word stimulation as people write it, "\bword\b" (wrapped "(\bword\b)"): letters,
// digits, underscores and blanks between word boundaries. The automaton compiler takes a
// millisecond for each boundary pattern, a few microseconds for a plain literal; so such
// a pattern is scanned as its literal, every occurrence reported, and the boundaries are
// checked at each (a word character on one side and none on the other, as PCRE's \b).
// Returns the literal, or nothing when the pattern has another form.
std::string boundedLiteral(const std::string& wrapped, bool& before, bool& after) {
    if (wrapped.size() < 3 || wrapped.front() != '(' || wrapped.back() != ')')
        return {};
    std::string inner = wrapped.substr(1, wrapped.size() - 2);
    before = inner.compare(0, 2, "\\b") == 0;
    if (before)
        inner.erase(0, 2);
    after = inner.size() >= 2 && inner.compare(inner.size() - 2, 2, "\\b") == 0;
    if (after)
        inner.erase(inner.size() - 2);
    if (inner.empty() || !(before || after))
        return {};
    for (char c : inner) {
        if (!isWordByte(c) && c != ' ')
            return {};
    }
    if ((before && !isWordByte(inner.front())) || (after && !isWordByte(inner.back())))
        return {};
    return inner;
}

struct ScanState {
    const std::string* text;
    const std::vector<PatternSet::Scanned>* scanned;
    std::vector<char>* matched;
    int unmatched;
    bool stopAtFirst;
    bool stopped = false;
};

int onScanMatch(unsigned int id, unsigned long long, unsigned long long to, unsigned int,
                void* context) {
    auto* state = static_cast<ScanState*>(context);
    const PatternSet::Scanned& pattern = (*state->scanned)[id];
    char& flag = (*state->matched)[pattern.input];
    if (flag)
        return 0;
    if (pattern.boundaryBefore || pattern.boundaryAfter) {
        const std::string& text = *state->text;
        std::size_t end = static_cast<std::size_t>(to);
        std::size_t start = end - pattern.length;
        if (pattern.boundaryBefore && start > 0 && isWordByte(text[start - 1]))
            return 0;
        if (pattern.boundaryAfter && end < text.size() && isWordByte(text[end]))
            return 0;
    }
    flag = 1;
    // Stop the scan when the caller asked for one match only, or every input matched.
    state->stopped = state->stopAtFirst || --state->unmatched == 0;
    return state->stopped ? 1 : 0;
}

} // namespace

PatternSet::PatternSet(const std::vector<std::vector<std::string>>& texts, Engine engine)
    : inputs(static_cast<int>(texts.size())), serial(nextSerial++) {
    std::vector<Candidate> candidates;
    for (int input = 0; input < inputs; ++input) {
        for (const std::string& text : texts[input]) {
            REPtr pattern = compilePattern(text);
            if (!pattern->isValid()) {
                ++invalid; // never matches, as with every other caller
                continue;
            }
            if (engine != Engine::best) {
                backtracking.push_back({input, pattern});
                continue;
            }
            bool before = false;
            bool after = false;
            std::string literal = boundedLiteral(pattern->pattern(), before, after);
            if (!literal.empty())
                candidates.push_back({{input, before, after, static_cast<unsigned>(literal.size())},
                                      "(" + literal + ")",
                                      pattern->pattern(),
                                      pattern->isCaseless()});
            else if (scanGivesPcreAnswer(*pattern))
                candidates.push_back(
                    {{input}, pattern->pattern(), pattern->pattern(), pattern->isCaseless()});
            else
                backtracking.push_back({input, pattern});
        }
    }
    // The automaton compiler needs some 4 MB and 25 KB more for every pattern with a word
    // boundary, all at once: a thousand stimulations in one database would take as much
    // memory as the whole sorter. Databases of a few hundred patterns keep that bounded,
    // for one more linear scan each. Literals (the one-word stimulations, their boundaries
    // checked apart) cost the compiler little, so they share larger databases: a net of
    // hundreds of words is one scan per text.
    std::stable_partition(candidates.begin(), candidates.end(), [](const Candidate& c) {
        return c.scan.boundaryBefore || c.scan.boundaryAfter;
    });
    std::size_t first = 0;
    while (first < candidates.size()) {
        bool literal =
            candidates[first].scan.boundaryBefore || candidates[first].scan.boundaryAfter;
        std::size_t limit = literal ? literalsPerDatabase : patternsPerDatabase;
        std::size_t last = first;
        while (last < candidates.size() && last - first < limit &&
               (candidates[last].scan.boundaryBefore || candidates[last].scan.boundaryAfter) ==
                   literal)
            ++last;
        std::vector<Candidate> group(candidates.begin() + static_cast<std::ptrdiff_t>(first),
                                     candidates.begin() + static_cast<std::ptrdiff_t>(last));
        if (hs_database_t* database = compileDatabase(group))
            databases.push_back(database);
        first = last;
    }
    std::stable_sort(
        backtracking.begin(), backtracking.end(),
        [](const Backtracking& a, const Backtracking& b) { return a.input < b.input; });
}

hs_database_t* PatternSet::compileDatabase(std::vector<Candidate>& group) {
    hs_platform_info_t platform{};
    platform.tune = HS_TUNE_FAMILY_GENERIC;
    platform.cpu_features = 0;
    auto firstId = static_cast<unsigned>(scanned.size());
    while (!group.empty()) {
        std::vector<const char*> expressions;
        std::vector<unsigned> flags;
        std::vector<unsigned> ids;
        for (std::size_t i = 0; i < group.size(); ++i) {
            const Scanned& scan = group[i].scan;
            bool caseless = group[i].caseless;
            expressions.push_back(group[i].expression.c_str());
            // A literal whose boundaries are checked needs every occurrence reported.
            flags.push_back(scan.boundaryBefore || scan.boundaryAfter
                                ? (caseless ? HS_FLAG_CASELESS : 0)
                                : scanFlags(caseless));
            ids.push_back(firstId + static_cast<unsigned>(i));
        }
        DatabaseStore* store = databaseStore.load();
        std::string key = store ? compilationKey(platform, expressions, flags, ids) : "";
        if (hs_database_t* kept = store ? store->load(key) : nullptr) {
            for (const Candidate& c : group)
                scanned.push_back(c.scan);
            return kept;
        }
        hs_database_t* database = nullptr;
        hs_compile_error_t* error = nullptr;
        if (hs_compile_multi(expressions.data(), flags.data(), ids.data(),
                             static_cast<unsigned>(group.size()), HS_MODE_BLOCK, &platform,
                             &database, &error) == HS_SUCCESS) {
            for (const Candidate& c : group)
                scanned.push_back(c.scan);
            if (store)
                store->save(key, database);
            return database;
        }
        // A pattern that passed the look can still be refused (a construct the look does
        // not know, or too large for the automaton); it is matched one by one instead. A
        // failure of the whole group sends every pattern of it there.
        int bad = error->expression;
        debugLog("pattern set: vectorscan refused %s (%s); matched by PCRE2 instead",
                 bad >= 0 ? ("'" + group[bad].expression + "'").c_str() : "a group of patterns",
                 error->message);
        hs_free_compile_error(error);
        std::size_t from = bad >= 0 ? static_cast<std::size_t>(bad) : 0;
        std::size_t to = bad >= 0 ? from + 1 : group.size();
        for (std::size_t i = from; i < to; ++i)
            backtracking.push_back(
                {group[i].scan.input, REPtr(new Pattern(group[i].wrapped, group[i].caseless))});
        group.erase(group.begin() + static_cast<std::ptrdiff_t>(from),
                    group.begin() + static_cast<std::ptrdiff_t>(to));
    }
    return nullptr;
}

void PatternSet::useDatabaseStore(DatabaseStore* store) {
    databaseStore.store(store);
}

PatternSet::~PatternSet() {
    for (hs_database_t* database : databases)
        hs_free_database(database);
}

bool PatternSet::scan(const std::string& text, std::vector<char>& matched, bool stopAtFirst) const {
    if (databases.empty())
        return false;
    hs_scratch_t* scratch = scratchFor(databases, serial);
    if (!scratch) {
        debugLog("pattern set: no memory for vectorscan's scratch space; %d patterns count as "
                 "no match",
                 scannedCount());
        return false;
    }
    // Texts are cut long before this (the first four million characters of a body).
    auto length = static_cast<unsigned>(std::min<std::size_t>(text.size(), UINT_MAX));
    ScanState state{&text, &scanned, &matched,
                    static_cast<int>(std::count(matched.begin(), matched.end(), 0)), stopAtFirst};
    auto scanner = corei7_hs_scan ? corei7_hs_scan : hs_scan;
    for (const hs_database_t* database : databases) {
        hs_error_t rc = scanner(database, text.data(), length, 0, scratch, onScanMatch, &state);
        if (rc != HS_SUCCESS && rc != HS_SCAN_TERMINATED)
            debugLog("pattern set: vectorscan error %d; the patterns it did not report count as "
                     "no match",
                     rc);
        if (state.stopped)
            break;
    }
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
