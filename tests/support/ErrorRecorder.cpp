#include "tests/support/ErrorRecorder.h"

ErrorRecorder::ErrorRecorder() {
    previous = setErrorReporter([this](const std::string& caption, const std::string& text) {
        std::lock_guard<std::mutex> guard(mutex);
        recorded.push_back(caption + ": " + text);
    });
}

ErrorRecorder::~ErrorRecorder() {
    setErrorReporter(previous);
}

std::vector<std::string> ErrorRecorder::texts() const {
    std::lock_guard<std::mutex> guard(mutex);
    return recorded;
}
