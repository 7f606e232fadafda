#pragma once

#include <map>
#include <string>
#include <vector>

// One run of a program the way a person or a mail server starts it: its own process,
// the test's environment plus the given variables, standard input from a text, standard
// output and error together in output(); as the mail user (MailUser) when the tests run
// as root. Waits for the program to end: a hanging program hangs the test until CTest's
// timeout, which names it.
class ProgramRun {
public:
    explicit ProgramRun(std::vector<std::string> arguments);

    ProgramRun& set(const std::string& variable, const std::string& value);
    ProgramRun& input(std::string text);
    ProgramRun& in(std::string workingFolder);

    // Runs it; the exit status, or 128 + the signal that ended it (-1 when it could not
    // be started at all: output() says why).
    int run();
    const std::string& output() const { return text; }
    // "<command line>: exit <status>\n<output>" for failure messages.
    std::string report() const;

    // The program's path found in PATH and the system folders; empty when not installed.
    static std::string find(const std::string& name);

private:
    std::vector<std::string> arguments;
    std::map<std::string, std::string> variables;
    std::string stdinText;
    std::string folder;
    std::string text;
    int status = -1;
};
