#pragma once

#include "platform/Store.h"
#include "platform/maildir/InotifyWatcher.h"
#include "platform/maildir/MaildirUidList.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// The notifications of registered folders. inotify watches each registered folder's
// directory (its removal), new/ and cur/; DispatchNotifications reads the events, looks
// at the files they name (a listing of the whole folder when a file moved away to an unknown
// name, the folder itself changed, or the kernel's queue overflowed) and compares them
// with what its sinks were last told:
//   a message not announced before      -> WM_NEWMSGS        (wParam: its id)
//   an announced message that is gone    -> WM_DELETEMSGS     (wParam: points to its id)
//   a file renamed (move new/ -> cur/, a flag change): WM_MARKEDASUNREAD when it lost the
//   seen flag "S", else WM_MARKEDASREAD                      (wParam: points to its id)
//   the folder's directory is gone       -> WM_DELETEFOLDER   (wParam: the folder's id)
// A file is announced only once it is complete: a file renamed into new/ is, and one
// written in place is held back while any process still has it open for writing (a read
// lease cannot be taken), until its IN_CLOSE_WRITE. When the kernel's queue overflows,
// every watched folder is listed again, so no arrival is ever left unannounced.
// Pointed-to ids live in a ring of the last 4096 ids, so a posted event can read its id
// long after the post.
class MaildirNotifier {
public:
    MaildirNotifier() = default;
    MaildirNotifier(const MaildirNotifier&) = delete;
    MaildirNotifier& operator=(const MaildirNotifier&) = delete;

    int fd() const { return watcher.fd(); }

    // key is the registering folder object. The messages present now count as announced.
    HRESULT add(const void* key, STOREFOLDERID folderId, std::shared_ptr<MaildirUidList> list,
                INotifySink* sink);
    // E_FAIL when that sink is not registered with that folder object.
    HRESULT remove(const void* key, INotifySink* sink);
    void removeAll(const void* key);

    HRESULT dispatch();

private:
    struct Registration {
        const void* key;
        STOREFOLDERID folderId;
        INotifySink* sink;
    };
    struct Watched {
        std::shared_ptr<MaildirUidList> list;
        int wdDir = -1, wdNew = -1, wdCur = -1;
        std::map<MESSAGEID, std::string> announced; // id -> "new/<file>" or "cur/<file>"
        std::unordered_map<std::string, MESSAGEID> announcedBase; // unique base -> id
        std::vector<MaildirEvent> events; // the files named since the last scan
        bool full = false;                // events that need a listing of the folder
        bool dirty = false;
        bool gone = false;
    };
    struct Post {
        STOREFOLDERID folderId;
        std::uint32_t message;
        std::uintptr_t wParam;
    };

    void unwatch(Watched& watched);
    void dropUnused(STOREFOLDERID folderId);
    void scanFolder(STOREFOLDERID folderId, Watched& watched, std::vector<Post>* posts);
    // Only the files the events named: an arrival costs O(1), not O(folder).
    void scanNamed(STOREFOLDERID folderId, Watched& watched, std::vector<Post>* posts);
    void compare(STOREFOLDERID folderId, Watched& watched, const MaildirMessage& now,
                 std::vector<Post>* posts);
    static void announce(Watched& watched, MESSAGEID id, const std::string& location);
    static void unannounce(Watched& watched, std::map<MESSAGEID, std::string>::iterator it);
    std::uintptr_t keep(MESSAGEID id);

    InotifyWatcher watcher;
    std::recursive_mutex mutex;
    std::vector<Registration> registrations;
    std::map<STOREFOLDERID, Watched> watchedFolders;
    std::map<int, STOREFOLDERID> byWd;
    std::array<MESSAGEID, 4096> ring{};
    std::size_t ringNext = 0;
};
