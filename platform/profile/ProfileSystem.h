#pragma once

#include <sys/stat.h>
#include <sys/types.h>

// The system calls the profile files make, behind one seam so tests can make them
// fail (a full disk, a read-only folder) without a real full disk. Each call keeps
// the POSIX contract: -1 (or a null result) with errno set on failure.
class ProfileSystem {
public:
    virtual ~ProfileSystem() = default;

    virtual int open(const char* path, int flags, mode_t mode);
    virtual int close(int fd);
    virtual ssize_t read(int fd, void* data, size_t size);
    virtual ssize_t write(int fd, const void* data, size_t size);
    virtual int fsync(int fd);
    virtual int fstat(int fd, struct stat* info);
    virtual int stat(const char* path, struct stat* info);
    virtual int fchmod(int fd, mode_t mode);
    virtual int flock(int fd, int operation);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);

    // The calls in use: the real ones unless a test installed its own.
    static ProfileSystem& current();
    // Installs `system` for the whole process (null restores the real calls) and
    // returns the one installed before. Not meant to race with profile calls.
    static ProfileSystem* install(ProfileSystem* system);
};
