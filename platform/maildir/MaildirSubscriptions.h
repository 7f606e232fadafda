#pragma once

#include "platform/Result.h"

#include <chrono>
#include <string>

// The folders IMAP clients list: the "subscriptions" file at the store root, which Dovecot
// keeps for a Maildir++ store it serves. The store adds every folder it creates, so that
// mail programs reading the store through Dovecot show it.
// Dovecot's format (version 2): "V\t2\n\n", then one folder per line, its levels (the
// components of its directory name, as they are on disk) separated by tabs. A file
// without that header is the first version: one folder per line, levels separated by ".".
// The file is changed the way Dovecot changes it: the dotlock "subscriptions.lock" is
// created with O_EXCL, the whole new content written into it and fsynced, and the lock
// renamed over the file (a reader sees the old or the new file). A lock someone else holds
// is waited on briefly and never broken: one that stays is Dovecot's to clear.
class MaildirSubscriptions {
public:
    static constexpr const char* fileName = "subscriptions";

    // A lock not changed for this long is left alone at once (its holder is gone).
    static constexpr std::chrono::seconds staleLock{30};

    explicit MaildirSubscriptions(std::string root,
                                  std::chrono::milliseconds lockWait = std::chrono::seconds(2));

    // Subscribes the folder with this directory name (".A.B"). S_OK when it is in the file
    // now or was already; a failure (logged) when the file could not be read or written,
    // has a version this code does not know, or the lock stayed held.
    HRESULT add(const std::string& dirName) const;

private:
    std::string root;
    std::chrono::milliseconds lockWait;
};
