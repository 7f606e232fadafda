#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// The backtracking work one message may cost. Patterns that need a backtracking matcher
// can take time that grows with the square (or worse) of a message's length, so each
// call runs under a fixed match limit and all calls for one message share a time budget.
// A pattern given up on (a limit hit, or the time spent) counts as no match for that
// message. One budget belongs to one message on one thread.
class MatchBudget {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The time all backtracking patterns together may take on one message.
    static constexpr std::chrono::milliseconds defaultTime{50};

    // messageName names the message in log lines (a subject, a file name; may be empty).
    // An empty clock is the steady clock; tests pass one of their own.
    explicit MatchBudget(std::string messageName = {},
                         std::chrono::steady_clock::duration time = defaultTime, Clock clock = {});

    const std::string& messageName() const { return name; }
    // "message 'NAME'" for log lines, or "a text" when the budget has no name.
    std::string describeMessage() const;

    // Whether the time is spent; reads the clock until it is, then stays spent.
    bool spent();
    // The same, reading the clock only every so many calls: for the matcher's callouts,
    // which come once per step of a match.
    bool spentAfterStep();

    // A pattern counted as no match because a limit stopped it (logged by the caller).
    void countLimitHit();
    // The time ran out at this pattern: it and the patterns after it count as no match.
    // Logs one line for the message (the first time only); each call counts one pattern.
    void countTimeOut(const std::string& pattern);

    // Patterns given up on for this message, by a limit or by the time.
    int givenUp() const { return given; }
    // The same over every budget of the process (its own statistics, and for tests that
    // cannot reach the budget a caller made).
    static std::int64_t totalGivenUp();

private:
    std::chrono::steady_clock::time_point now() const;

    std::string name;
    Clock clock;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::duration time;
    unsigned steps = 0;
    bool isSpent = false;
    bool timeOutLogged = false;
    int given = 0;
};
