#pragma once

#include "core/REs.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class MatchBudget;
struct hs_database;

// The patterns of every input neuron of a net, compiled together, so that a text is
// matched in one pass however many stimulations there are. Patterns that a multi-pattern
// automaton matches exactly (most of them: words, classes, repeats, anchors) go into
// vectorscan databases (one per patternsPerDatabase patterns, or literalsPerDatabase
// one-word literals), each scanned once per text in time linear in its length. The
// others (back references, lookaround, patterns that can match the empty text, and
// constructs where vectorscan would give another answer than PCRE2) are matched by PCRE2
// one by one, under the limits and the time budget of the message (MatchBudget). Both
// ways give the same answer for every pattern. Immutable once built; shared between
// threads.
class PatternSet {
public:
    enum class Engine {
        best,             // the scan where it is exact, PCRE2 for the rest
        backtrackingOnly, // every pattern by PCRE2 (the reference the scan is tested against)
    };

    // texts[i]: the pattern texts of input neuron i, as the user wrote them.
    explicit PatternSet(const std::vector<std::vector<std::string>>& texts,
                        Engine engine = Engine::best);
    ~PatternSet();
    PatternSet(const PatternSet&) = delete;
    PatternSet& operator=(const PatternSet&) = delete;

    int inputCount() const { return inputs; }
    // One flag per input neuron: whether one of its patterns matches the text (after
    // normalizeText). Patterns given up on count as no match.
    std::vector<char> matchingInputs(const std::string& normalizedText, MatchBudget& budget) const;
    // Whether some input neuron matches; stops at the first match found.
    bool anyMatches(const std::string& normalizedText, MatchBudget& budget) const;

    // How the patterns were placed: scanned together, matched one by one, or never
    // matching (PCRE2 rejects them).
    int scannedCount() const { return static_cast<int>(scanned.size()); }
    int backtrackingCount() const { return static_cast<int>(backtracking.size()); }
    int invalidCount() const { return invalid; }

    // At most this many patterns go into one vectorscan database.
    static constexpr std::size_t patternsPerDatabase = 200;
    // At most this many literals (one-word patterns) go into one database.
    static constexpr std::size_t literalsPerDatabase = 2000;

    // Where compiled databases are kept between processes: a command that runs once per
    // message would compile the same patterns at every start. key names everything a
    // compilation depends on (the platform, each pattern's id, flags and expression);
    // load answers a database compiled from exactly that, or null.
    class DatabaseStore {
    public:
        virtual ~DatabaseStore() = default;
        virtual hs_database* load(const std::string& key) = 0;
        virtual void save(const std::string& key, const hs_database* database) = 0;
    };
    // The store for the sets built from now on in this process (null: none, the default).
    static void useDatabaseStore(DatabaseStore* store);

    // A pattern of the scan, by its id: whose it is and, for a literal scanned in place
    // of "\bliteral\b", which word boundaries to check around its length.
    struct Scanned {
        int input;
        bool boundaryBefore = false;
        bool boundaryAfter = false;
        unsigned length = 0;
    };

private:
    struct Backtracking {
        int input;
        REPtr pattern;
    };
    struct Candidate {
        Scanned scan;
        std::string expression; // what the scan compiles
        std::string wrapped;    // the pattern itself, for PCRE2 should the scan refuse it
        bool caseless;
    };

    // One database for the group; the patterns vectorscan refuses go to the backtracking
    // list instead. Null when none is left.
    hs_database* compileDatabase(std::vector<Candidate>& group);
    // Marks the inputs of the scanned patterns that match; true when the scan stopped at
    // the first match because stopAtFirst asked for it.
    bool scan(const std::string& text, std::vector<char>& matched, bool stopAtFirst) const;
    bool matchBacktracking(const std::string& text, std::vector<char>& matched, MatchBudget& budget,
                           bool stopAtFirst) const;

    int inputs = 0;
    int invalid = 0;
    std::vector<Backtracking> backtracking; // in input order
    std::vector<Scanned> scanned;           // by id
    std::vector<hs_database*> databases;
    std::uint64_t serial; // tells a thread's scratch space which set it was made for
};
