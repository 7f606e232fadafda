#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

// What the fuzz targets share: a broken invariant stops the run with its name, and each
// target works in a folder of its own (in memory where there is room).

inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// A fresh folder "brevalo-fuzz-<tag>-XXXXXX" in /dev/shm, else /tmp.
inline std::string workFolder(const char* tag) {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += std::string("/brevalo-fuzz-") + tag + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}
