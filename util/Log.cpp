#include "util/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
std::mutex sinkMutex;
LogSink sink;
bool debugAsked() {
    const char* value = std::getenv("BREVALO_DEBUG");
    return value && std::strcmp(value, "1") == 0;
}

bool toStderr = debugAsked();

std::string vformat(const char* format, va_list args) {
    char buffer[1024];
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return {};
    return buffer;
}
} // namespace

std::string formatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    return text;
}

namespace {

void writeLine(const std::string& line, bool always) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (always || toStderr) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    if (sink)
        sink(line);
}

} // namespace

void debugLog(const char* format, ...) {
    // Formatting a line nobody reads costs more than most of what it reports.
    if (!debugLogWanted())
        return;
    va_list args;
    va_start(args, format);
    std::string line = vformat(format, args);
    va_end(args);
    writeLine(line, false);
}

bool debugLogWanted() {
    std::lock_guard<std::mutex> lock(sinkMutex);
    return toStderr || static_cast<bool>(sink);
}

void warningLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = vformat(format, args);
    va_end(args);
    writeLine(line, true);
}

void setLogSink(LogSink newSink) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    sink = std::move(newSink);
}

bool setLogToStderr(bool on) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    bool previous = toStderr;
    toStderr = on;
    return previous;
}
