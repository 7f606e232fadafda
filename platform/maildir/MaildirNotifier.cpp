#include "platform/maildir/MaildirNotifier.h"

#include "util/Log.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <algorithm>
#include <cerrno>
#include <set>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t dirMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t fileMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                   IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool isMaildir(const std::string& path) {
    struct stat st {};
    return sysCalls().stat((path + "/cur").c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           sysCalls().stat((path + "/new").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether some process still has the file open for writing: a read lease is refused then.
// Where leases are not available (another owner, a file system without them) the file
// counts as complete.
bool beingWritten(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool busy = false;
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0)
        fcntl(fd, F_SETLEASE, F_UNLCK);
    else
        busy = errno == EAGAIN;
    close(fd);
    return busy;
}

bool seen(const std::string& location) {
    return MaildirFileName::flags(location).find('S') != std::string::npos;
}

} // namespace

std::uintptr_t MaildirNotifier::keep(MESSAGEID id) {
    MESSAGEID* slot = &ring[ringNext];
    ringNext = (ringNext + 1) % ring.size();
    *slot = id;
    return reinterpret_cast<std::uintptr_t>(slot);
}

HRESULT MaildirNotifier::add(const void* key, STOREFOLDERID folderId,
                             std::shared_ptr<MaildirUidList> list, INotifySink* sink) {
    if (!sink)
        return E_FAIL;
    std::lock_guard<std::recursive_mutex> guard(mutex);
    for (const Registration& r : registrations) {
        if (r.key == key && r.sink == sink)
            return S_OK;
    }
    auto found = watchedFolders.find(folderId);
    if (found == watchedFolders.end() || found->second.gone) {
        if (found != watchedFolders.end()) {
            unwatch(found->second);
            watchedFolders.erase(found);
        }
        Watched watched;
        watched.list = list;
        const std::string& path = list->path();
        watched.wdDir = watcher.add(path, dirMask);
        watched.wdNew = watcher.add(path + "/new", fileMask);
        watched.wdCur = watcher.add(path + "/cur", fileMask);
        if (watched.wdDir < 0 || watched.wdNew < 0 || watched.wdCur < 0) {
            unwatch(watched);
            return E_FAIL;
        }
        if (FAILED(list->sync())) {
            unwatch(watched);
            return E_FAIL;
        }
        for (const MaildirMessage& m : list->messages())
            announce(watched, m.id, m.subdir + "/" + m.fileName);
        for (int wd : {watched.wdDir, watched.wdNew, watched.wdCur})
            byWd[wd] = folderId;
        watchedFolders.emplace(folderId, std::move(watched));
    }
    registrations.push_back(Registration{key, folderId, sink});
    return S_OK;
}

void MaildirNotifier::unwatch(Watched& watched) {
    for (int* wd : {&watched.wdDir, &watched.wdNew, &watched.wdCur}) {
        if (*wd < 0)
            continue;
        byWd.erase(*wd);
        watcher.remove(*wd);
        *wd = -1;
    }
}

void MaildirNotifier::dropUnused(STOREFOLDERID folderId) {
    bool used = std::any_of(registrations.begin(), registrations.end(),
                            [&](const Registration& r) { return r.folderId == folderId; });
    if (used)
        return;
    auto found = watchedFolders.find(folderId);
    if (found == watchedFolders.end())
        return;
    unwatch(found->second);
    watchedFolders.erase(found);
}

HRESULT MaildirNotifier::remove(const void* key, INotifySink* sink) {
    std::lock_guard<std::recursive_mutex> guard(mutex);
    auto found =
        std::find_if(registrations.begin(), registrations.end(),
                     [&](const Registration& r) { return r.key == key && r.sink == sink; });
    if (found == registrations.end())
        return E_FAIL;
    STOREFOLDERID folderId = found->folderId;
    registrations.erase(found);
    dropUnused(folderId);
    return S_OK;
}

void MaildirNotifier::removeAll(const void* key) {
    std::lock_guard<std::recursive_mutex> guard(mutex);
    std::vector<STOREFOLDERID> touched;
    for (auto it = registrations.begin(); it != registrations.end();) {
        if (it->key != key) {
            ++it;
            continue;
        }
        touched.push_back(it->folderId);
        it = registrations.erase(it);
    }
    for (STOREFOLDERID folderId : touched)
        dropUnused(folderId);
}

void MaildirNotifier::announce(Watched& watched, MESSAGEID id, const std::string& location) {
    watched.announced[id] = location;
    watched.announcedBase[MaildirFileName::baseName(location.substr(4))] = id;
}

void MaildirNotifier::unannounce(Watched& watched, std::map<MESSAGEID, std::string>::iterator it) {
    auto base = watched.announcedBase.find(MaildirFileName::baseName(it->second.substr(4)));
    if (base != watched.announcedBase.end() && base->second == it->first)
        watched.announcedBase.erase(base);
    watched.announced.erase(it);
}

void MaildirNotifier::compare(STOREFOLDERID folderId, Watched& watched, const MaildirMessage& m,
                              std::vector<Post>* posts) {
    std::string location = m.subdir + "/" + m.fileName;
    auto known = watched.announced.find(m.id);
    if (known == watched.announced.end()) {
        if (beingWritten(watched.list->path() + "/" + location))
            return; // its IN_CLOSE_WRITE brings it back here
        announce(watched, m.id, location);
        posts->push_back(Post{folderId, WM_NEWMSGS, m.id});
        return;
    }
    if (known->second == location)
        return;
    bool lostSeen = seen(known->second) && !seen(location);
    announce(watched, m.id, location);
    posts->push_back(Post{folderId, lostSeen ? WM_MARKEDASUNREAD : WM_MARKEDASREAD, keep(m.id)});
}

