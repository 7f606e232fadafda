#include "platform/profile/ProfileCache.h"

#include "util/Log.h"
#include "platform/profile/ProfileSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>

namespace {
std::int64_t nanos(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::int64_t wallClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return nanos(now);
}

const std::shared_ptr<const ProfileDocument>& emptyDocument() {
    static const std::shared_ptr<const ProfileDocument> empty =
        std::make_shared<const ProfileDocument>();
    return empty;
}

// Closes a descriptor at the end of a scope (which also drops a lock held on it).
class FileCloser {
public:
    explicit FileCloser(int fd) : fd_(fd) {}
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    ~FileCloser() {
        if (fd_ >= 0)
            ProfileSystem::current().close(fd_);
    }
    // Closes now and reports the result (a close can be the first to report a full disk).
    int closeNow() {
        if (fd_ < 0)
            return 0;
        int result = ProfileSystem::current().close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// What failed: the call's name, its argument and errno.
struct Failure {
    const char* call = nullptr;
    std::string subject;
    int error = 0;
};

// Reads the whole file; an empty call name means success.
constexpr std::size_t maxFileBytes = std::size_t{64} << 20;

Failure loadFile(const std::string& path, std::string& text, struct stat& info) {
    ProfileSystem& system = ProfileSystem::current();
    // Not blocking, and only a regular file of a sane size: a named pipe or a device
    // where a profile is looked for (a home another user controls) is refused, not read
    // without end.
    int fd = system.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
    if (fd < 0)
        return {"open", path, errno};
    FileCloser closer(fd);
    if (system.fstat(fd, &info) != 0)
        return {"fstat", path, errno};
    if (!S_ISREG(info.st_mode))
        return {"read", path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL};
    if (static_cast<std::size_t>(info.st_size) > maxFileBytes)
        return {"read", path, EFBIG};
    text.clear();
    text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t got = system.read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {"read", path, errno};
        if (got == 0)
            return {};
        if (text.size() + static_cast<std::size_t>(got) > maxFileBytes)
            return {"read", path, EFBIG};
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

Failure writeAll(int fd, const std::string& path, const std::string& text) {
    ProfileSystem& system = ProfileSystem::current();
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t put = system.write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return {"write", path, errno};
        if (put == 0)
            return {"write", path, EIO};
        done += static_cast<std::size_t>(put);
    }
    return {};
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Writes go to the file a symbolic link points at, so the link survives the rename.
std::string resolvedPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string result(real);
    std::free(real);
    return result;
}

// Logs the failure; *text (when given) gets "call(subject) failed: reason".
bool report(const char* caller, const Failure& failure, std::string* text = nullptr) {
    std::string line = std::string(failure.call) + "(" + failure.subject +
                       ") failed: " + std::strerror(failure.error);
    debugLog("%s: %s", caller, line.c_str());
    if (text)
        *text = std::move(line);
    return false;
}
} // namespace

ProfileCache& ProfileCache::instance() {
    static ProfileCache cache;
    return cache;
}

std::shared_ptr<const ProfileDocument> ProfileCache::read(const std::string& path,
                                                          std::string* failure) {
    ProfileSystem& system = ProfileSystem::current();
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure)
        failure->clear();
    // A missing file is an empty one; any other failure is worth a word to the caller.
    auto unreadable = [&](const Failure& why) {
        entries_.erase(path);
        if (failure && why.error != ENOENT)
            *failure =
                std::string(why.call) + "(" + why.subject + ") failed: " + std::strerror(why.error);
        return emptyDocument();
    };
    struct stat info {};
    if (system.stat(path.c_str(), &info) != 0)
        return unreadable({"stat", path, errno});
    auto found = entries_.find(path);
    if (found != entries_.end()) {
        const Entry& entry = found->second;
        std::int64_t lastChange = std::max(entry.modified, entry.changed);
        bool racy = std::llabs(entry.loadedAt - lastChange) < racyWindow;
        if (!racy && entry.device == info.st_dev && entry.inode == info.st_ino &&
            entry.size == info.st_size && entry.modified == nanos(info.st_mtim) &&
            entry.changed == nanos(info.st_ctim)) {
            found->second.used = ++uses_;
            return entry.document;
        }
    }
    Entry entry;
    entry.loadedAt = wallClock();
    std::string text;
    struct stat loaded {};
    if (Failure failed = loadFile(path, text, loaded); failed.call)
        return unreadable(failed);
    entry.device = loaded.st_dev;
    entry.inode = loaded.st_ino;
    entry.size = loaded.st_size;
    entry.modified = nanos(loaded.st_mtim);
    entry.changed = nanos(loaded.st_ctim);
    entry.document = std::make_shared<const ProfileDocument>(ProfileDocument::parse(text));
    entry.used = ++uses_;
    entries_[path] = entry;
    // A process that reads many files (a service reading each user's net) keeps the
    // most recently used.
    if (entries_.size() > maxDocuments)
        entries_.erase(
            std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
                return a.second.used < b.second.used;
            }));
    return entry.document;
}

