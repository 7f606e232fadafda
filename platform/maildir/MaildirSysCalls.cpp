#include "platform/maildir/MaildirSysCalls.h"

#include <cstring>

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
    calls.close = ::close;
    calls.fstat = ::fstat;
    calls.stat = ::stat;
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
