#pragma once

#include "core/REs.h"

#include <string>

class MatchBudget;

// The message view of the configuration window: the text as a small RTF document in
// which every passage one of the expressions matches (on the text after normalizeText)
// is highlighted with colour 1, pure red. The text ends at its first zero byte. Its
// backslashes and braces are escaped and bytes above 127 written as \'xx, so any message
// gives a sound document; CR LF pairs become "\par ". A zero-length match marks nothing.
// All find calls of all expressions share one match budget (MatchBudget): once it is
// spent the remaining matches are not marked. The form without a budget gives the text
// one of its own.
std::string highlightMatches(const std::string& text, const REs& expressions);
std::string highlightMatches(const std::string& text, const REs& expressions, MatchBudget& budget);
