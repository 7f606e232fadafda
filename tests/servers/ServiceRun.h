#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

// A program left running while the test talks to it (a server), as the test's own account
// (unlike ProgramRun, which runs as the mail user): its own process group, the test's
// environment, standard output and error read as they come. stop() or the destructor ends
// it and everything it started; a test process that dies takes it along (the parent-death
// signal).
class ServiceRun {
public:
    // Starts it; throws std::runtime_error when it cannot be started.
    explicit ServiceRun(std::vector<std::string> arguments);
    ~ServiceRun();
    ServiceRun(const ServiceRun&) = delete;
    ServiceRun& operator=(const ServiceRun&) = delete;

    // Reads its output until seen(output) holds (true), it closed its output, or the
    // seconds passed (false).
    bool waitFor(const std::function<bool(const std::string&)>& seen, int seconds = 30);
    // What it wrote so far.
    const std::string& output();
    // Sends the signal to its process group, waits for the program, then kills what is
    // left of the group; the exit status, or 128 + the signal that ended it.
    int stop(int signal = SIGTERM);

private:
    // Waits up to the milliseconds for output and appends it; whether there was some.
    bool readSome(int milliseconds);

    pid_t pid = -1;
    int outFd = -1;
    int status = -1;
    std::string text;
};