bool ProfileCache::update(const std::string& path, const char* caller,
                          const std::function<bool(ProfileDocument&)>& edit,
                          std::string* failureText) {
    ProfileSystem& system = ProfileSystem::current();
    const std::string target = resolvedPath(path);
    const std::string lockPath = target + ".lock";
    const std::string tempPath = target + ".tmp";

    int lockFd = system.open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0)
        return report(caller, {"open", lockPath, errno}, failureText);
    FileCloser lockCloser(lockFd);
    while (system.flock(lockFd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return report(caller, {"flock", lockPath, errno}, failureText);
    }

    // Read afresh under the lock: another writer may have changed the file since
    // this process last looked, and its keys must survive.
    std::string text;
    struct stat before {};
    Failure loaded = loadFile(target, text, before);
    bool existed = !loaded.call;
    if (loaded.call && loaded.error != ENOENT)
        return report(caller, loaded, failureText);
    ProfileDocument document = ProfileDocument::parse(text);
    if (!edit(document))
        return true;
    const std::string output = document.text();

    int fd = system.open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return report(caller, {"open", tempPath, errno}, failureText);
    FileCloser tempCloser(fd);
    auto abandon = [&](const Failure& failure) {
        tempCloser.closeNow();
        system.unlink(tempPath.c_str());
        return report(caller, failure, failureText);
    };
    if (existed && system.fchmod(fd, before.st_mode & 07777) != 0)
        return abandon({"fchmod", tempPath, errno});
    if (Failure failure = writeAll(fd, tempPath, output); failure.call)
        return abandon(failure);
    if (system.fsync(fd) != 0)
        return abandon({"fsync", tempPath, errno});
    if (tempCloser.closeNow() != 0)
        return abandon({"close", tempPath, errno});
    if (system.rename(tempPath.c_str(), target.c_str()) != 0) {
        int error = errno;
        system.unlink(tempPath.c_str());
        return report(caller, {"rename", tempPath + ", " + target, error}, failureText);
    }

    // The new file is in place; a folder that cannot be synced only risks the rename
    // after a power cut, which is worth a line but is not a failed write.
    const std::string folder = folderOf(target);
    int folderFd = system.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (folderFd < 0) {
        report(caller, {"open", folder, errno});
    } else {
        FileCloser folderCloser(folderFd);
        if (system.fsync(folderFd) != 0)
            report(caller, {"fsync", folder, errno});
    }

    struct stat after {};
    std::int64_t writtenAt = wallClock();
    std::lock_guard<std::mutex> lock(mutex_);
    if (system.stat(path.c_str(), &after) != 0) {
        entries_.erase(path);
        return true;
    }
    Entry entry;
    entry.device = after.st_dev;
    entry.inode = after.st_ino;
    entry.size = after.st_size;
    entry.modified = nanos(after.st_mtim);
    entry.changed = nanos(after.st_ctim);
    entry.loadedAt = writtenAt;
    entry.document = std::make_shared<const ProfileDocument>(std::move(document));
    entries_[path] = std::move(entry);
    return true;
}

void ProfileCache::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}
