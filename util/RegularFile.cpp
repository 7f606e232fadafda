#include "util/RegularFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
