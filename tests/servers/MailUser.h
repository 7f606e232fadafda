#pragma once

#include <string>

#include <sys/types.h>

// The account the servers and mail programs of a test run as: the current user, or
// "nobody" when the tests run as root (as in CI), because Dovecot serves no mail to root
// and its login processes refuse to run as root. Files these programs share (a Maildir
// Dovecot serves and brevalo-cli sorts) belong to this account.
struct MailUser {
    std::string name;
    std::string group;
    uid_t uid = 0;
    gid_t gid = 0;

    static const MailUser& get();
    // Whether a child process must change to this account (the tests run as root).
    bool switches() const;
};
