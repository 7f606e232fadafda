#include "core/MatchBudget.h"

#include "util/Log.h"

#include <atomic>
#include <utility>

namespace {

std::atomic<std::int64_t> allGivenUp{0};

// A step of a match costs some nanoseconds; reading the clock every 64 steps keeps the
// clock's share small and still notices the end of the budget within microseconds.
constexpr unsigned stepsPerClockRead = 64;

} // namespace

MatchBudget::MatchBudget(std::string messageName, std::chrono::steady_clock::duration time,
                         Clock clock)
    : name(std::move(messageName)), clock(std::move(clock)), time(time) {
    start = now();
}

std::chrono::steady_clock::time_point MatchBudget::now() const {
    return clock ? clock() : std::chrono::steady_clock::now();
}

bool MatchBudget::spent() {
    if (!isSpent)
        isSpent = now() - start >= time;
    return isSpent;
}

bool MatchBudget::spentAfterStep() {
    if (isSpent)
        return true;
    if (++steps % stepsPerClockRead != 0)
        return false;
    return spent();
}

void MatchBudget::countLimitHit() {
    ++given;
    ++allGivenUp;
}

void MatchBudget::countTimeOut(const std::string& pattern) {
    isSpent = true;
    ++given;
    ++allGivenUp;
    if (timeOutLogged)
        return;
    timeOutLogged = true;
    warningLog(
        "matching %s took its %lld ms for backtracking patterns: pattern '%s' and the "
        "patterns after it count as no match",
        describeMessage().c_str(),
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(time).count()),
        pattern.c_str());
}

std::string MatchBudget::describeMessage() const {
    return name.empty() ? "a text" : "message '" + name + "'";
}

std::int64_t MatchBudget::totalGivenUp() {
    return allGivenUp.load();
}