void MaildirNotifier::scanFolder(STOREFOLDERID folderId, Watched& watched,
                                 std::vector<Post>* posts) {
    watched.dirty = false;
    watched.full = false;
    watched.events.clear();
    const std::string& path = watched.list->path();
    if (!isMaildir(path)) {
        debugLog("folder %u removed: %s", folderId, path.c_str());
        unwatch(watched);
        watched.gone = true;
        posts->push_back(Post{folderId, WM_DELETEFOLDER, folderId});
        return;
    }
    if (FAILED(watched.list->sync()))
        return;
    std::vector<MaildirMessage> current = watched.list->messages();
    std::map<MESSAGEID, const MaildirMessage*> now;
    for (const MaildirMessage& m : current)
        now.emplace(m.id, &m);
    for (auto it = watched.announced.begin(); it != watched.announced.end();) {
        if (now.count(it->first)) {
            ++it;
            continue;
        }
        posts->push_back(Post{folderId, WM_DELETEMSGS, keep(it->first)});
        unannounce(watched, it++);
    }
    for (const MaildirMessage& m : current)
        compare(folderId, watched, m, posts);
}

void MaildirNotifier::scanNamed(STOREFOLDERID folderId, Watched& watched,
                                std::vector<Post>* posts) {
    HRESULT hr = watched.list->syncNamed(watched.events);
    if (hr == S_FALSE) {
        scanFolder(folderId, watched, posts);
        return;
    }
    std::vector<MaildirEvent> events = std::move(watched.events);
    watched.events.clear();
    watched.dirty = false;
    if (FAILED(hr)) {
        watched.full = true; // the next event lists the whole folder
        return;
    }
    std::set<std::string> bases;
    for (const MaildirEvent& event : events) {
        if (MaildirFileName::isMessageFile(event.fileName))
            bases.insert(MaildirFileName::baseName(event.fileName));
    }
    std::vector<MaildirMessage> current;
    for (const std::string& base : bases) {
        MaildirMessage m;
        bool present = watched.list->findBase(base, &m);
        auto announced = watched.announcedBase.find(base);
        if (announced != watched.announcedBase.end() && (!present || announced->second != m.id)) {
            posts->push_back(Post{folderId, WM_DELETEMSGS, keep(announced->second)});
            auto it = watched.announced.find(announced->second);
            if (it != watched.announced.end())
                unannounce(watched, it);
            else
                watched.announcedBase.erase(announced);
        }
        if (present)
            current.push_back(std::move(m));
    }
    std::sort(current.begin(), current.end(),
              [](const MaildirMessage& a, const MaildirMessage& b) { return a.id < b.id; });
    for (const MaildirMessage& m : current)
        compare(folderId, watched, m, posts);
}

HRESULT MaildirNotifier::dispatch() {
    std::vector<Post> posts;
    {
        std::lock_guard<std::recursive_mutex> guard(mutex);
        bool overflow = false;
        std::vector<InotifyWatcher::Event> events = watcher.readEvents(&overflow);
        if (overflow)
            debugLog("inotify queue overflow: listing every watched folder again");
        for (const InotifyWatcher::Event& event : events) {
            auto found = byWd.find(event.wd);
            if (found == byWd.end())
                continue;
            auto watched = watchedFolders.find(found->second);
            if (watched == watchedFolders.end())
                continue;
            Watched& folder = watched->second;
            folder.dirty = true;
            bool inNew = event.wd == folder.wdNew;
            bool named = (inNew || event.wd == folder.wdCur) && !event.name.empty() &&
                         !(event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED));
            if (!named) {
                folder.full = true;
                continue;
            }
            folder.events.push_back(
                MaildirEvent{inNew ? "new" : "cur", event.name, (event.mask & IN_MOVED_FROM) != 0});
        }
        for (auto& [folderId, watched] : watchedFolders) {
            if (watched.gone || !(watched.dirty || overflow))
                continue;
            if (overflow || watched.full)
                scanFolder(folderId, watched, &posts);
            else
                scanNamed(folderId, watched, &posts);
        }
    }
    // Sinks may register, unregister or call the store while handling a post: each post
    // goes to the sinks registered at that moment, with no lock held.
    for (const Post& post : posts) {
        std::vector<INotifySink*> sinks;
        {
            std::lock_guard<std::recursive_mutex> guard(mutex);
            for (const Registration& r : registrations) {
                if (r.folderId == post.folderId &&
                    std::find(sinks.begin(), sinks.end(), r.sink) == sinks.end())
                    sinks.push_back(r.sink);
            }
        }
        for (INotifySink* sink : sinks) {
            bool live = false;
            {
                std::lock_guard<std::recursive_mutex> guard(mutex);
                live = std::any_of(registrations.begin(), registrations.end(),
                                   [&](const Registration& r) {
                                       return r.folderId == post.folderId && r.sink == sink;
                                   });
            }
            if (live)
                sink->post(post.message, post.wParam, 0);
        }
    }
    return S_OK;
}
