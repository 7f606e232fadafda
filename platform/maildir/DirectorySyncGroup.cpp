#include "platform/maildir/DirectorySyncGroup.h"

#include "platform/maildir/MaildirSysCalls.h"

#include <map>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

DirectorySyncGroup::DirectorySyncGroup(std::chrono::microseconds gatherTime)
    : gatherTime(gatherTime) {}

void DirectorySyncGroup::enter() {
    std::lock_guard<std::mutex> lock(mutex);
    ++writing;
}

void DirectorySyncGroup::leave() {
    std::lock_guard<std::mutex> lock(mutex);
    --writing;
    changed.notify_all();
}

std::uint64_t DirectorySyncGroup::groupCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return groups;
}

std::uint64_t DirectorySyncGroup::syncCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return syncs;
}

void DirectorySyncGroup::syncBatch(Batch& batch) {
    MaildirSysCalls& sys = sysCalls();
    // One fsync per folder: the same folder opened by two deliveries is one inode.
    std::map<std::pair<dev_t, ino_t>, int> results;
    for (Batch::Entry& entry : batch.entries) {
        struct stat st {};
        if (sys.fstat(entry.fd, &st) != 0) {
            entry.error = errno;
            continue;
        }
        auto [found, first] = results.try_emplace({st.st_dev, st.st_ino}, 0);
        if (first) {
            found->second = sys.fsync(entry.fd) == 0 ? 0 : errno;
            std::lock_guard<std::mutex> lock(mutex);
            ++syncs;
        }
        entry.error = found->second;
    }
}

HRESULT DirectorySyncGroup::sync(const std::vector<std::string>& folders, std::string* failure) {
    MaildirSysCalls& sys = sysCalls();
    // Opened by the calling thread: it may act as a user the syncing thread does not.
    std::vector<int> fds;
    HRESULT result = S_OK;
    for (const std::string& folder : folders) {
        int fd = sys.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (fd < 0) {
            *failure = sysFailure("open(" + folder + ")", errno);
            result = hresultFromErrno(errno);
            break;
        }
        fds.push_back(fd);
    }
    std::unique_lock<std::mutex> lock(mutex);
    --writing;
    changed.notify_all();
    if (FAILED(result)) {
        lock.unlock();
        for (int fd : fds)
            sys.close(fd);
        return result;
    }
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
        changed.wait_for(lock, gatherTime, [this] { return writing <= 0; });
        std::shared_ptr<Batch> taken = std::exchange(next, std::make_shared<Batch>());
        ++groups;
        lock.unlock();
        syncBatch(*taken);
        lock.lock();
        taken->done = true;
        syncing = false;
        changed.notify_all();
    }
    std::vector<Batch::Entry> entries(mine->entries.begin() + static_cast<std::ptrdiff_t>(first),
                                      mine->entries.begin() +
                                          static_cast<std::ptrdiff_t>(first + fds.size()));
    lock.unlock();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].error != 0 && SUCCEEDED(result)) {
            *failure = sysFailure("fsync(" + folders[i] + ")", entries[i].error);
            result = hresultFromErrno(entries[i].error);
        }
        sys.close(entries[i].fd);
    }
    return result;
}
