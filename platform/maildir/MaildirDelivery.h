#pragma once

#include "platform/Result.h"

#include <functional>
#include <memory>
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
//
// A set of two or more folders is also all or nothing across a kill between its renames:
// with a record maildir and a key (a digest of the message), commit() first writes a
// record into the record maildir's tmp/ ("set.<key>.<name>": the name, every folder and
// its label), synced with its folder and held under an exclusive lock, and it stays until
// finish(). A later delivery of the same key takes such a set over (takeOver) and only
// renames what is still in a tmp/: the transfer agent's retry completes the set and adds
// no second copy. A record is not a "delivered" mark that swallows the same message sent
// again: each is used up by the one run that ends it. Records older than a day are left
// to the 36-hour sweep of tmp/ (their tmp/ files could be swept first).
class SyncGroup;

class MaildirDelivery {
public:
    // folders: maildir paths (each with tmp/ and new/), at least one.
    explicit MaildirDelivery(std::vector<std::string> folders);
    // labels: what the caller calls each folder, kept in the record; recordMaildir: the
    // maildir whose tmp/ holds the record; key: names the message (no "/"), needed only
    // for two or more folders (one folder writes no record).
    MaildirDelivery(std::vector<std::string> folders, std::vector<std::string> labels,
                    std::string recordMaildir, std::string key);
    // The set a killed delivery with this key left recorded, locked and ready for
    // commit() (write() is not called); null when there is none. The key is asked for
    // only when the record maildir's tmp/ holds a record of any message. A set another
    // run holds is waited for; with busy given, it is not: *busy is set instead (a
    // service's thread may hold it itself until its reply is sent).
    static std::unique_ptr<MaildirDelivery> takeOver(const std::string& recordMaildir,
                                                     const std::function<std::string()>& key,
                                                     bool* busy = nullptr);
    // Ends a committed delivery: its record goes, so that the same message delivered
    // again is a new delivery. Call it after noting the delivery (the journal): a kill
    // before that leaves the record for the retry. Done by the destructor otherwise.
    void finish();
    ~MaildirDelivery();
    MaildirDelivery(const MaildirDelivery&) = delete;
    MaildirDelivery& operator=(const MaildirDelivery&) = delete;

    HRESULT write(std::string_view bytes);
    HRESULT commit();
    // write() syncs the files and commit() the new/ folders together with the deliveries
    // other threads make at the same time (SyncGroup), rather than one by one. Before
    // write().
    void syncWith(SyncGroup* group) { syncGroup = group; }
    // A delivery into one folder keeps a record too, unsynced: it guards only against a
    // kill between the rename and the reply (a service's), so that the retry of a
    // message whose reply never went out completes it rather than delivering it twice.
    // After a power loss a retry may deliver it again; it is never lost. Before commit().
    void recordEvenOne() { recordOne = true; }
    // Ends a committed delivery whose outcome may not have reached the transfer agent
    // (the connection broke): its record stays for the retry to take over.
    void leaveForRetry();

    // "call(path) failed: reason" after a failed step.
    const std::string& failure() const { return failureText; }
    // The delivered files, one per folder in the folders' order, after the commit.
    const std::vector<std::string>& files() const { return placed; }
    // The folders' labels (as given, or as a taken-over set's record holds them).
    const std::vector<std::string>& folderLabels() const { return labels; }

private:
    MaildirDelivery() = default;
    HRESULT fail(const std::string& call);
    HRESULT writeNewFile(const std::string& path, std::string_view bytes);
    HRESULT writeRecord();
    bool readRecord(const std::string& text);
    void takeBack();
    void joinGroup();

    std::vector<std::string> folders, labels;
    std::string name;
    std::vector<std::string> tmpFiles, placed;
    std::string failureText;
    bool committed = false;
    std::string recordMaildir, key, recordPath;
    int recordFd = -1;
    // A taken-over set: what a failure leaves stays for the next try, as its record says.
    bool takenOver = false;
    SyncGroup* syncGroup = nullptr;
    bool inGroup = false; // entered syncGroup, not yet synced or left
    bool recordOne = false;
    bool recordSynced = true;
};
