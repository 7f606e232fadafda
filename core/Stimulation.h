#pragma once

#include "core/REs.h"

#include <string>

// The two levels of an input or a target: a matching stimulation (an assigned folder)
// and a non-matching one (any other folder).
constexpr double levelHigh = 0.95;
constexpr double levelLow = 0.05;

// One line per sentence: CR and LF become blanks, then ".", "!" and "?" become line
// feeds. Patterns therefore never see a full stop, and "." never crosses a sentence end.
std::string normalizeText(const std::string& text);

// Compiles one pattern text as the user wrote it: parentheses are literal, the whole
// pattern is capture group 1, and it is caseless unless it holds an ASCII capital.
// A pattern PCRE rejects is returned in its error state (it never matches).
REPtr compilePattern(const std::string& text);

// A match found by findPattern: where it ends in the text and how long capture group 1
// (the whole user pattern) is.
struct PatternMatch {
    std::size_t end = 0;
    std::size_t groupLength = 0;
};

// The first match in the rest of the text from offset on, the rest taken as a text of its
// own (as a find-and-consume scan does: "^" matches at offset). False when there is none,
// when the pattern is in error state, and when PCRE gives up on the match (match or
// recursion limit), which is logged: a user's pattern never hangs or crashes a caller.
bool findPattern(const pcrecpp::RE& pattern, const std::string& text, std::size_t offset,
                 PatternMatch& match);

// Unanchored match of an already normalised text. A pattern in error state never
// matches; a match that PCRE gives up on (match or recursion limit) counts as no match
// and is logged.
bool patternMatches(const pcrecpp::RE& pattern, const std::string& normalizedText);

// Whether one of the patterns matches the already normalised text (patternMatches).
bool anyPatternMatches(const REs& patterns, const std::string& normalizedText);
