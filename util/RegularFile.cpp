#include "util/RegularFile.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool replaceFileUnsynced(const std::string& path, const std::string& bytes) {
    std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (std::size_t done = 0; written && done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    if (fd >= 0 && ::close(fd) != 0)
        written = false;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}

bool readRegularFile(const std::string& path, std::size_t limit, std::string* text) {
    // Not blocking: a named pipe opened for reading would wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    else if (static_cast<unsigned long long>(st.st_size) > limit)
        error = EFBIG;
    text->clear();
    char buffer[65536];
    while (!error) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = errno;
        if (got <= 0)
            break;
        if (text->size() + static_cast<std::size_t>(got) > limit)
            error = EFBIG;
        else
            text->append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    errno = error;
    return error == 0;
}
