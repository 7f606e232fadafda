#include "platform/maildir/MaildirStore.h"

#include "util/Log.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirFolder.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirNames.h"
#include "platform/maildir/MaildirSysCalls.h"
#include "platform/maildir/StoreEnum.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <time.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

HRESULT makeDirectory(const std::string& path) {
    if (sysCalls().mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return S_OK;
    return sysError("mkdir(" + path + ")");
}

// mkdir -p for the root, then the maildir's own three directories (cur/ last: its
// presence is what makes a directory a maildir).
HRESULT makeMaildir(const std::string& path, bool parents) {
    if (parents) {
        for (size_t slash = path.find('/', 1); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            HRESULT hr = makeDirectory(path.substr(0, slash));
            if (FAILED(hr))
                return hr;
        }
    }
    for (const char* sub : {"", "/tmp", "/new", "/cur"}) {
        HRESULT hr = makeDirectory(path + sub);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Cuts UTF-8 text to at most size bytes without splitting a character.
void copyName(const std::string& name, char* target, size_t size) {
    size_t length = std::min(name.size(), size - 1);
    while (length > 0 && length < name.size() &&
           (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(target, name.data(), length);
    target[length] = '\0';
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// File time stamps come from a clock that advances in ticks of a few milliseconds: a
// directory listed this long after its time stamp changes its stamp with any later change.
constexpr std::int64_t tickMargin = 50000000;
// How long a count kept up to date by this process's own changes is trusted: another
// program's change in the same tick as one of ours is caught by the next listing.
constexpr std::int64_t ownChangesTrusted = 1000000000;

// A file left in tmp/ unchanged this long belongs to a copy or delivery that was killed:
// nobody finishes it any more (the age other Maildir programs use too). Its change time
// counts, as a copy's hard link keeps the message's old modification time.
constexpr time_t staleTmpAge = 36 * 60 * 60;

} // namespace

void removeStaleTmpFiles(const std::string& folderPath, time_t now) {
    std::string dirPath = folderPath + "/tmp";
    DIR* dir = opendir(dirPath.c_str());
    if (!dir)
        return; // made again by the next copy when missing
    while (dirent* entry = readdir(dir)) {
        if (entry->d_type == DT_DIR)
            continue; // "." and "..", and nothing a killed writer leaves
        std::string path = dirPath + "/" + entry->d_name;
        struct stat st {};
        if (sysCalls().stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            now - st.st_ctim.tv_sec < staleTmpAge)
            continue;
        if (sysCalls().unlink(path.c_str()) == 0)
            debugLog("removed %s: left in tmp/ unchanged for over 36 hours", path.c_str());
        else
            debugLog("%s", sysFailure("unlink(" + path + ")", errno).c_str());
    }
    closedir(dir);
}

std::string defaultStoreRoot() {
    const char* maildir = std::getenv("MAILDIR");
    if (maildir && *maildir)
        return maildir;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        passwd* entry = getpwuid(getuid());
        home = entry ? entry->pw_dir : "/";
    }
    return std::string(home) + "/Maildir";
}

bool storeRootExists(const std::string& root) {
    struct stat st {};
    for (const char* sub : {"/cur", "/new"}) {
        if (root.empty() || sysCalls().stat((root + sub).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
    }
    return true;
}

HRESULT createStoreRoot(const std::string& root) {
    if (root.empty())
        return E_INVALIDARG;
    return makeMaildir(withoutTrailingSlashes(root), true);
}

HRESULT createStoreNamespace(const std::string& root, IStoreNamespace** store, StoreUse use) {
    MaildirStore* created = nullptr;
    HRESULT hr = MaildirStore::create(root, &created, use);
    *store = created;
    return hr;
}

HRESULT storeFolderPath(IStoreNamespace* store, STOREFOLDERID id, std::string* path) {
    auto* maildirStore = dynamic_cast<MaildirStore*>(store);
    if (!maildirStore || !path)
        return E_POINTER;
    return maildirStore->folderPath(id, path);
}

HRESULT storeInboxPath(IStoreNamespace* store, std::string* path) {
    auto* maildirStore = dynamic_cast<MaildirStore*>(store);
    if (!maildirStore || !path)
        return E_POINTER;
    *path = maildirStore->rootPath(); // the inbox is the root's own maildir
    return S_OK;
}

HRESULT storeFindFolder(IStoreNamespace* store, STOREFOLDERID parent, const std::string& name,
                        STOREFOLDERID* id) {
    auto* maildirStore = dynamic_cast<MaildirStore*>(store);
    if (!maildirStore || !id)
        return E_POINTER;
    return maildirStore->findFolder(parent, name, id);
}

HRESULT MaildirStore::findFolder(STOREFOLDERID parent, const std::string& name, STOREFOLDERID* id) {
    *id = FOLDERID_INVALID;
    HRESULT hr = table.refresh();
    if (FAILED(hr))
        return hr;
    MaildirFolderInfo info;
    if (parent != FOLDERID_ROOT && !table.find(parent, &info)) {
        debugLog("findFolder(%u) failed: no such folder in %s", parent, root.c_str());
        return hresultFromErrno(ENOENT);
    }
    for (const MaildirFolderInfo& child : table.children(parent)) {
        if (child.name == name) {
            *id = child.id;
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT MaildirStore::folderPath(STOREFOLDERID id, std::string* path) {
    MaildirFolderInfo info;
    HRESULT hr = table.refresh();
    if (FAILED(hr))
        return hr;
    if (id == FOLDERID_ROOT || !table.find(id, &info))
        return hresultFromErrno(ENOENT);
    *path = table.folderPath(info.dirName);
    return S_OK;
}

HRESULT MaildirStore::create(const std::string& root, MaildirStore** store, StoreUse use) {
    if (!store)
        return E_POINTER;
    *store = nullptr;
    if (root.empty()) {
        debugLog("createStoreNamespace: empty store root");
        return E_INVALIDARG;
    }
    std::string path = withoutTrailingSlashes(root);
    if (!storeRootExists(path)) {
        debugLog("createStoreNamespace: no mail store at %s (no folders cur/ and new/)",
                 path.c_str());
        return hresultFromErrno(ENOENT);
    }
    HRESULT hr = makeMaildir(path, false);
    if (FAILED(hr))
        return hr;
    *store = new MaildirStore(path, use);
    return S_OK;
}

MaildirStore::MaildirStore(std::string root, StoreUse use)
    : root(root), table(root, use == StoreUse::oneStep), subscriptions(root) {}

MaildirStore::~MaildirStore() {
    for (StoreEnum* e : enums)
        delete e;
}

HRESULT MaildirStore::Initialize(void*, std::uint32_t) {
    HRESULT hr = table.refresh();
    if (FAILED(hr))
        return hr;
    time_t now = time(nullptr);
    std::vector<STOREFOLDERID> parents{FOLDERID_ROOT};
    while (!parents.empty()) {
        STOREFOLDERID parent = parents.back();
        parents.pop_back();
        for (const MaildirFolderInfo& info : table.children(parent)) {
            removeStaleTmpFiles(table.folderPath(info.dirName), now);
            parents.push_back(info.id);
        }
    }
    return S_OK;
}

std::shared_ptr<MaildirUidList> MaildirStore::uidList(STOREFOLDERID id, const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex);
    auto& slot = lists[id];
    if (!slot || slot->path() != path)
        slot = std::make_shared<MaildirUidList>(path);
    return slot;
}

void MaildirStore::dropUidList(STOREFOLDERID id) {
    std::lock_guard<std::mutex> guard(mutex);
    lists.erase(id);
}

void MaildirStore::countDirectory(const std::string& dirPath, FOLDERPROPS* props) {
    struct stat st {};
    if (sysCalls().stat(dirPath.c_str(), &st) != 0) {
        debugLog("%s", sysFailure("stat(" + dirPath + ")", errno).c_str());
        return;
    }
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    {
        std::lock_guard<std::mutex> guard(countMutex);
        auto found = counts.find(dirPath);
        if (found != counts.end()) {
            const DirCount& cached = found->second;
            bool trusted =
                cached.ownChanges
                    ? nanoseconds(now) - nanoseconds(cached.listedAt) < ownChangesTrusted
                    : nanoseconds(cached.listedAt) - nanoseconds(cached.mtime) >= tickMargin;
            if (cached.device == static_cast<std::uint64_t>(st.st_dev) &&
                cached.inode == static_cast<std::uint64_t>(st.st_ino) &&
                sameTime(cached.mtime, st.st_mtim) && trusted) {
                props->cMessage += cached.count;
                props->cUnread += cached.unread;
                return;
            }
        }
    }
    DirCount fresh;
    fresh.device = static_cast<std::uint64_t>(st.st_dev);
    fresh.inode = static_cast<std::uint64_t>(st.st_ino);
    fresh.mtime = st.st_mtim;
    fresh.listedAt = now;
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) {
        debugLog("%s", sysFailure("opendir(" + dirPath + ")", errno).c_str());
        return;
    }
    while (dirent* entry = readdir(dir)) {
        if (entry->d_type == DT_DIR || !MaildirFileName::isMessageFile(entry->d_name))
            continue;
        ++fresh.count;
        if (MaildirFileName::flags(entry->d_name).find('S') == std::string::npos)
            ++fresh.unread;
    }
    closedir(dir);
    props->cMessage += fresh.count;
    props->cUnread += fresh.unread;
    std::lock_guard<std::mutex> guard(countMutex);
    counts[dirPath] = fresh;
}

void MaildirStore::noteDirectoryChange(const std::string& dirPath, const struct stat& before,
                                       const struct stat& after, int delta, bool unread) {
    std::lock_guard<std::mutex> guard(countMutex);
    auto found = counts.find(dirPath);
    if (found == counts.end())
        return;
    DirCount& cached = found->second;
    bool current = cached.device == static_cast<std::uint64_t>(before.st_dev) &&
                   cached.inode == static_cast<std::uint64_t>(before.st_ino) &&
                   sameTime(cached.mtime, before.st_mtim) && (delta > 0 || cached.count > 0) &&
                   (delta > 0 || !unread || cached.unread > 0);
    if (!current) {
        counts.erase(found); // changed by someone else as well: list it next time
        return;
    }
    cached.mtime = after.st_mtim;
    cached.ownChanges = true;
    cached.count += delta;
    if (unread)
        cached.unread += delta;
}

HRESULT MaildirStore::fillFolderProps(const MaildirFolderInfo& info, FOLDERPROPS* props) {
    if (!props)
        return E_POINTER;
    props->dwFolderId = info.id;
    props->sfType = info.type;
    props->cSubFolders = static_cast<std::int32_t>(table.children(info.id).size());
    props->cMessage = 0;
    props->cUnread = 0;
    copyName(info.name, props->szName, sizeof props->szName);
    std::string path = table.folderPath(info.dirName);
    for (const char* subdir : {"new", "cur"})
        countDirectory(path + "/" + subdir, props);
    return S_OK;
}

HRESULT MaildirStore::GetFirstSubFolder(STOREFOLDERID parent, FOLDERPROPS* props,
                                        HENUMSTORE* handle) {
    if (!props || !handle)
        return E_POINTER;
    *handle = nullptr;
    HRESULT hr = table.refresh();
    if (FAILED(hr))
        return hr;
    MaildirFolderInfo info;
    if (parent != FOLDERID_ROOT && !table.find(parent, &info)) {
        debugLog("GetFirstSubFolder(%u) failed: no such folder in %s", parent, root.c_str());
        return hresultFromErrno(ENOENT);
    }
    auto* e = new StoreEnum;
    e->owner = this;
    e->folders = table.children(parent);
    if (e->folders.empty()) {
        delete e;
        return S_FALSE;
    }
    {
        std::lock_guard<std::mutex> guard(mutex);
        enums.insert(e);
    }
    *handle = e;
    return GetNextSubFolder(e, props);
}

HRESULT MaildirStore::GetNextSubFolder(HENUMSTORE handle, FOLDERPROPS* props) {
    if (!props)
        return E_POINTER;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!handle || !enums.count(handle))
            return E_INVALIDARG;
    }
    if (handle->next >= handle->folders.size())
        return S_FALSE;
    return fillFolderProps(handle->folders[handle->next++], props);
}

HRESULT MaildirStore::GetSubFolderClose(HENUMSTORE handle) {
    if (!handle)
        return S_OK;
    std::lock_guard<std::mutex> guard(mutex);
    if (!enums.erase(handle))
        return E_INVALIDARG;
    delete handle;
    return S_OK;
}

HRESULT MaildirStore::OpenFolder(STOREFOLDERID id, std::uint32_t, IStoreFolder** folder) {
    if (!folder)
        return E_POINTER;
    *folder = nullptr;
    MaildirFolderInfo info;
    HRESULT hr = table.refresh();
    if (FAILED(hr))
        return hr;
    if (id == FOLDERID_ROOT || !table.find(id, &info)) {
        dropUidList(id);
        debugLog("OpenFolder(%u) failed: no such folder in %s", id, root.c_str());
        return hresultFromErrno(ENOENT);
    }
    std::string path = table.folderPath(info.dirName);
    *folder = new MaildirFolder(this, info, uidList(id, path));
    return S_OK;
}

HRESULT MaildirStore::CreateFolder(STOREFOLDERID parent, const char* name, std::uint32_t,
                                   STOREFOLDERID* newId) {
    if (!name || !newId)
        return E_POINTER;
    *newId = FOLDERID_INVALID;
    HRESULT hr = table.refresh();
    if (FAILED(hr))
        return hr;
    std::string parentDir;
    if (parent != FOLDERID_ROOT) {
        MaildirFolderInfo info;
        if (!table.find(parent, &info)) {
            debugLog("CreateFolder(%u, %s) failed: no such parent folder", parent, name);
            return hresultFromErrno(ENOENT);
        }
        // Maildir++ keeps every folder beside the inbox, never inside it.
        if (info.type == FOLDER_INBOX) {
            debugLog("CreateFolder(%u, %s) failed: the inbox holds no folders", parent, name);
            return E_INVALIDARG;
        }
        parentDir = info.dirName;
    }
    std::string dirName = MaildirNames::childDirName(parentDir, name);
    if (dirName.empty()) {
        debugLog("CreateFolder(%u, %s) failed: not a valid folder name (empty or not UTF-8)",
                 parent, name);
        return E_INVALIDARG;
    }
    MaildirFolderInfo existing;
    if (table.findDir(dirName, &existing)) {
        *newId = existing.id;
        return S_OK;
    }
    std::string path = root + "/" + dirName;
    // maildirfolder before cur/: a half-made folder (no cur/) is no folder yet, and the
    // next attempt completes it.
    for (const char* sub : {"", "/tmp", "/new"}) {
        hr = makeDirectory(path + sub);
        if (FAILED(hr))
            return hr;
    }
    std::string marker = path + "/maildirfolder";
    int fd = sysCalls().open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return sysError("open(" + marker + ")");
    }
    sysCalls().close(fd);
    hr = makeDirectory(path + "/cur");
    if (FAILED(hr))
        return hr;
    hr = MaildirIdFile::syncDirectory(root);
    if (FAILED(hr))
        return hr;
    table.forget();
    hr = table.refresh();
    if (FAILED(hr))
        return hr;
    MaildirFolderInfo created;
    if (!table.findDir(dirName, &created)) {
        debugLog("CreateFolder(%u, %s) failed: %s vanished after its creation", parent, name,
                 path.c_str());
        return hresultFromErrno(ENOENT);
    }
    *newId = created.id;
    // Mail programs reading the store through an IMAP server list it; not being able to
    // say so (logged) takes nothing from the folder.
    subscriptions.add(dirName);
    return S_OK;
}

int MaildirStore::NotificationHandle() {
    return notifications.fd();
}

HRESULT MaildirStore::DispatchNotifications() {
    return notifications.dispatch();
}
