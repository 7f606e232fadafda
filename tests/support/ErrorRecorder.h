#pragma once

#include "util/ErrorReport.h"

#include <mutex>
#include <string>
#include <vector>

// Records every error report ("caption: text") while it lives, instead of showing it;
// puts the reporter before it back at the end.
class ErrorRecorder {
public:
    ErrorRecorder();
    ErrorRecorder(const ErrorRecorder&) = delete;
    ErrorRecorder& operator=(const ErrorRecorder&) = delete;
    ~ErrorRecorder();

    std::vector<std::string> texts() const;

private:
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    ErrorReporter previous;
};
