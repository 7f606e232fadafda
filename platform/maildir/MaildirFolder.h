#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "platform/maildir/MaildirFolderTable.h"
#include "platform/maildir/MaildirUidList.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class MaildirStore;

// One open folder: its messages by id (MaildirUidList), reading, copying and deleting
// them, and its notification registrations.
// Copying follows the Maildir delivery rules: a hard link (or, across file systems, a
// byte copy keeping the modification time) under a new unique name in the target's tmp/,
// fsync, rename to the source's own file name in the same subfolder (new/ or cur/, flags
// kept), fsync of that directory. The kept unique base name makes a repeated copy (after
// an interrupted run) a no-op. What names the message in the source folder alone is left
// out: mbsync's ",U=<uid>" (so mbsync uploads the copy as a new message) and keyword
// letters the target's "dovecot-keywords" reads as other keywords (MaildirKeywords).
// An enumeration skips messages deleted since it started.
class MaildirFolder : public ComObject<IStoreFolder> {
public:
    MaildirFolder(MaildirStore* store, MaildirFolderInfo info,
                  std::shared_ptr<MaildirUidList> list);

    HRESULT GetFolderProps(std::uint32_t flags, FOLDERPROPS* props) override;
    HRESULT GetMessageProps(MESSAGEID id, std::uint32_t flags, MESSAGEPROPS* props) override;
    HRESULT FreeMessageProps(MESSAGEPROPS* props) override;
    HRESULT GetFirstMessage(std::uint32_t flags, std::uint32_t mask, MESSAGEID first,
                            MESSAGEPROPS* props, HENUMSTORE* handle) override;
    HRESULT GetNextMessage(HENUMSTORE handle, std::uint32_t flags, MESSAGEPROPS* props) override;
    HRESULT GetMessageClose(HENUMSTORE handle) override;
    HRESULT OpenMessage(MESSAGEID id, IMimeMessage** message) override;
    HRESULT GetMessageFile(MESSAGEID id, std::string* path, FILETIME* received) override;
    HRESULT CopyMoveMessages(IStoreFolder* target, const MESSAGEIDLIST* ids, std::uint32_t flags,
                             std::uint32_t flagsRemove, void* progress) override;
    HRESULT DeleteMessages(const MESSAGEIDLIST* ids, std::uint32_t flags, void* progress) override;
    HRESULT RegisterNotification(std::uint32_t reserved, INotifySink* sink) override;
    HRESULT UnregisterNotification(std::uint32_t reserved, INotifySink* sink) override;

    const MaildirFolderInfo& info() const { return folderInfo; }

private:
    ~MaildirFolder() override;

    // The message's file path; a lookup that misses lists the folder again first.
    // The message's file and its modification time (the received time).
    HRESULT fileOf(const MaildirMessage& message, std::string* path, FILETIME* received) const;
    HRESULT locate(MESSAGEID id, const char* call, MaildirMessage* message, bool refresh);
    std::string messagePath(const MaildirMessage& message) const;
    // Calls action with the message's path; when the file has vanished (renamed by a flag
    // change, moved new/ -> cur/), lists again and tries once more.
    template <class Action> HRESULT withMessage(MESSAGEID id, const char* call, Action action);
    HRESULT readProps(MESSAGEID id, MESSAGEPROPS* props);
    // One copy on its way: linked (or copied) into the target's tmp/, not yet renamed.
    struct StagedCopy {
        std::string subdir; // new or cur, as in the source
        std::string tmp;    // its path in the target's tmp/
        std::string name;   // its name in the target
        bool synced = true; // a byte copy syncs itself; a link waits for syncStaged
        HRESULT result = S_OK;
    };
    // How many fsyncs a copy has waiting at once.
    static constexpr std::size_t syncThreads = 16;
    // Links (or copies) the message into the target's tmp/ and adds it to staged.
    HRESULT stageCopy(const MaildirMessage& message, MaildirFolder* target,
                      std::vector<StagedCopy>& staged);
    // Syncs every staged file not synced yet, several at once; each result in its copy.
    static void syncStaged(std::vector<StagedCopy>& staged);
    // Renames a synced copy into place; the directory it was renamed into is added to
    // renamedInto, to be synced once for all copies of the call.
    HRESULT placeCopy(const StagedCopy& copy, MaildirFolder* target,
                      std::set<std::string>& renamedInto);
    // Syncs every directory of the set; the first failure.
    static HRESULT syncDirectories(const std::set<std::string>& directories);

    com_ptr<MaildirStore> store;
    MaildirFolderInfo folderInfo;
    std::shared_ptr<MaildirUidList> list;
    std::mutex mutex;
    std::set<StoreEnum*> enums;
};
