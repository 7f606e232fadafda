#include "platform/maildir/MaildirFolder.h"

#include "util/Log.h"
#include "util/ParallelFor.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirHeaderReader.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirKeywords.h"
#include "platform/maildir/MaildirStore.h"
#include "platform/maildir/MaildirSysCalls.h"
#include "platform/maildir/StoreEnum.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr HRESULT vanished = hresultFromErrno(ENOENT);

bool unread(const std::string& fileName) {
    return MaildirFileName::flags(fileName).find('S') == std::string::npos;
}

// Copies the bytes of from into a new file to, keeping the modification time; used when
// a hard link is not possible (another file system).
HRESULT copyBytes(const std::string& from, const std::string& to) {
    MaildirSysCalls& sys = sysCalls();
    // A FIFO would block the opening, a symbolic link lead out of the store.
    int in = sys.open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0);
    if (in < 0) {
        return sysError("open(" + from + ")");
    }
    struct stat kind {};
    if (sys.fstat(in, &kind) != 0) {
        HRESULT hr = sysError("fstat(" + from + ")");
        sys.close(in);
        return hr;
    }
    if (!S_ISREG(kind.st_mode)) {
        debugLog("not copying %s: not a regular file", from.c_str());
        sys.close(in);
        return hresultFromErrno(EINVAL);
    }
    int out = sys.open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        int error = errno;
        debugLog("%s", sysFailure("open(" + to + ")", error).c_str());
        sys.close(in);
        return hresultFromErrno(error);
    }
    auto fail = [&](const std::string& call) {
        int error = errno;
        debugLog("%s", sysFailure(call, error).c_str());
        sys.close(in);
        sys.close(out);
        sys.unlink(to.c_str());
        return hresultFromErrno(error);
    };
    bool wrote = true;
    if (readPieces(in, -1, 65536, [&](const char* data, size_t size) {
            wrote = writeAll(out, data, size) == 0;
            return wrote;
        }) != 0)
        return fail("read(" + from + ")");
    if (!wrote)
        return fail("write(" + to + ")");
    struct stat st {};
    if (sys.fstat(in, &st) != 0)
        return fail("fstat(" + from + ")");
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (sys.futimens(out, times) != 0)
        return fail("futimens(" + to + ")");
    if (sys.fsync(out) != 0)
        return fail("fsync(" + to + ")");
    sys.close(in);
    if (sys.close(out) != 0) {
        int error = errno;
        debugLog("%s", sysFailure("close(" + to + ")", error).c_str());
        sys.unlink(to.c_str());
        return hresultFromErrno(error);
    }
    return S_OK;
}

// Makes sure a hard-linked file's data is on disk (the source may have been written by a
// program that did not fsync).
HRESULT syncFile(const std::string& path) {
    return MaildirIdFile::syncPath(path, false);
}

// The copy's file name in the target: the source's unique base and flags, without what
// belongs to the source folder alone (mbsync's number, keyword letters the target reads
// otherwise).
std::string copyName(const std::string& fileName, const std::string& sourcePath,
                     const std::string& targetPath) {
    std::string name = MaildirFileName::withoutSyncUid(fileName);
    size_t info = name.find(":2,");
    if (info == std::string::npos)
        return name;
    return name.substr(0, info + 3) +
           MaildirKeywords::flagsForCopy(name.substr(info + 3), sourcePath, targetPath);
}

} // namespace

MaildirFolder::MaildirFolder(MaildirStore* owner, MaildirFolderInfo info,
                             std::shared_ptr<MaildirUidList> list)
    : folderInfo(std::move(info)), list(std::move(list)) {
    store.assign(owner, true);
}

MaildirFolder::~MaildirFolder() {
    store->notifier().removeAll(this);
    for (StoreEnum* e : enums)
        delete e;
}

HRESULT MaildirFolder::GetFolderProps(std::uint32_t, FOLDERPROPS* props) {
    return store->fillFolderProps(folderInfo, props);
}

std::string MaildirFolder::messagePath(const MaildirMessage& message) const {
    return list->path() + "/" + message.subdir + "/" + message.fileName;
}

