#include "tests/support/LogRecorder.h"

#include "util/Log.h"

#include <algorithm>

LogRecorder::LogRecorder() {
    wasToStderr = setLogToStderr(false);
    setLogSink([this](const std::string& line) {
        std::lock_guard<std::mutex> guard(mutex);
        recorded.push_back(line);
    });
}

LogRecorder::~LogRecorder() {
    setLogSink({});
    setLogToStderr(wasToStderr);
}

std::vector<std::string> LogRecorder::lines() const {
    std::lock_guard<std::mutex> guard(mutex);
    return recorded;
}

bool LogRecorder::contains(const std::string& text) const {
    std::vector<std::string> all = lines();
    return std::any_of(all.begin(), all.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

int LogRecorder::count(const std::string& line) const {
    std::lock_guard<std::mutex> guard(mutex);
    return static_cast<int>(std::count(recorded.begin(), recorded.end(), line));
}
