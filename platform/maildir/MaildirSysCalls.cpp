#include "platform/maildir/MaildirSysCalls.h"

#include "util/Log.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

MaildirSysCalls realCalls() {
    MaildirSysCalls calls{};
    calls.open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
    calls.read = ::read;
    calls.write = ::write;
    calls.pread = ::pread;
    calls.ftruncate = ::ftruncate;
    calls.fsync = ::fsync;
    calls.syncfs = ::syncfs;
    calls.close = ::close;
    calls.fstat = ::fstat;
    calls.stat = ::stat;
    calls.lstat = ::lstat;
    calls.rename = ::rename;
    calls.link = ::link;
    calls.unlink = ::unlink;
    calls.mkdir = ::mkdir;
    calls.flock = ::flock;
    calls.futimens = ::futimens;
    return calls;
}

MaildirSysCalls current = realCalls();

} // namespace

MaildirSysCalls& sysCalls() {
    return current;
}

void resetSysCalls() {
    current = realCalls();
}

std::string sysFailure(const std::string& call, int error) {
    return call + " failed: " + std::strerror(error);
}

HRESULT sysError(const std::string& call) {
    int error = errno;
    debugLog("%s", sysFailure(call, error).c_str());
    return hresultFromErrno(error);
}

int readPieces(int fd, off_t at, std::size_t pieceSize,
               const std::function<bool(const char* data, std::size_t size)>& take) {
    // Not filled first: clearing a buffer of 64 KB cost a delivery more than reading it.
    std::unique_ptr<char[]> buffer(new char[pieceSize]);
    while (true) {
        ssize_t got = at < 0 ? current.read(fd, buffer.get(), pieceSize)
                             : current.pread(fd, buffer.get(), pieceSize, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0 || !take(buffer.get(), static_cast<std::size_t>(got)))
            return 0;
        if (at >= 0)
            at += got;
    }
}

int writeAll(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        ssize_t wrote = current.write(fd, data + done, size - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return -1;
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}
