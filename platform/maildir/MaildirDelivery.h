#pragma once

#include "platform/Result.h"

#include <string>
#include <string_view>
#include <vector>

// Delivers one message into one or more maildirs, all of them or none, in two steps so
// that a caller can do what must happen before the message shows (send mail for it)
// between them:
//   write():  (after removing what a killed delivery left in the folders' tmp/ over 36
//             hours ago) the message goes once under a fresh unique name into the first folder's
//             tmp/ and is fsynced, then is hard-linked (or, across file systems, written
//             again and fsynced) into every other folder's tmp/;
//   commit(): each is renamed into its folder's new/ and every new/ is fsynced. Only then
//             is the delivery done: every file and its folder entry are on disk.
// A failure at any step, or an object destroyed before its commit, takes back what was
// done (the files already in a new/ and every file in a tmp/), so no folder keeps a partial
// message or a part of the set: the transfer agent keeps the message and tries again.
// Nothing here knows the store's ids: a program that lists a folder gives the message its
// id at first sight, as for any delivery agent's mail, and a sorter watching new/ sees it
// arrive complete (a rename, never a file being written).
class MaildirDelivery {
public:
    // folders: maildir paths (each with tmp/ and new/), at least one.
    explicit MaildirDelivery(std::vector<std::string> folders);
    ~MaildirDelivery();
    MaildirDelivery(const MaildirDelivery&) = delete;
    MaildirDelivery& operator=(const MaildirDelivery&) = delete;

    HRESULT write(std::string_view bytes);
    HRESULT commit();

    // "call(path) failed: reason" after a failed step.
    const std::string& failure() const { return failureText; }
    // The delivered files, one per folder in the folders' order, after the commit.
    const std::vector<std::string>& files() const { return placed; }

private:
    HRESULT fail(const std::string& call);
    HRESULT writeNewFile(const std::string& path, std::string_view bytes);
    void takeBack();

    std::vector<std::string> folders;
    std::string name;
    std::vector<std::string> tmpFiles, placed;
    std::string failureText;
    bool committed = false;
};
