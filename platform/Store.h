#pragma once

#include "util/DateTime.h"
#include "platform/Unknown.h"
#include "platform/Result.h"

#include <cstdint>
#include <string>

class IMimeMessage;
class IStoreFolder;

using STOREFOLDERID = std::uint32_t;
using MESSAGEID = std::uint32_t;

constexpr STOREFOLDERID FOLDERID_ROOT = 0;
constexpr STOREFOLDERID FOLDERID_INVALID = 0xFFFFFFFFu;
// GetFirstMessage's "first" for an enumeration of every message.
constexpr MESSAGEID MESSAGEID_FIRST = 0xFFFFFFFFu;

// Special folder types; the top-level folders are recognised by their names.
enum SPECIALFOLDER : std::int32_t {
    FOLDER_NOTSPECIAL = -1,
    FOLDER_INBOX = 0, // the root maildir
    FOLDER_OUTBOX = 1,
    FOLDER_SENT = 2,    // "Sent"
    FOLDER_DELETED = 3, // "Trash"
    FOLDER_DRAFT = 4,   // "Drafts"
    FOLDER_JUNK = 5,    // "Junk"
};

// The sizes the interface gives its records (their cbSize fields).
constexpr std::uint32_t FOLDERPROPS_SIZE = 280;
constexpr std::uint32_t MESSAGEPROPS_SIZE = 68;
constexpr std::uint32_t MESSAGEIDLIST_SIZE = 12;

// Folder record.
struct FOLDERPROPS {
    std::uint32_t cbSize = FOLDERPROPS_SIZE;
    STOREFOLDERID dwFolderId = FOLDERID_INVALID;
    std::int32_t cSubFolders = 0;
    std::int32_t sfType = FOLDER_NOTSPECIAL;
    std::uint32_t cUnread = 0;
    std::uint32_t cMessage = 0;
    // UTF-8, NUL-terminated, cut to 255 bytes.
    char szName[256] = {};
};

// Message record. Freed by FreeMessageProps.
struct MESSAGEPROPS {
    std::uint32_t cbSize = MESSAGEPROPS_SIZE;
    MESSAGEID dwMessageId = 0;
    std::uint32_t dwFlags = 0;
    std::string pszSubject;     // decoded, UTF-8; empty when the message has none
    std::string pszDisplayFrom; // the sender's display name, else the address
    FILETIME ftReceived;        // the file's modification time
    // The message's file name in its folder ("<unique base>[:2,<flags>]"): where the
    // sorter's journal says a copy lies.
    std::string fileName;
};

// One message at a time in the program, but the store takes any number.
struct MESSAGEIDLIST {
    std::uint32_t cbSize = MESSAGEIDLIST_SIZE;
    std::uint32_t cMsgs = 0;
    MESSAGEID* prgdwMsgId = nullptr;
};

// Opaque handle of a running enumeration.
class StoreEnum;
using HENUMSTORE = StoreEnum*;

// Where the store's notifications go: the windows post a Qt event, the command-line
// tool queues. A pointed-to id stays readable for the next 4095 notifications of the
// store (a ring of ids it keeps), long enough for a posted event to be handled.
// Window message numbers:
constexpr std::uint32_t WM_NEWMSGS = 2674;        // wParam: the new message's id
constexpr std::uint32_t WM_DELETEMSGS = 2675;     // wParam: points to the removed id
constexpr std::uint32_t WM_DELETEFOLDER = 2676;   // wParam: the folder's id
constexpr std::uint32_t WM_MARKEDASREAD = 2677;   // wParam: points to the changed id
constexpr std::uint32_t WM_MARKEDASUNREAD = 2678; // wParam: points to the changed id

class INotifySink {
public:
    virtual void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;

protected:
    ~INotifySink() = default;
};

class IStoreNamespace : public IUnknown {
public:
    virtual HRESULT Initialize(void* ownerWindow, std::uint32_t flags) = 0;

    // S_OK with the first (next) record, S_FALSE (1) at the end.
    virtual HRESULT GetFirstSubFolder(STOREFOLDERID parent, FOLDERPROPS* props,
                                      HENUMSTORE* handle) = 0;
    virtual HRESULT GetNextSubFolder(HENUMSTORE handle, FOLDERPROPS* props) = 0;
    virtual HRESULT GetSubFolderClose(HENUMSTORE handle) = 0;

