#pragma once

#include "tests/servers/ScratchFolder.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <sys/types.h>

// A real Dovecot serving IMAP and POP3 on loopback for one throw-away user, started by
// the constructor and stopped by the destructor (or stop()) whatever the test did; a
// test process that dies takes it along (the parent-death signal).
//   - Ports: free ones picked at start (imapPort(), pop3Port()); plain text, no TLS.
//   - User: user / password below, from a passwd-file; the mail is the Maildir++ store
//     maildir() (made by Dovecot at the first login when missing), INBOX at its root.
//   - Configuration: a throw-away file in a scratch folder of its own, outside Dovecot's
//     base_dir (Dovecot puts a link named after the file there); nothing of the
//     machine's own Dovecot (/etc/dovecot, /var/lib/dovecot, /run/dovecot) is read or used.
//   - Account: Dovecot runs as the mail user (MailUser: the current user, or "nobody"
//     when the tests run as root, as Dovecot serves no mail to root); so every file of the
//     served Maildir must be the mail user's (ScratchFolder, ProgramRun run as that user).
//   - Log: Dovecot logs to the pipe this object reads (log()); a start that fails throws
//     std::runtime_error with the log.
class DovecotServer {
public:
    static constexpr const char* user = "brevalo";
    static constexpr const char* password = "brevalo-test-secret";

    // Empty when Dovecot with IMAP and POP3 is installed, else what is missing (the tests
    // skip then, with that message).
    static std::string missing();

    // Serves maildir; empty: a fresh one in the server's own scratch folder.
    explicit DovecotServer(const std::string& maildir = {});
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    int imapPort() const { return imap; }
    int pop3Port() const { return pop3; }
    const std::string& maildir() const { return mailPath; }
    // Everything Dovecot logged so far.
    std::string log() const;
    // Stops Dovecot and waits until it is gone (done by the destructor otherwise).
    void stop();

private:
    bool start(); // false when a port was taken meanwhile (try again with others)
    std::string configuration() const;

    ScratchFolder scratch;
    std::string mailPath;
    int imap = 0, pop3 = 0;
    pid_t master = -1;
    int logFd = -1;
    int wakeFd[2] = {-1, -1};
    std::thread reader;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string logText;
    bool logClosed = false;
};
