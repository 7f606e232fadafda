#pragma once

#include <mutex>
#include <string>
#include <vector>

// Records every debugLog line while it lives (from any thread), and keeps them off
// standard error.
class LogRecorder {
public:
    LogRecorder();
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;
    ~LogRecorder();

    std::vector<std::string> lines() const;
    // Whether a line holds text.
    bool contains(const std::string& text) const;
    // How many lines are exactly line.
    int count(const std::string& line) const;

private:
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    bool wasToStderr = false;
};
