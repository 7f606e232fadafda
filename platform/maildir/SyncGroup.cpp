#include "platform/maildir/SyncGroup.h"

#include "platform/maildir/MaildirSysCalls.h"

#include <map>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

SyncGroup::SyncGroup(std::chrono::microseconds gatherTime) : gatherTime(gatherTime) {}

void SyncGroup::enter() {
    std::lock_guard<std::mutex> lock(mutex);
    ++working;
}

void SyncGroup::leave() {
    std::lock_guard<std::mutex> lock(mutex);
    --working;
    changed.notify_all();
}

std::uint64_t SyncGroup::groupCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return groups;
}

std::uint64_t SyncGroup::syncCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return syncs;
}

void SyncGroup::syncBatch(Batch& batch) {
    MaildirSysCalls& sys = sysCalls();
    // Per file system, each inode once (a folder opened by two deliveries, a file linked
    // into two folders): its entries, and the error of its sync.
    struct Inodes {
        std::map<ino_t, std::vector<Batch::Entry*>> entries;
    };
    std::map<dev_t, Inodes> systems;
    for (Batch::Entry& entry : batch.entries) {
        struct stat st {};
        if (sys.fstat(entry.fd, &st) != 0)
            entry.error = errno;
        else
            systems[st.st_dev].entries[st.st_ino].push_back(&entry);
    }
    std::uint64_t made = 0;
    for (auto& [device, inodes] : systems) {
        if (inodes.entries.size() > mostSyncedOneByOne) {
            int fd = inodes.entries.begin()->second.front()->fd;
            int error = sys.syncfs(fd) == 0 ? 0 : errno;
            ++made;
            for (auto& [inode, entries] : inodes.entries)
                for (Batch::Entry* entry : entries) {
                    entry->error = error;
                    entry->whole = true;
                }
            continue;
        }
        for (auto& [inode, entries] : inodes.entries) {
            int error = sys.fsync(entries.front()->fd) == 0 ? 0 : errno;
            ++made;
            for (Batch::Entry* entry : entries)
                entry->error = error;
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    syncs += made;
}

HRESULT SyncGroup::sync(const std::vector<std::string>& paths, bool more, std::string* failure) {
    MaildirSysCalls& sys = sysCalls();
    // Opened by the calling thread: it may act as a user the syncing thread does not.
    std::vector<int> fds;
    HRESULT result = S_OK;
    for (const std::string& path : paths) {
        int fd = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0) {
            *failure = sysFailure("open(" + path + ")", errno);
            result = hresultFromErrno(errno);
            break;
        }
        fds.push_back(fd);
    }
    std::unique_lock<std::mutex> lock(mutex);
    --working;
    changed.notify_all();
    std::vector<Batch::Entry> entries;
    if (SUCCEEDED(result)) {
        std::shared_ptr<Batch> mine = next;
        std::size_t first = mine->entries.size();
        for (int fd : fds)
            mine->entries.push_back({fd});
        while (!mine->done) {
            if (syncing) {
                changed.wait(lock);
                continue;
            }
            syncing = true;
            changed.wait_for(lock, gatherTime, [this] { return working <= 0; });
            std::shared_ptr<Batch> taken = std::exchange(next, std::make_shared<Batch>());
            ++groups;
            lock.unlock();
            syncBatch(*taken);
            lock.lock();
            taken->done = true;
            syncing = false;
            changed.notify_all();
        }
        auto from = mine->entries.begin() + static_cast<std::ptrdiff_t>(first);
        entries.assign(from, from + static_cast<std::ptrdiff_t>(fds.size()));
    }
    if (more)
        ++working;
    lock.unlock();
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].error != 0 && SUCCEEDED(result)) {
            *failure = sysFailure((entries[i].whole ? "syncfs(" : "fsync(") + paths[i] + ")",
                                  entries[i].error);
            result = hresultFromErrno(entries[i].error);
        }
    for (int fd : fds)
        sys.close(fd);
    return result;
}