    // Fails for an id the store does not know.
    virtual HRESULT OpenFolder(STOREFOLDERID id, std::uint32_t flags, IStoreFolder** folder) = 0;
    // name is UTF-8; the new folder's id in *newId.
    virtual HRESULT CreateFolder(STOREFOLDERID parent, const char* name, std::uint32_t flags,
                                 STOREFOLDERID* newId) = 0;

    // Notifications of every registered folder are read from this descriptor (poll it
    // for input) and delivered, on the calling thread, by DispatchNotifications.
    virtual int NotificationHandle() = 0;
    virtual HRESULT DispatchNotifications() = 0;
};

class IStoreFolder : public IUnknown {
public:
    virtual HRESULT GetFolderProps(std::uint32_t flags, FOLDERPROPS* props) = 0;

    virtual HRESULT GetMessageProps(MESSAGEID id, std::uint32_t flags, MESSAGEPROPS* props) = 0;
    virtual HRESULT FreeMessageProps(MESSAGEPROPS* props) = 0;

    // Messages in store order (ascending id). S_OK with a record, S_FALSE at the end.
    virtual HRESULT GetFirstMessage(std::uint32_t flags, std::uint32_t mask, MESSAGEID first,
                                    MESSAGEPROPS* props, HENUMSTORE* handle) = 0;
    virtual HRESULT GetNextMessage(HENUMSTORE handle, std::uint32_t flags, MESSAGEPROPS* props) = 0;
    virtual HRESULT GetMessageClose(HENUMSTORE handle) = 0;

    virtual HRESULT OpenMessage(MESSAGEID id, IMimeMessage** message) = 0;
    // Where the message's file lies now and the received time OpenMessage gives it: for
    // reading the message on another thread (MimeOleLoadMessageFile) while the folder
    // stays with its own. The file may move afterwards; OpenMessage finds it again.
    virtual HRESULT GetMessageFile(MESSAGEID id, std::string* path, FILETIME* received) = 0;

    // Copies (the source keeps its messages) into target; everything is on disk when
    // it returns: each file synced, then each directory once for all of them (a batch
    // costs one directory sync, not one per message). Stops at the first failure; the
    // copies made before it are on disk too.
    virtual HRESULT CopyMoveMessages(IStoreFolder* target, const MESSAGEIDLIST* ids,
                                     std::uint32_t flags, std::uint32_t flagsRemove,
                                     void* progress) = 0;
    // Removes the messages, then syncs the folder once; stops at the first failure.
    virtual HRESULT DeleteMessages(const MESSAGEIDLIST* ids, std::uint32_t flags,
                                   void* progress) = 0;

    // S_OK when registered (unregistered), E_FAIL when not possible.
    virtual HRESULT RegisterNotification(std::uint32_t reserved, INotifySink* sink) = 0;
    virtual HRESULT UnregisterNotification(std::uint32_t reserved, INotifySink* sink) = 0;
};

// The store root: $MAILDIR when set, else ~/Maildir.
std::string defaultStoreRoot();

// Whether root holds a store: a directory with the maildir folders cur/ and new/.
bool storeRootExists(const std::string& root);
// Makes root a store: the folder (with its parents) and its cur/, new/ and tmp/, each
// made when missing. Only a person's explicit choice makes a store: a mistyped root
// must give an error, not an empty store that reports success.
HRESULT createStoreRoot(const std::string& root);

// How long a store object is used. A lasting one (the tray program, the sorter, the
// editor) reads the folder table at every call: other programs change the folders while
// it runs. A one-step one (a delivery) reads it once, and again only after a folder it
// made itself: another program's change during that step counts as made just after it.
enum class StoreUse { lasting, oneStep };

// Creates the store object over the Maildir++ tree at root, which must hold a store
// (storeRootExists; a missing tmp/ is made): otherwise it fails with ENOENT, creating
// nothing.
HRESULT createStoreNamespace(const std::string& root, IStoreNamespace** store,
                             StoreUse use = StoreUse::lasting);
// The id of parent's direct subfolder named exactly name, without what a listing of the
// subfolders costs (their message counts): S_OK, or S_FALSE and FOLDERID_INVALID when
// there is none. For a store made by createStoreNamespace.
HRESULT storeFindFolder(IStoreNamespace* store, STOREFOLDERID parent, const std::string& name,
                        STOREFOLDERID* id);
// The maildir of a folder of a store made by createStoreNamespace, for writing a message
// into it directly (a delivery); ENOENT for an id the store does not know.
HRESULT storeFolderPath(IStoreNamespace* store, STOREFOLDERID id, std::string* path);
// The inbox's maildir, without a listing of it.
HRESULT storeInboxPath(IStoreNamespace* store, std::string* path);
