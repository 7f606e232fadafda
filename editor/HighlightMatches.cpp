#include "editor/HighlightMatches.h"

#include "util/Text.h"
#include "core/MatchBudget.h"
#include "core/Stimulation.h"

#include <cstring>
#include <vector>

namespace {

// Find and consume: search the rest of the text for the next match, mark from the end of
// the match back over the length of the first group, go on after the match. A failed
// search (or one given up on under the budget) ends the scan.
void markMatches(const Pattern& pattern, const std::string& norm, std::vector<char>& marks,
                 MatchBudget& budget) {
    std::size_t offset = 0;
    PatternMatch match;
    while (pattern.find(norm, offset, match, budget) == FindResult::found) {
        offset = match.end;
        if (match.groupLength == 0) {
            // Nothing to mark, and consuming nothing would find the same match again.
            if (offset >= norm.size())
                return;
            ++offset;
            continue;
        }
        for (std::size_t i = match.end - match.groupLength; i < match.end; ++i)
            marks[i] = 1;
    }
}

void appendEscaped(std::string& document, const std::string& text, std::size_t from,
                   std::size_t to) {
    static const char hex[] = "0123456789abcdef";
    for (std::size_t i = from; i < to; ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\' || byte == '{' || byte == '}') {
            document += '\\';
            document += static_cast<char>(byte);
        } else if (byte > 127) {
            document += "\\'";
            document += hex[byte >> 4];
            document += hex[byte & 15];
        } else {
            document += static_cast<char>(byte);
        }
    }
}

} // namespace

std::string highlightMatches(const std::string& text, const REs& expressions) {
    MatchBudget budget;
    return highlightMatches(text, expressions, budget);
}

std::string highlightMatches(const std::string& given, const REs& expressions,
                             MatchBudget& budget) {
    std::string text = given.substr(0, std::strlen(given.c_str()));
    std::size_t n = text.size();
    std::vector<char> marks(n, 0);
    std::string norm = normalizeText(text);
    for (const REPtr& expression : expressions) {
        if (expression)
            markMatches(*expression, norm, marks, budget);
    }

    std::string document = "{\\rtf1{\\colortbl ;\\red255\\green0\\blue0;}";
    std::size_t pos = 0;
    while (pos < n) {
        std::size_t s = pos;
        while (s < n && !marks[s])
            ++s;
        if (s == n)
            break;
        appendEscaped(document, text, pos, s);
        std::size_t e = s;
        while (e < n && marks[e])
            ++e;
        document += "\\highlight1 ";
        appendEscaped(document, text, s, e);
        document += "\\highlight0 ";
        pos = e;
    }
    appendEscaped(document, text, pos, n);
    document += "}";
    return replaceAll(document, "\r\n", "\\par ");
}
