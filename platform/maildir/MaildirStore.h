#pragma once

#include "platform/Store.h"
#include "platform/maildir/MaildirFolderTable.h"
#include "platform/maildir/MaildirNotifier.h"
#include "platform/maildir/MaildirSubscriptions.h"
#include "platform/maildir/MaildirUidList.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include <sys/stat.h>
#include <time.h>

// The store over a Maildir++ tree (see MaildirFolderTable for the folders and their ids,
// MaildirUidList for the message ids, MaildirNames for the names on disk).
// Thread-safe: the learning thread reads messages while the user-interface thread
// dispatches notifications.
// Beyond the interface's rules: an enumeration without records answers S_FALSE with a
// null handle (closing a null handle is S_OK); CreateFolder of a name that exists gives
// the existing folder's id (two processes may create it at once); a folder it makes is
// subscribed (MaildirSubscriptions), so IMAP clients of a server on the store list it; the inbox
// holds no folders (CreateFolder under it is E_INVALIDARG); failures are errno codes
// (hresultFromErrno) with a log line naming the call, the path and the reason; Initialize
// removes the files a killed copy or delivery left in a folder's tmp/ over 36 hours ago.
// Removes the files a killed copy or delivery left in the maildir's tmp/ over 36 hours ago.
void removeStaleTmpFiles(const std::string& folderPath, time_t now);

class MaildirStore : public ComObject<IStoreNamespace> {
public:
    // Over an existing store root (cur/ and new/ present; tmp/ is made when missing).
    static HRESULT create(const std::string& root, MaildirStore** store,
                          StoreUse use = StoreUse::lasting);

    HRESULT Initialize(void* ownerWindow, std::uint32_t flags) override;
    HRESULT GetFirstSubFolder(STOREFOLDERID parent, FOLDERPROPS* props,
                              HENUMSTORE* handle) override;
    HRESULT GetNextSubFolder(HENUMSTORE handle, FOLDERPROPS* props) override;
    HRESULT GetSubFolderClose(HENUMSTORE handle) override;
    HRESULT OpenFolder(STOREFOLDERID id, std::uint32_t flags, IStoreFolder** folder) override;
    HRESULT CreateFolder(STOREFOLDERID parent, const char* name, std::uint32_t flags,
                         STOREFOLDERID* newId) override;
    int NotificationHandle() override;
    HRESULT DispatchNotifications() override;

    // A subfolder by name (storeFindFolder).
    HRESULT findFolder(STOREFOLDERID parent, const std::string& name, STOREFOLDERID* id);
    // The folder's maildir (storeFolderPath).
    HRESULT folderPath(STOREFOLDERID id, std::string* path);

    // For the folder objects.
    HRESULT fillFolderProps(const MaildirFolderInfo& info, FOLDERPROPS* props);
    MaildirNotifier& notifier() { return notifications; }
    // A message file this process moved into (delta 1) or removed from (delta -1) the
    // directory, with the directory's stat before and after: keeps its cached count.
    void noteDirectoryChange(const std::string& dirPath, const struct stat& before,
                             const struct stat& after, int delta, bool unread);
    const std::string& rootPath() const { return root; }

private:
    MaildirStore(std::string root, StoreUse use);
    ~MaildirStore() override;

    // The message counts of new/ or cur/. Folder records are asked for per message when
    // the sorter looks up its targets: a directory is listed again only when its time
    // stamp changed other than by this process's own copies and deletions, and (as a
    // change by another program in the same clock tick as one of ours keeps the stamp)
    // at least once a second while this process keeps changing it.
    struct DirCount {
        std::uint64_t device = 0, inode = 0;
        struct timespec mtime {};
        struct timespec listedAt {};
        std::uint32_t count = 0, unread = 0;
        bool ownChanges = false;
    };
    void countDirectory(const std::string& dirPath, FOLDERPROPS* props);
    std::shared_ptr<MaildirUidList> uidList(STOREFOLDERID id, const std::string& path);
    void dropUidList(STOREFOLDERID id);

    std::string root;
    MaildirFolderTable table;
    MaildirSubscriptions subscriptions;
    MaildirNotifier notifications;
    std::mutex mutex;
    // Kept for the store's lifetime, so that reopening a folder does not list it again;
    // dropped when the folder is gone.
    std::map<STOREFOLDERID, std::shared_ptr<MaildirUidList>> lists;
    std::set<StoreEnum*> enums;
    std::mutex countMutex;
    std::map<std::string, DirCount> counts;
};
