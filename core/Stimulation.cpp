#include "core/Stimulation.h"

#include "util/Text.h"
#include "core/MatchBudget.h"

namespace {

// What each byte becomes: CR and LF a blank, ".", "!" and "?" a line feed.
struct NormalTable {
    unsigned char to[256];
    NormalTable() {
        for (int c = 0; c < 256; ++c)
            to[c] = static_cast<unsigned char>(c);
        for (unsigned char c : {'\r', '\n'})
            to[c] = ' ';
        for (unsigned char c : {'.', '!', '?'})
            to[c] = '\n';
    }
};

const NormalTable normalTable;

} // namespace

std::string normalizeText(const std::string& text) {
    // The five replace-all steps (CR, LF, ".", "!", "?") each swap one byte for one byte
    // and the line feeds of the last three are never looked at again, so one pass
    // over the bytes gives the same text. One table look-up per byte, no branch: it runs
    // over every byte of every message.
    std::string result(text.size(), '\0');
    const auto* from = reinterpret_cast<const unsigned char*>(text.data());
    auto* to = reinterpret_cast<unsigned char*>(result.data());
    for (std::size_t i = 0; i < text.size(); ++i)
        to[i] = normalTable.to[from[i]];
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
