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
        std::string errorOutput; // standard error, cut at 4 KB
        std::string failure;     // why it could not be started
    };

    static Result run(const std::vector<std::string>& argv, const std::string& input);
};