HRESULT MaildirFolder::locate(MESSAGEID id, const char* call, MaildirMessage* message,
                              bool refresh) {
    // Ids another process gave since are read first (a stat when there are none).
    if (!refresh && SUCCEEDED(list->refresh()) && list->find(id, message))
        return S_OK;
    HRESULT hr = list->sync();
    if (FAILED(hr))
        return hr;
    if (list->find(id, message))
        return S_OK;
    debugLog("%s(%u) failed: no such message in %s", call, id, list->path().c_str());
    return vanished;
}

template <class Action>
HRESULT MaildirFolder::withMessage(MESSAGEID id, const char* call, Action action) {
    MaildirMessage message;
    HRESULT hr = locate(id, call, &message, false);
    if (FAILED(hr))
        return hr;
    hr = action(message);
    if (hr != vanished)
        return hr;
    hr = locate(id, call, &message, true);
    if (FAILED(hr))
        return hr;
    return action(message);
}

HRESULT MaildirFolder::readProps(MESSAGEID id, MESSAGEPROPS* props) {
    return withMessage(id, "GetMessageProps", [&](const MaildirMessage& message) {
        HRESULT hr = MaildirHeaderReader::read(messagePath(message), props);
        if (SUCCEEDED(hr)) {
            props->dwMessageId = id;
            props->fileName = message.fileName;
        }
        return hr;
    });
}

HRESULT MaildirFolder::GetMessageProps(MESSAGEID id, std::uint32_t, MESSAGEPROPS* props) {
    if (!props)
        return E_POINTER;
    return readProps(id, props);
}

HRESULT MaildirFolder::FreeMessageProps(MESSAGEPROPS* props) {
    if (!props)
        return E_POINTER;
    props->pszSubject.clear();
    props->pszSubject.shrink_to_fit();
    props->pszDisplayFrom.clear();
    props->pszDisplayFrom.shrink_to_fit();
    props->fileName.clear();
    props->fileName.shrink_to_fit();
    return S_OK;
}

HRESULT MaildirFolder::GetFirstMessage(std::uint32_t flags, std::uint32_t, MESSAGEID first,
                                       MESSAGEPROPS* props, HENUMSTORE* handle) {
    if (!props || !handle)
        return E_POINTER;
    *handle = nullptr;
    HRESULT hr = list->sync();
    if (FAILED(hr))
        return hr;
    auto* e = new StoreEnum;
    e->owner = this;
    for (const MaildirMessage& message : list->messages()) {
        if (first == MESSAGEID_FIRST || message.id >= first)
            e->messages.push_back(message.id);
    }
    {
        std::lock_guard<std::mutex> guard(mutex);
        enums.insert(e);
    }
    *handle = e;
    hr = GetNextMessage(e, flags, props);
    if (hr == S_FALSE) {
        GetMessageClose(e);
        *handle = nullptr;
    }
    return hr;
}

HRESULT MaildirFolder::GetNextMessage(HENUMSTORE handle, std::uint32_t, MESSAGEPROPS* props) {
    if (!props)
        return E_POINTER;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!handle || !enums.count(handle))
            return E_INVALIDARG;
    }
    while (handle->next < handle->messages.size()) {
        MESSAGEID id = handle->messages[handle->next++];
        HRESULT hr = readProps(id, props);
        // A message deleted since the listing is skipped (logged by readProps).
        if (hr == vanished)
            continue;
        return hr;
    }
    return S_FALSE;
}

HRESULT MaildirFolder::GetMessageClose(HENUMSTORE handle) {
    if (!handle)
        return S_OK;
    std::lock_guard<std::mutex> guard(mutex);
    if (!enums.erase(handle))
        return E_INVALIDARG;
    delete handle;
    return S_OK;
}

