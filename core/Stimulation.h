#pragma once

#include "core/REs.h"

#include <string>

class MatchBudget;

// The two levels of an input or a target: a matching stimulation (an assigned folder)
// and a non-matching one (any other folder).
constexpr double levelHigh = 0.95;
constexpr double levelLow = 0.05;

// One line per sentence: CR and LF become blanks, then ".", "!" and "?" become line
// feeds. Patterns therefore never see a full stop, and "." never crosses a sentence end.
std::string normalizeText(const std::string& text);

// A pattern text as the user wrote it, as the regular expression it stands for:
// parentheses are literal and the whole pattern is capture group 1.
std::string wrapPattern(const std::string& text);
// The case rule of a wrapped pattern: caseless unless it holds an ASCII capital
// (escapes such as \S and \W included).
bool isCaselessPattern(const std::string& wrapped);

// Compiles one pattern text as the user wrote it (wrapPattern, isCaselessPattern). A
// pattern PCRE2 rejects is returned in its error state (it never matches).
REPtr compilePattern(const std::string& text);

// Unanchored match of an already normalised text. A pattern in error state never
// matches; a match given up on (a limit, or the budget's time) counts as no match. The
// form without a budget gives the call a budget of its own.
bool patternMatches(const Pattern& pattern, const std::string& normalizedText, MatchBudget& budget);
bool patternMatches(const Pattern& pattern, const std::string& normalizedText);

// Whether one of the patterns matches the already normalised text (patternMatches), all
// under the one budget.
bool anyPatternMatches(const REs& patterns, const std::string& normalizedText, MatchBudget& budget);
