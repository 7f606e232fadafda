#pragma once

#include "platform/Store.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One message file of a folder as the last sync saw it.
struct MaildirMessage {
    MESSAGEID id = 0;
    std::string subdir;   // "new" or "cur"
    std::string fileName; // "<unique base>[:2,<flags>]"
};

// A file named by an inotify event in new/ or cur/.
struct MaildirEvent {
    std::string subdir;
    std::string fileName;
    bool movedAway = false; // IN_MOVED_FROM
};

// The message ids of one folder, kept in "brevalo-uidlist" in the folder's directory.
// An id is given in order of first sight and never again (the next id only grows); it
// belongs to the unique base name, so it survives a move from new/ to cur/ and any flag
// change by another program.
//
// The file is a journal, so that one arrival, copy or deletion costs one short append
// instead of a rewrite of the whole list:
//   brevalo-uidlist 2 <next id>
//   a <checksum> <id> <unique base name>     the id is given to that message
//   d <checksum> <id>                        the message is gone, its id stays used
// (the checksum: 8 hex digits of FNV-1a over the text after it). Lines of the first
// version ("<id> <base>") are read too. Records are appended under the lock
// (MaildirIdFile's flock) and fsynced before an id is handed out (a copy's record waits
// for the next sync(), syncNamed() or refresh() of any process: lost in a crash before,
// its id was never seen, and the file gets a fresh one); a reader takes complete
// lines only, and checks their sums, so a torn last line from a crash is ignored (the
// next writer cuts it off). An ignored record can never cause a reused id: the next id
// is above every id of every record and of the header. When the records outnumber the
// live ids by far, the file is rewritten whole (atomically, as a new inode).
// Each process keeps the ids in memory and reads only what others appended since: an
// open descriptor on the file pins its inode, so the same inode means the same file.
class MaildirUidList {
public:
    static constexpr const char* fileName = "brevalo-uidlist";

    explicit MaildirUidList(std::string folderPath);
    ~MaildirUidList();
    MaildirUidList(const MaildirUidList&) = delete;
    MaildirUidList& operator=(const MaildirUidList&) = delete;

    // Lists new/ and cur/ under the lock, gives ids to files not seen before (oldest
    // first), forgets files that are gone, and appends what changed.
    HRESULT sync();
    // Reads what other processes appended since the last look; a stat when nothing did.
    HRESULT refresh();
    // Brings only the named files up to date, as sync() would (new ids, gone files, new
    // places): O(events), not O(folder). S_FALSE, having changed nothing, when a full
    // sync() must decide instead (no listing yet, a file moved away to an unknown place).
    HRESULT syncNamed(const std::vector<MaildirEvent>& events);

    // The messages in ascending id order, as of the last sync.
    std::vector<MaildirMessage> messages() const;
    // The message with that id, when its file is known.
    bool find(MESSAGEID id, MaildirMessage* message) const;
    bool findBase(const std::string& base, MaildirMessage* message) const;

    // Puts a copied message file into the folder and gives it an id, both under the
    // lock: place() moves the file in (and makes that durable). When the folder already
    // holds a message of that unique base name (an earlier, interrupted copy, or another
    // process's), place() is not called and *present is set. Costs O(1) in the folder's
    // size (after the folder's first listing).
    HRESULT addFile(const std::string& subdir, const std::string& fileName,
                    const std::function<HRESULT()>& place, bool* present);
    // Records that this process deleted the message's file.
    HRESULT forgetFile(MESSAGEID id);

    const std::string& path() const { return folderPath; }
    // Records in the file (for tests of the rewrite).
    std::size_t fileRecords() const;

private:
    struct Entry {
        std::string base;
        std::string subdir; // empty while the file's place is not known
        std::string fileName;
    };
    struct Listed {
        std::string subdir;
        std::string fileName;
    };

    // The one way to change the ids: under the mutex and the file's lock, reads what other
    // processes appended, runs change, and when it answers S_OK and durable is set, makes
    // every id read or written durable (flush()) before the ids are used.
    HRESULT transaction(bool durable, const std::function<HRESULT()>& change);
    HRESULT loadIds();
    HRESULT syncLocked();
    HRESULT syncNamedLocked(const std::vector<MaildirEvent>& events);
    HRESULT addFileLocked(const std::string& subdir, const std::string& fileName,
                          const std::function<HRESULT()>& place, bool* present);
    HRESULT listFiles(std::unordered_map<std::string, Listed>* files);
    // Whether the entry is a regular file (a mail file); anything else (a FIFO would block
    // the reader, a symbolic link lead out of the store) gets no id, and one log line.
    // type: the listing's d_type, DT_UNKNOWN to ask the file system.
    bool isMailFile(const std::string& path, unsigned char type);
    // Appends records (complete lines) and applies them; durable: fsync before returning.
    HRESULT append(const std::string& records, bool durable);
    // fsync of records appended (by anyone) and not yet known to be on disk.
    HRESULT flush();
    HRESULT rewrite(const std::string& extra);
    void compactIfWasteful();
    HRESULT openFile();
    void closeFile();
    std::size_t apply(std::string_view text, bool fromStart);
    void addRecord(MESSAGEID id, std::string base);
    void dropRecord(MESSAGEID id);
    std::string idFilePath() const { return folderPath + "/" + fileName; }

    std::string folderPath;
    mutable std::mutex mutex;
    std::map<MESSAGEID, Entry> byId;
    std::unordered_map<std::string, MESSAGEID> byBase;
    MESSAGEID next = 1;
    bool listed = false;           // the locations of the files are known
    std::set<std::string> refused; // the paths of files isMailFile refused, logged once

    int fd = -1; // the id file as read, kept open so its inode is not reused
    std::uint64_t device = 0, inode = 0;
    std::uint64_t consumed = 0; // bytes of complete lines read
    std::uint64_t seenSize = 0; // the file's size at the last look
    std::size_t records = 0;    // records in the file
    bool unflushed = false;     // ids read or written that may not be on disk yet
    std::size_t additions = 0;  // id records applied, ever
};
