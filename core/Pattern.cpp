#include "core/Pattern.h"

#include "util/Log.h"
#include "core/MatchBudget.h"

// The library's 8-bit interface: patterns and texts are bytes.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cctype>
#include <cstdint>
#include <utility>

namespace {

// A call that needs more steps than this is stopped: tens of milliseconds of matching,
// far beyond what any pattern needs on a real message.
constexpr std::uint32_t matchLimit = 1'000'000;
// The interpreter (used when JIT compilation is not possible) keeps its backtracking
// frames on the heap; these bound their nesting and their memory.
constexpr std::uint32_t depthLimit = 10'000;
constexpr std::uint32_t heapLimitKiB = 8 * 1024;
// The JIT code's own stack, one per thread: deep group repetition ends in a limit error
// instead of growing without bound.
constexpr std::size_t jitStackBytes = 1 << 20;
// What our callout returns to end a match whose message spent its time.
constexpr int timeIsUp = PCRE2_ERROR_CALLOUT;

// Match data, context and JIT stack of one thread: PCRE2 lets threads share a compiled
// pattern but not these.
struct MatchSpace {
    pcre2_match_data* data = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* stack = nullptr;

    MatchSpace() {
        data = pcre2_match_data_create(2, nullptr); // the whole match and group 1
        context = pcre2_match_context_create(nullptr);
        stack = pcre2_jit_stack_create(jitStackBytes, jitStackBytes, nullptr);
        pcre2_set_match_limit(context, matchLimit);
        pcre2_set_depth_limit(context, depthLimit);
        pcre2_set_heap_limit(context, heapLimitKiB);
        pcre2_jit_stack_assign(context, nullptr, stack);
    }
    ~MatchSpace() {
        pcre2_jit_stack_free(stack);
        pcre2_match_context_free(context);
        pcre2_match_data_free(data);
    }
    MatchSpace(const MatchSpace&) = delete;
    MatchSpace& operator=(const MatchSpace&) = delete;
};

MatchSpace& threadSpace() {
    thread_local MatchSpace space;
    return space;
}

// Every pattern is compiled with automatic callouts: one before each item, so also at
// every step of backtracking. The JIT's match limit does not count the backtracking of a
// single repeated character: "a.*b|x\1" takes 1.4 s on a line of 60,000 "a" and grows
// with the square of the line, within the limit. The callouts let the message's time
// budget stop such a match. They cost the JIT some of its shortcuts, which matters
// little: the patterns matched here are the few a net's scan cannot take, and the
// highlighting of one message.
int onCallout(pcre2_callout_block*, void* data) {
    return static_cast<MatchBudget*>(data)->spentAfterStep() ? timeIsUp : 0;
}

bool isLimitError(int rc) {
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
           rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
           rc == PCRE2_ERROR_NOMEMORY;
}

std::string errorText(int code) {
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0)
        return "error " + std::to_string(code);
    return reinterpret_cast<const char*>(buffer);
}

// A user's pattern that begins with "*" becomes "(*..." once wrapped: a start-of-pattern
// item or verb. The patterns were written for the PCRE1 library, which knew fewer of them;
// one it rejected must keep failing to compile (and never match) rather than start
// matching. "(*UTF8)" is PCRE1's spelling of PCRE2's "(*UTF)".
std::string asPcre1Did(const std::string& text, bool& rejected) {
    rejected = false;
    if (text.compare(0, 2, "(*") != 0)
        return text;
    if (text == "(*UTF8)")
        return "(*UTF)";
    std::size_t end = 2;
    while (end < text.size() &&
           (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
        ++end;
    std::string name = text.substr(2, end - 2);
    if (name.empty())
        return text;
    bool named = end < text.size() && text[end] == ':';
    rejected = std::islower(static_cast<unsigned char>(name[0])) || // (*pla:...), (*atomic:...)
               name == "NUL" || name == "NOTEMPTY" || name == "NOTEMPTY_ATSTART" ||
               name == "NO_JIT" || name == "NO_DOTSTAR_ANCHOR" || name == "LIMIT_HEAP" ||
               name == "LIMIT_DEPTH" ||
               (named && (name == "ACCEPT" || name == "FAIL" || name == "F" || name == "COMMIT"));
    return text;
}

pcre2_code* compileCode(const std::string& text, std::uint32_t options, std::string& error) {
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(context, PCRE2_NEWLINE_LF);
    pcre2_set_bsr(context, PCRE2_BSR_UNICODE);
    // PCRE1 allowed \K in lookarounds; PCRE2 refuses it unless asked.
    pcre2_set_compile_extra_options(context, PCRE2_EXTRA_ALLOW_LOOKAROUND_BSK);
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.c_str()), PCRE2_ZERO_TERMINATED, options,
                      &errorCode, &errorOffset, context);
    pcre2_compile_context_free(context);
    if (!code)
        error = errorText(errorCode) + " at offset " + std::to_string(errorOffset);
    return code;
}

} // namespace

