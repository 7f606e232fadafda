#pragma once

#include <string>

// An exclusive advisory lock (flock) on a file of its own, held from acquire() until
// release() or destruction: serialises the processes that read, change and write back
// one file, so no change made between another's read and write is lost. The kernel drops
// the lock when the process dies.
class FileLock {
public:
    explicit FileLock(std::string path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock, waiting for its holder when `wait`; true when held. False when the
    // lock file cannot be made or locked (error() says why), or (without `wait`) when
    // another process holds it (error() empty).
    bool acquire(bool wait);
    void release();
    bool held() const { return fd >= 0; }
    const std::string& error() const { return failure; }
    const std::string& path() const { return file; }

private:
    std::string file;
    int fd = -1;
    std::string failure;
};
