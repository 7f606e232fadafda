#pragma once

#include <functional>
#include <string>

// printf-style formatting into a 1024-byte buffer: longer results are cut at 1023
// characters, as every caller of the original did.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One diagnostic line (no levels) for the sink, and for standard error when BREVALO_DEBUG=1:
// a terminal or a service's journal shows only real errors unless someone asks.
void debugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whether a debugLog line goes anywhere (standard error or a sink): a line whose arguments
// cost real work is made only then.
bool debugLogWanted();
// A line the person must see without asking (mail that could not be sent, a pattern given up
// on): the sink, and standard error always.
void warningLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A sink that sees every debugLog line (tests record them); empty to remove.
// The sink is called from whatever thread logs.
using LogSink = std::function<void(const std::string&)>;
void setLogSink(LogSink sink);
// Whether debugLog also writes to standard error (by default when BREVALO_DEBUG is "1");
// answers the previous setting.
bool setLogToStderr(bool on);