Pattern::Pattern(std::string patternText, bool caseless)
    : text(std::move(patternText)), caseless(caseless) {
    bool rejected = false;
    std::string compiled = asPcre1Did(text, rejected);
    if (rejected) {
        compileError = "an item the pattern dialect does not have at offset 0";
        return;
    }
    std::uint32_t options = PCRE2_AUTO_CALLOUT | (caseless ? PCRE2_CASELESS : 0);
    code = compileCode(compiled, options, compileError);
    if (!code)
        return;
    // PCRE2 works out a shortest match length that a back reference to an unfinished
    // group (the user's \1 lies inside the wrapping group 1) gets wrong, and then skips
    // texts that match; PCRE1 had no such check. Such patterns match without it.
    std::uint32_t backReferences = 0;
    pcre2_pattern_info(code, PCRE2_INFO_BACKREFMAX, &backReferences);
    if (backReferences > 0) {
        pcre2_code_free(code);
        code = compileCode(compiled, options | PCRE2_NO_START_OPTIMIZE, compileError);
        if (!code)
            return;
    }
}

Pattern::~Pattern() {
    pcre2_code_free(code);
}

int Pattern::captureCount() const {
    if (!code)
        return 0;
    std::uint32_t count = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &count);
    return static_cast<int>(count);
}

int Pattern::minimumLength() const {
    if (!code)
        return 0;
    std::uint32_t length = 0;
    pcre2_pattern_info(code, PCRE2_INFO_MINLENGTH, &length);
    return static_cast<int>(length);
}

FindResult Pattern::find(const std::string& subject, std::size_t offset, PatternMatch& match,
                         MatchBudget& budget) const {
    if (!code || offset > subject.size())
        return FindResult::none; // a pattern that did not compile never matches, silently
    if (budget.spent()) {
        budget.countTimeOut(text);
        return FindResult::gaveUp;
    }
    // Compiled at the first match: a net's set checks every pattern but matches few of
    // them one by one. Where the machine refuses JIT code the interpreter matches, under
    // the same limits.
    std::call_once(jitOnce, [this] { pcre2_jit_compile(code, PCRE2_JIT_COMPLETE); });
    MatchSpace& space = threadSpace();
    pcre2_set_callout(space.context, onCallout, &budget);
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data() + offset),
                         subject.size() - offset, 0, 0, space.data, space.context);
    if (rc == PCRE2_ERROR_NOMATCH)
        return FindResult::none;
    if (rc == timeIsUp) {
        budget.countTimeOut(text);
        return FindResult::gaveUp;
    }
    if (rc < 0) {
        logOnce(rc, budget);
        if (!isLimitError(rc))
            return FindResult::none;
        budget.countLimitHit();
        return FindResult::gaveUp;
    }
    // rc 0 only says that the match data could not take every group: still a match.
    const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(space.data);
    match.end = offset + vector[1];
    match.groupLength = rc != 1 && vector[2] != PCRE2_UNSET ? vector[3] - vector[2] : 0;
    return FindResult::found;
}

void Pattern::logOnce(int errorCode, const MatchBudget& budget) const {
    if (logged.exchange(true))
        return;
    warningLog("pattern '%s': match error %d (%s) on %s, counted as no match; said once for this "
               "pattern",
               text.c_str(), errorCode, errorText(errorCode).c_str(),
               budget.describeMessage().c_str());
}
