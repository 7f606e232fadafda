#pragma once

#include "platform/profile/ProfileCache.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <sys/stat.h>
#include <time.h>

// Waits for the moment the file's last change (its change time, which only the kernel
// sets) is old enough for a parsed copy to be trusted on its stat alone.
inline void waitUntilSettled(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return;
    auto nanos = [](const timespec& t) {
        return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
    std::int64_t settled =
        std::max(nanos(info.st_mtim), nanos(info.st_ctim)) + ProfileCache::racyWindow + 1;
    timespec at{static_cast<time_t>(settled / 1'000'000'000),
                static_cast<long>(settled % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}
