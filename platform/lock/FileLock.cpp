#include "platform/lock/FileLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

FileLock::FileLock(std::string path) : file(std::move(path)) {}

FileLock::~FileLock() {
    release();
}

bool FileLock::acquire(bool wait) {
    failure.clear();
    if (fd >= 0)
        return true;
    int opened = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (opened < 0) {
        failure = "open(" + file + ") failed: " + std::strerror(errno);
        return false;
    }
    while (::flock(opened, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            failure = "flock(" + file + ") failed: " + std::strerror(errno);
        ::close(opened);
        return false;
    }
    fd = opened;
    return true;
}

void FileLock::release() {
    if (fd < 0)
        return;
    ::close(fd);
    fd = -1;
}
