#pragma once

#include "platform/Store.h"
#include "platform/maildir/MaildirFolderTable.h"
#include "platform/maildir/MaildirNotifier.h"
#include "platform/maildir/MaildirUidList.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

// The store over a Maildir++ tree (see MaildirFolderTable for the folders and their ids,
// MaildirUidList for the message ids, MaildirNames for the names on disk).
// Thread-safe: the learning thread reads messages while the user-interface thread
// dispatches notifications.
// Beyond the interface's rules: an enumeration without records answers S_FALSE with a
// null handle (closing a null handle is S_OK); CreateFolder of a name that exists gives
// the existing folder's id (two processes may create it at once); the inbox holds no
// folders (CreateFolder under it is E_INVALIDARG); failures are errno codes
// (hresultFromErrno) with a log line naming the call, the path and the reason.
class MaildirStore : public ComObject<IStoreNamespace> {
public:
    // Creates the root with cur/, new/ and tmp/ when missing.
    static HRESULT create(const std::string& root, MaildirStore** store);

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

    // For the folder objects.
    HRESULT fillFolderProps(const MaildirFolderInfo& info, FOLDERPROPS* props);
    MaildirNotifier& notifier() { return notifications; }
    const std::string& rootPath() const { return root; }

private:
    explicit MaildirStore(std::string root);
    ~MaildirStore() override;

    std::shared_ptr<MaildirUidList> uidList(STOREFOLDERID id, const std::string& path);

    std::string root;
    MaildirFolderTable table;
    MaildirNotifier notifications;
    std::mutex mutex;
    std::map<STOREFOLDERID, std::weak_ptr<MaildirUidList>> lists;
    std::set<StoreEnum*> enums;
};
