#pragma once

#include <string>
#include <vector>

// Runs a program with the given standard input and collects its exit status and
// standard error. No shell is involved.
class ChildProcess {
public:
    struct Result {
        bool started = false;
        int exitStatus = -1; // -1 when killed by a signal
        int signal = 0;
        bool timedOut = false; // killed (with its process group) at the time limit
        // It ended, but how is not known (the kernel reaped it: SIGCHLD was ignored).
        bool statusUnknown = false;
        std::string errorOutput; // standard error, cut at 4 KB
        std::string failure;     // why it could not be started
    };

    // inputFd is the program's standard input as it is (a file the caller wrote in full
    // and rewound). The program runs in a process group of its own; after timeLimitSeconds
    // (none when 0 or less) the whole group is killed with SIGKILL.
    static Result run(const std::vector<std::string>& argv, int inputFd, int timeLimitSeconds);
};
