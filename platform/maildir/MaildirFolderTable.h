#pragma once

#include "platform/Store.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

// One folder of the store.
struct MaildirFolderInfo {
    STOREFOLDERID id = FOLDERID_INVALID;
    STOREFOLDERID parent = FOLDERID_ROOT; // the inbox and the top-level folders: the root
    std::string dirName;                  // "" for the inbox (the root maildir), ".A.B" else
    std::string name;                     // UTF-8
    std::int32_t type = FOLDER_NOTSPECIAL;
};

// The store's folders and their ids, kept in "brevalo-folders" at the store root:
//   brevalo-folders 1 <next id>
//   <id> <directory name>          ("." for the inbox)
// Ids are given at first sight (parents before children) and never again; a folder that
// disappears loses its id, and a folder made again later under the same name gets a new
// one. Changed under the file's lock and written atomically (MaildirIdFile).
// The tree: the inbox and every top-level folder are children of the root (id 0); ".A.B"
// is a child of ".A", or of its nearest existing ancestor when ".A" is missing (its name
// then holds the missing levels, joined by ".").
class MaildirFolderTable {
public:
    static constexpr const char* fileName = "brevalo-folders";
    static constexpr const char* inboxName = "Inbox";

    // readOnce: the table is read by the first refresh and again only after forget(),
    // for a store object that lives for one step (a delivery): another program's change
    // of the folders during that step counts as made just after it.
    explicit MaildirFolderTable(std::string root, bool readOnce = false);

    // Scans the root for maildirs under the lock and updates the ids (read once: only
    // when not read yet).
    HRESULT refresh();
    // The next refresh reads the table again (after a change of this process's own).
    void forget();

    // The children in store order: the inbox first, then by name.
    std::vector<MaildirFolderInfo> children(STOREFOLDERID parent) const;
    bool find(STOREFOLDERID id, MaildirFolderInfo* info) const;
    bool findDir(const std::string& dirName, MaildirFolderInfo* info) const;
    // The folder's maildir: the root for the inbox, root + "/" + dirName else.
    std::string folderPath(const std::string& dirName) const;

private:
    HRESULT scan(std::vector<std::string>* dirNames);

    std::string root;
    bool readOnce;
    bool read = false;
    mutable std::mutex mutex;
    std::map<STOREFOLDERID, MaildirFolderInfo> folders;
};
