#pragma once

#include "platform/maildir/MaildirSysCalls.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

// Records the store's writes, fsyncs and renames in order, by path ("write <path>",
// "fsync <path>", "rename <to>"), while it lives; the calls themselves are the real ones.
// Durability is a matter of order: a record must be fsynced before its id is handed out,
// a renamed file's folder fsynced before the copy counts as done.
class SysCallLog {
public:
    SysCallLog() {
        active() = this;
        MaildirSysCalls& sys = sysCalls();
        sys.open = [](const char* path, int flags, mode_t mode) {
            int fd = ::open(path, flags, mode);
            if (fd >= 0)
                active()->note(fd, path);
            return fd;
        };
        sys.close = [](int fd) {
            active()->forget(fd);
            return ::close(fd);
        };
        sys.write = [](int fd, const void* data, size_t size) {
            active()->add("write", fd);
            return ::write(fd, data, size);
        };
        sys.fsync = [](int fd) {
            active()->add("fsync", fd);
            return ::fsync(fd);
        };
        sys.rename = [](const char* from, const char* to) {
            active()->add(std::string("rename ") + to);
            return ::rename(from, to);
        };
    }
    ~SysCallLog() {
        resetSysCalls();
        active() = nullptr;
    }
    SysCallLog(const SysCallLog&) = delete;
    SysCallLog& operator=(const SysCallLog&) = delete;

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> guard(mutex);
        return recorded;
    }
    // The position of the last call that is exactly entry, or -1.
    int last(const std::string& entry) const {
        std::vector<std::string> all = calls();
        for (int i = static_cast<int>(all.size()) - 1; i >= 0; --i)
            if (all[static_cast<std::size_t>(i)] == entry)
                return i;
        return -1;
    }

private:
    static SysCallLog*& active() {
        static SysCallLog* log = nullptr;
        return log;
    }
    void note(int fd, const char* path) {
        std::lock_guard<std::mutex> guard(mutex);
        paths[fd] = path;
    }
    void forget(int fd) {
        std::lock_guard<std::mutex> guard(mutex);
        paths.erase(fd);
    }
    void add(const char* call, int fd) {
        std::lock_guard<std::mutex> guard(mutex);
        auto found = paths.find(fd);
        recorded.push_back(std::string(call) + " " +
                           (found == paths.end() ? "fd" + std::to_string(fd) : found->second));
    }
    void add(std::string entry) {
        std::lock_guard<std::mutex> guard(mutex);
        recorded.push_back(std::move(entry));
    }

    mutable std::mutex mutex;
    std::map<int, std::string> paths;
    std::vector<std::string> recorded;
};
