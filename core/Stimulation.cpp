#include "core/Stimulation.h"

#include "core/MatchBudget.h"
#include "util/Text.h"

std::string normalizeText(const std::string& text) {
    // The five replace-all steps (CR, LF, ".", "!", "?") each swap one byte for one byte
    // and the line feeds of the last three are never looked at again, so one pass
    // over the bytes gives the same text.
    std::string result = text;
    for (char& c : result) {
        switch (c) {
        case '\r':
        case '\n':
            c = ' ';
            break;
        case '.':
        case '!':
        case '?':
            c = '\n';
            break;
        default:
            break;
        }
    }
    return result;
}

std::string wrapPattern(const std::string& text) {
    return "(" + replaceAll(replaceAll(text, "(", "\\("), ")", "\\)") + ")";
}

bool isCaselessPattern(const std::string& wrapped) {
    return lowerText(wrapped) == wrapped;
}

REPtr compilePattern(const std::string& text) {
    std::string wrapped = wrapPattern(text);
    bool caseless = isCaselessPattern(wrapped);
    return REPtr(new Pattern(std::move(wrapped), caseless));
}

bool patternMatches(const Pattern& pattern, const std::string& normalizedText,
                    MatchBudget& budget) {
    PatternMatch match;
    return pattern.find(normalizedText, 0, match, budget) == FindResult::found;
}

bool patternMatches(const Pattern& pattern, const std::string& normalizedText) {
    MatchBudget budget;
    return patternMatches(pattern, normalizedText, budget);
}

bool anyPatternMatches(const REs& patterns, const std::string& normalizedText,
                       MatchBudget& budget) {
    for (const REPtr& pattern : patterns) {
        if (patternMatches(*pattern, normalizedText, budget))
            return true;
    }
    return false;
}
