#pragma once

#include "tests/servers/ServiceRun.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// "brevalo-cli lmtp" started by a test, listening on a unix socket in a folder of the
// test's: as the mail user (MailUser: the service of that one user) or, when asRoot, as
// root (the service of every user). start() returns once it listens; kill() ends it with
// SIGKILL, stop() with SIGTERM (its exit status). Its standard error is kept (output()).
// The destructor kills what is still running.
class LmtpService {
public:
    LmtpService(std::string socketPath, std::vector<std::string> options, bool asRoot = false);
    ~LmtpService();
    LmtpService(const LmtpService&) = delete;
    LmtpService& operator=(const LmtpService&) = delete;

    LmtpService& set(const std::string& variable, const std::string& value);
    // Throws std::runtime_error (with its output) when it does not come to listen.
    void start();
    void kill();
    int stop();
    const std::string& socket() const { return path; }
    std::string output();

private:
    std::string path;
    std::vector<std::string> options;
    bool asRoot;
    std::map<std::string, std::string> variables;
    std::unique_ptr<ServiceRun> run;
    std::string text; // what the runs before this one wrote
};
