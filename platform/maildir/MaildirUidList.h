#pragma once

#include "platform/Store.h"
#include "platform/maildir/MaildirIdFile.h"

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// One message file of a folder as the last sync saw it.
struct MaildirMessage {
    MESSAGEID id = 0;
    std::string subdir;   // "new" or "cur"
    std::string fileName; // "<unique base>[:2,<flags>]"
};

// The message ids of one folder, kept in "brevalo-uidlist" in the folder's directory:
//   brevalo-uidlist 1 <next id>
//   <id> <unique base name>
// An id is given in order of first sight and never again (the next id only grows); it
// belongs to the unique base name, so it survives a move from new/ to cur/ and any flag
// change by another program. The file is changed under its lock and written atomically
// (MaildirIdFile), so two processes never give one id to two messages.
class MaildirUidList {
public:
    static constexpr const char* fileName = "brevalo-uidlist";

    explicit MaildirUidList(std::string folderPath);

    // Lists new/ and cur/ under the lock, gives ids to files not seen before (oldest
    // first), forgets files that are gone, and writes the file when that changed it.
    HRESULT sync();

    // The messages in ascending id order, as of the last sync.
    std::vector<MaildirMessage> messages() const;
    bool find(MESSAGEID id, MaildirMessage* message) const;
    bool findBase(const std::string& base, MaildirMessage* message) const;
    // Records a file this process has just put into the folder (a copy), so a later
    // lookup by base name sees it before the next sync.
    void noteFile(const std::string& subdir, const std::string& fileName);

    const std::string& path() const { return folderPath; }

private:
    struct Listed {
        std::string subdir;
        std::string fileName;
    };
    HRESULT listFiles(std::unordered_map<std::string, Listed>* files);

    std::string folderPath;
    mutable std::mutex mutex;
    std::map<MESSAGEID, MaildirMessage> byId;
    std::unordered_map<std::string, MESSAGEID> byBase;
    MESSAGEID next = 1;
    MaildirIdFile::Stamp cachedStamp;
    bool cacheValid = false;
    std::unordered_map<std::string, Listed> unsynced;
};
