#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

class MatchBudget;
struct pcre2_real_code_8;

// A match found by Pattern::find: where it ends in the text and how long capture group 1
// (the whole user pattern) is.
struct PatternMatch {
    std::size_t end = 0;
    std::size_t groupLength = 0;
};

enum class FindResult {
    found,
    none,   // no match (also: a pattern in error state, a match error)
    gaveUp, // a limit or the message's time budget stopped the search: counts as no match
};

// One regular expression compiled by PCRE2, matched on bytes (no UTF mode), line feed
// as the only newline, with JIT compilation (at its first match, where the machine
// allows it). Matching runs
// under a fixed match limit, depth and heap limits and a JIT stack of fixed size, and
// reports its steps to the message's MatchBudget, so no call runs on for long. Compiled
// patterns are shared between threads; each thread matches with its own match data.
class Pattern {
public:
    // The text as PCRE2 reads it (no dialect steps here: see compilePattern); it ends at
    // its first zero byte. A text PCRE2 rejects gives a pattern in error state.
    Pattern(std::string text, bool caseless);
    ~Pattern();
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    const std::string& pattern() const { return text; }
    bool isCaseless() const { return caseless; }
    // Empty when the pattern compiled; PCRE2's reason otherwise.
    const std::string& error() const { return compileError; }
    bool isValid() const { return code != nullptr; }
    // Capturing groups of the compiled pattern; 0 in error state.
    int captureCount() const;
    // A length every match has at least (0 when the pattern may match the empty text,
    // when PCRE2 could not work it out, and in error state).
    int minimumLength() const;

    // The first match in the rest of the text from offset on, the rest taken as a text of
    // its own (as a find-and-consume scan does: "^" matches at offset). A pattern stopped
    // by a limit is logged once in its life (not once per message) and counted in the
    // budget; one stopped by the budget's time is counted and logged by the budget.
    FindResult find(const std::string& text, std::size_t offset, PatternMatch& match,
                    MatchBudget& budget) const;

private:
    void logOnce(int errorCode, const MatchBudget& budget) const;

    std::string text;
    bool caseless;
    pcre2_real_code_8* code = nullptr;
    std::string compileError;
    mutable std::once_flag jitOnce;
    mutable std::atomic<bool> logged{false};
};
