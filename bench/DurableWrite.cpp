// The least a delivery agent started once per message must do: read the message and make
// it durable in a Maildir folder, with nothing else (no parsing, no matching). Timed in the
// same run as deliver and its peers, it shows how much of a delivery's time no agent can
// save on this machine.
//
// durable_write FOLDER [file-only]: the message on standard input goes to FOLDER/tmp/,
// is fsynced, renamed into FOLDER/new/, and FOLDER/new/ is fsynced, as deliver does; with
// "file-only", the folder is not fsynced (what procmail and maildrop do).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "durable_write: %s: %s\n", what, std::strerror(errno));
    return 75;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: durable_write FOLDER [file-only]\n");
        return 64;
    }
    std::string folder = argv[1];
    bool syncFolder = argc < 3 || std::strcmp(argv[2], "file-only") != 0;
    std::string message;
    char buffer[65536];
    for (ssize_t got; (got = read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail("read");
        message.append(buffer, static_cast<std::size_t>(got));
    }
    timeval now{};
    gettimeofday(&now, nullptr);
    std::string name = std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_usec) + "P" +
                       std::to_string(getpid()) + ".bench";
    std::string temporary = folder + "/tmp/" + name, final = folder + "/new/" + name;
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("open");
    if (write(fd, message.data(), message.size()) != static_cast<ssize_t>(message.size()) ||
        fsync(fd) != 0 || close(fd) != 0)
        return fail("write");
    if (rename(temporary.c_str(), final.c_str()) != 0)
        return fail("rename");
    if (syncFolder) {
        int directory = open((folder + "/new").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0 || fsync(directory) != 0)
            return fail("fsync new/");
        close(directory);
    }
    return 0;
}