HRESULT MaildirFolder::OpenMessage(MESSAGEID id, IMimeMessage** message) {
    if (!message)
        return E_POINTER;
    *message = nullptr;
    return withMessage(id, "OpenMessage", [&](const MaildirMessage& found) {
        std::string path;
        FILETIME received;
        HRESULT hr = fileOf(found, &path, &received);
        if (FAILED(hr))
            return hr;
        hr = MimeOleLoadMessageFile(path, received, message);
        if (FAILED(hr))
            debugLog("MimeOleLoadMessageFile(%s) failed: %#x", path.c_str(),
                     static_cast<unsigned>(hr));
        return hr;
    });
}

HRESULT MaildirFolder::GetMessageFile(MESSAGEID id, std::string* path, FILETIME* received) {
    if (!path || !received)
        return E_POINTER;
    return withMessage(id, "GetMessageFile",
                       [&](const MaildirMessage& found) { return fileOf(found, path, received); });
}

HRESULT MaildirFolder::fileOf(const MaildirMessage& message, std::string* path,
                              FILETIME* received) const {
    std::string file = messagePath(message);
    struct stat st {};
    if (sysCalls().stat(file.c_str(), &st) != 0)
        return sysError("stat(" + file + ")");
    *path = std::move(file);
    *received = fileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return S_OK;
}

HRESULT MaildirFolder::syncDirectories(const std::set<std::string>& directories) {
    HRESULT first = S_OK;
    for (const std::string& directory : directories) {
        HRESULT hr = MaildirIdFile::syncDirectory(directory);
        if (SUCCEEDED(first) && FAILED(hr))
            first = hr;
    }
    return first;
}

HRESULT MaildirFolder::stageCopy(const MaildirMessage& message, MaildirFolder* target,
                                 std::vector<StagedCopy>& staged) {
    std::string from = messagePath(message);
    const std::string& targetPath = target->list->path();
    StagedCopy copy;
    copy.subdir = message.subdir;
    copy.tmp = targetPath + "/tmp/" + MaildirFileName::uniqueName();
    copy.name = copyName(message.fileName, list->path(), targetPath);
    MaildirSysCalls& sys = sysCalls();
    if (sys.link(from.c_str(), copy.tmp.c_str()) == 0) {
        copy.synced = false;
    } else {
        int error = errno;
        if (error == ENOENT) {
            struct stat st {};
            if (sys.stat(from.c_str(), &st) != 0)
                return vanished; // the source moved: look it up again
        }
        debugLog("%s; copying instead",
                 sysFailure("link(" + from + ", " + copy.tmp + ")", error).c_str());
        HRESULT hr = copyBytes(from, copy.tmp); // synced by itself
        if (FAILED(hr)) {
            if (hr != vanished)
                sys.unlink(copy.tmp.c_str());
            return hr;
        }
    }
    staged.push_back(std::move(copy));
    return S_OK;
}

void MaildirFolder::syncStaged(std::vector<StagedCopy>& staged) {
    parallelFor(staged.size(), syncThreads, [&](std::size_t i, std::size_t) {
        if (!staged[i].synced)
            staged[i].result = syncFile(staged[i].tmp);
    });
}

HRESULT MaildirFolder::placeCopy(const StagedCopy& copy, MaildirFolder* target,
                                 std::set<std::string>& renamedInto) {
    const std::string& targetPath = target->list->path();
    std::string to = targetPath + "/" + copy.subdir + "/" + copy.name;
    MaildirSysCalls& sys = sysCalls();
    // The rename and the new id happen under the target's lock, so two processes never
    // both move the same message in.
    bool present = false;
    HRESULT hr = target->list->addFile(
        copy.subdir, copy.name,
        [&]() -> HRESULT {
            std::string dirPath = targetPath + "/" + copy.subdir;
            struct stat before {};
            struct stat after {};
            bool stamped = sys.stat(dirPath.c_str(), &before) == 0;
            if (sys.rename(copy.tmp.c_str(), to.c_str()) != 0) {
                return sysError("rename(" + copy.tmp + ", " + to + ")");
            }
            if (stamped && sys.stat(dirPath.c_str(), &after) == 0)
                store->noteDirectoryChange(dirPath, before, after, 1, unread(copy.name));
            renamedInto.insert(dirPath);
            return S_OK;
        },
        &present);
    // Already there from an earlier, interrupted run (the unique base name says so), or
    // the move failed: the link in tmp/ is not needed.
    if (present || FAILED(hr))
        sys.unlink(copy.tmp.c_str());
    return hr;
}

