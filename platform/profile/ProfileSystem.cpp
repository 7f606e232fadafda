#include "platform/profile/ProfileSystem.h"

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
ProfileSystem realSystem;
std::atomic<ProfileSystem*> installed{nullptr};
} // namespace

int ProfileSystem::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int ProfileSystem::close(int fd) {
    return ::close(fd);
}

ssize_t ProfileSystem::read(int fd, void* data, size_t size) {
    return ::read(fd, data, size);
}

ssize_t ProfileSystem::write(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}

int ProfileSystem::fsync(int fd) {
    return ::fsync(fd);
}

int ProfileSystem::fstat(int fd, struct stat* info) {
    return ::fstat(fd, info);
}

int ProfileSystem::stat(const char* path, struct stat* info) {
    return ::stat(path, info);
}

int ProfileSystem::fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}

int ProfileSystem::flock(int fd, int operation) {
    return ::flock(fd, operation);
}

int ProfileSystem::rename(const char* from, const char* to) {
    return ::rename(from, to);
}

int ProfileSystem::unlink(const char* path) {
    return ::unlink(path);
}

ProfileSystem& ProfileSystem::current() {
    ProfileSystem* system = installed.load(std::memory_order_acquire);
    return system ? *system : realSystem;
}

ProfileSystem* ProfileSystem::install(ProfileSystem* system) {
    ProfileSystem* previous = installed.exchange(system, std::memory_order_acq_rel);
    return previous;
}
