#pragma once

#include "util/ComPtr.h"
#include "util/DateTime.h"
#include "platform/Store.h"
#include "tests/support/TempFolder.h"

#include <ctime>
#include <string>
#include <vector>

// A store root ("Maildir") in a fresh temporary folder, removed with everything in it at
// the end.
class TempMaildir {
public:
    TempMaildir();

    // A store over the root (not initialised).
    com_ptr<IStoreNamespace> open() const;

    // The folder's path for a directory name ("" is the inbox, else e.g. ".Work").
    std::string folder(const std::string& dirName = "") const;

    // Writes a message file the way a delivery agent does (tmp/, then rename), with the
    // given modification time when not 0. Returns the file's path.
    static std::string deliver(const std::string& folderPath, const std::string& subdir,
                               const std::string& name, const std::string& content,
                               std::time_t mtime = 0);
    // Delivers content into new/ of the folder (made when missing) under a fresh name; its
    // modification time is received when given. Returns the file's path.
    std::string deliverMail(const std::string& content, const std::string& dirName = "",
                            const FILETIME* received = nullptr);
    // Delivers a file of the test corpus (tests/data/mail/<name>) into the folder.
    std::string deliverCorpus(const std::string& name, const std::string& dirName = "");

    static std::string message(const std::string& subject,
                               const std::string& from = "Ann <ann@example.org>");
    // The names in a directory, sorted.
    static std::vector<std::string> files(const std::string& dirPath);

    std::string root; // the store root, the inbox's maildir

private:
    TempFolder base{"store"};
    int delivered = 0;
};

// The message ids of a folder in store order.
std::vector<MESSAGEID> messageIds(IStoreFolder* folder);
// The direct subfolders' records.
std::vector<FOLDERPROPS> subFolders(IStoreNamespace* store, STOREFOLDERID parent);
com_ptr<IStoreFolder> openFolderById(IStoreNamespace* store, STOREFOLDERID id);
STOREFOLDERID inboxId(IStoreNamespace* store);
