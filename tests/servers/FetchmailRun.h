#pragma once

#include "tests/servers/ScratchFolder.h"

#include <map>
#include <string>

class DovecotServer;

// fetchmail fetching the user's mail from a DovecotServer (POP3 or IMAP, plain text) and
// handing every message to a delivery command on its standard input, as its "mda" option
// does for a transfer agent; messages are removed from the server once the command
// exits 0. The configuration lives in a scratch folder; run() runs fetchmail once as the
// mail user.
class FetchmailRun {
public:
    // Empty when fetchmail is installed, else what is missing.
    static std::string missing();

    // mda: the command line fetchmail runs per message through /bin/sh (fetchmail's %F
    // and %T give the envelope sender and recipient).
    FetchmailRun(const DovecotServer& server, const std::string& mda,
                 const std::string& protocol = "POP3");

    // A variable fetchmail runs with, and so the mda command too.
    FetchmailRun& set(const std::string& variable, const std::string& value);

    // fetchmail's exit status: 0 mail was fetched, 1 there was none, others are failures
    // (fetchmail(1), "EXIT CODES"); its output in output().
    int run();
    const std::string& output() const { return text; }
    const std::string& configuration() const { return config; }

private:
    ScratchFolder scratch;
    std::string config;
    std::string configPath;
    std::string text;
    std::map<std::string, std::string> variables;
};