HRESULT MaildirFolder::CopyMoveMessages(IStoreFolder* target, const MESSAGEIDLIST* ids,
                                        std::uint32_t, std::uint32_t, void*) {
    if (!target || !ids || (ids->cMsgs > 0 && !ids->prgdwMsgId))
        return E_POINTER;
    auto* targetFolder = dynamic_cast<MaildirFolder*>(target);
    if (!targetFolder || targetFolder->store.get() != store.get()) {
        debugLog("CopyMoveMessages failed: the target folder belongs to another store");
        return E_INVALIDARG;
    }
    if (targetFolder->list == list)
        return S_OK; // a copy into the folder itself is the message itself
    // Group commit: every copy is linked into the target's tmp/ first, then all are
    // fsynced at once from several threads (the file system commits fsyncs that wait
    // together in one journal commit, where one after another each waits for its own),
    // then renamed in order, then every directory renamed into is synced once; only then
    // does the call return, so a caller removes no original before all its copies are on
    // disk. The copies after the first failure are not made, as if copied one by one.
    std::vector<StagedCopy> staged;
    HRESULT stagedUpTo = S_OK; // the failure that ended the staging
    for (std::uint32_t i = 0; i < ids->cMsgs && SUCCEEDED(stagedUpTo); ++i) {
        MESSAGEID id = ids->prgdwMsgId[i];
        stagedUpTo = withMessage(id, "CopyMoveMessages", [&](const MaildirMessage& message) {
            return stageCopy(message, targetFolder, staged);
        });
    }
    syncStaged(staged);
    std::set<std::string> renamedInto;
    HRESULT hr = S_OK;
    for (const StagedCopy& copy : staged) {
        if (SUCCEEDED(hr) && SUCCEEDED(copy.result)) {
            hr = placeCopy(copy, targetFolder, renamedInto); // cleans up after itself
            continue;
        }
        if (SUCCEEDED(hr))
            hr = copy.result;
        sysCalls().unlink(copy.tmp.c_str());
    }
    if (SUCCEEDED(hr))
        hr = stagedUpTo;
    HRESULT synced = syncDirectories(renamedInto);
    return FAILED(hr) ? hr : synced;
}

HRESULT MaildirFolder::DeleteMessages(const MESSAGEIDLIST* ids, std::uint32_t, void*) {
    if (!ids || (ids->cMsgs > 0 && !ids->prgdwMsgId))
        return E_POINTER;
    // The directories are synced once, after every removal of the call.
    std::set<std::string> removedFrom;
    HRESULT hr = S_OK;
    for (std::uint32_t i = 0; i < ids->cMsgs && SUCCEEDED(hr); ++i) {
        MESSAGEID id = ids->prgdwMsgId[i];
        hr = withMessage(id, "DeleteMessages", [&](const MaildirMessage& message) {
            std::string path = messagePath(message);
            std::string dirPath = list->path() + "/" + message.subdir;
            struct stat before {};
            struct stat after {};
            bool stamped = sysCalls().stat(dirPath.c_str(), &before) == 0;
            if (sysCalls().unlink(path.c_str()) == 0) {
                if (stamped && sysCalls().stat(dirPath.c_str(), &after) == 0)
                    store->noteDirectoryChange(dirPath, before, after, -1,
                                               unread(message.fileName));
                // The next listing would notice too; this keeps it O(1).
                list->forgetFile(id);
                removedFrom.insert(dirPath);
                return S_OK;
            }
            return sysError("unlink(" + path + ")");
        });
    }
    HRESULT synced = syncDirectories(removedFrom);
    return FAILED(hr) ? hr : synced;
}

HRESULT MaildirFolder::RegisterNotification(std::uint32_t, INotifySink* sink) {
    return store->notifier().add(this, folderInfo.id, list, sink);
}

HRESULT MaildirFolder::UnregisterNotification(std::uint32_t, INotifySink* sink) {
    return store->notifier().remove(this, sink);
}
