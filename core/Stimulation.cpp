#include "core/Stimulation.h"

#include "util/Log.h"
#include "util/Text.h"

#include <pcre.h>

#include <climits>

namespace {

// pcrecpp turns every match error into a plain "no match" and keeps the compiled
// pattern private, so the error could neither be told apart nor logged. The compiled
// unanchored pattern is reached through the one door the language leaves open: an
// explicit instantiation may name a private member.
struct PartialPattern {
    using type = pcre* pcrecpp::RE::*;
    friend type memberOf(PartialPattern);
};

template <class Tag, typename Tag::type member> struct MemberAccess {
    friend typename Tag::type memberOf(Tag) { return member; }
};

template struct MemberAccess<PartialPattern, &pcrecpp::RE::re_partial_>;

// PCRE recurses on the machine stack, about one frame per repetition of a group, and
// its default recursion limit lets a long message overflow any thread's stack. Keeping
// the depth within 1 MB of stack turns that crash into a match error.
constexpr long recursionBudget = 1L << 20;

unsigned long recursionLimit() {
    static const unsigned long limit = [] {
        int onStack = 0;
        pcre_config(PCRE_CONFIG_STACKRECURSE, &onStack);
        if (!onStack)
            return 0UL;
        // These special arguments make pcre_exec return minus the size of one frame.
        int frame = -pcre_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0);
        if (frame <= 0)
            frame = 1024;
        return static_cast<unsigned long>(recursionBudget / frame);
    }();
    return limit;
}

} // namespace

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

REPtr compilePattern(const std::string& text) {
    std::string wrapped = "(" + replaceAll(replaceAll(text, "(", "\\("), ")", "\\)") + ")";
    // Any ASCII capital, escapes included (\S, \W, \D), makes the pattern case-sensitive.
    int options = lowerText(wrapped) == wrapped ? PCRE_CASELESS : 0;
    pcrecpp::RE_Options reOptions(options);
    reOptions.set_match_limit(0);
    return REPtr(new pcrecpp::RE(wrapped, reOptions));
}

bool findPattern(const pcrecpp::RE& pattern, const std::string& text, std::size_t offset,
                 PatternMatch& match) {
    const pcre* code = pattern.*memberOf(PartialPattern{});
    if (!code || offset > text.size())
        return false; // a pattern that did not compile never matches, silently
    std::size_t length = text.size() - offset;
    if (length > static_cast<std::size_t>(INT_MAX)) {
        debugLog("pattern '%s': text of %zu bytes too long to match, counted as no match",
                 pattern.pattern().c_str(), length);
        return false;
    }
    pcre_extra extra{};
    unsigned long limit = recursionLimit();
    if (limit) {
        extra.flags = PCRE_EXTRA_MATCH_LIMIT_RECURSION;
        extra.match_limit_recursion = limit;
    }
    int vector[6];
    int rc =
        pcre_exec(code, &extra, text.data() + offset, static_cast<int>(length), 0, 0, vector, 6);
    if (rc < 0) {
        if (rc != PCRE_ERROR_NOMATCH)
            debugLog("pattern '%s': match error %d, counted as no match", pattern.pattern().c_str(),
                     rc);
        return false;
    }
    // rc 0 only says that the vector could not take every group: still a match.
    match.end = offset + static_cast<std::size_t>(vector[1]);
    match.groupLength =
        rc >= 2 && vector[2] >= 0 ? static_cast<std::size_t>(vector[3] - vector[2]) : 0;
    return true;
}

bool patternMatches(const pcrecpp::RE& pattern, const std::string& normalizedText) {
    PatternMatch match;
    return findPattern(pattern, normalizedText, 0, match);
}

bool anyPatternMatches(const REs& patterns, const std::string& normalizedText) {
    for (const REPtr& pattern : patterns) {
        if (patternMatches(*pattern, normalizedText))
            return true;
    }
    return false;
}
