#include "platform/maildir/MaildirIdFile.h"

#include "util/Log.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

MaildirIdFile::MaildirIdFile(std::string path) : path(std::move(path)) {}

MaildirIdFile::~MaildirIdFile() {
    if (lockFd >= 0)
        sysCalls().close(lockFd); // closing drops the flock
}

HRESULT MaildirIdFile::lock() {
    std::string lockPath = path + ".lock";
    lockFd = sysCalls().open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) {
        return sysError("open(" + lockPath + ")");
    }
    while (sysCalls().flock(lockFd, LOCK_EX) != 0) {
        int error = errno;
        if (error == EINTR)
            continue;
        debugLog("%s", sysFailure("flock(" + lockPath + ")", error).c_str());
        sysCalls().close(lockFd);
        lockFd = -1;
        return hresultFromErrno(error);
    }
    return S_OK;
}

HRESULT MaildirIdFile::stamp(Stamp* stamp) {
    *stamp = Stamp{};
    struct stat st {};
    if (sysCalls().stat(path.c_str(), &st) != 0) {
        int error = errno;
        if (error == ENOENT)
            return S_OK;
        debugLog("%s", sysFailure("stat(" + path + ")", error).c_str());
        return hresultFromErrno(error);
    }
    *stamp = Stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    return S_OK;
}

HRESULT MaildirIdFile::read(std::string* content) {
    content->clear();
    int fd = sysCalls().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT)
            return S_OK;
        debugLog("%s", sysFailure("open(" + path + ")", error).c_str());
        return hresultFromErrno(error);
    }
    if (readPieces(fd, -1, 65536, [&](const char* data, size_t size) {
            content->append(data, size);
            return true;
        }) != 0) {
        int error = errno;
        debugLog("%s", sysFailure("read(" + path + ")", error).c_str());
        sysCalls().close(fd);
        return hresultFromErrno(error);
    }
    sysCalls().close(fd);
    return S_OK;
}

HRESULT MaildirIdFile::write(const std::string& content) {
    return writeAtomically(path, content);
}

HRESULT MaildirIdFile::writeAtomically(const std::string& path, const std::string& content) {
    std::string tmpPath = path + ".tmp";
    int fd = sysCalls().open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return sysError("open(" + tmpPath + ")");
    }
    auto fail = [&](const std::string& call) {
        int error = errno;
        debugLog("%s", sysFailure(call, error).c_str());
        sysCalls().close(fd);
        sysCalls().unlink(tmpPath.c_str());
        return hresultFromErrno(error);
    };
    if (writeAll(fd, content.data(), content.size()) != 0)
        return fail("write(" + tmpPath + ")");
    if (sysCalls().fsync(fd) != 0)
        return fail("fsync(" + tmpPath + ")");
    if (sysCalls().close(fd) != 0) {
        fd = -1;
        int error = errno;
        debugLog("%s", sysFailure("close(" + tmpPath + ")", error).c_str());
        sysCalls().unlink(tmpPath.c_str());
        return hresultFromErrno(error);
    }
    if (sysCalls().rename(tmpPath.c_str(), path.c_str()) != 0) {
        int error = errno;
        debugLog("%s", sysFailure("rename(" + tmpPath + ", " + path + ")", error).c_str());
        sysCalls().unlink(tmpPath.c_str());
        return hresultFromErrno(error);
    }
    size_t slash = path.rfind('/');
    return syncDirectory(slash == std::string::npos ? "." : path.substr(0, slash));
}

HRESULT MaildirIdFile::syncDirectory(const std::string& path) {
    return syncPath(path, true);
}

HRESULT MaildirIdFile::syncPath(const std::string& path, bool directory) {
    int fd = sysCalls().open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0), 0);
    if (fd < 0) {
        return sysError("open(" + path + ")");
    }
    if (sysCalls().fsync(fd) != 0) {
        int error = errno;
        debugLog("%s", sysFailure("fsync(" + path + ")", error).c_str());
        sysCalls().close(fd);
        return hresultFromErrno(error);
    }
    sysCalls().close(fd);
    return S_OK;
}
