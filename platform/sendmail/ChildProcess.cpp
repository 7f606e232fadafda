#include "platform/sendmail/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Writing to a command that exits early must not kill us with SIGPIPE: block it for
// this thread while writing and drop a pending one afterwards.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set, &previous);
    }
    ~SigpipeBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        timespec zero{0, 0};
        while (sigtimedwait(&set, nullptr, &zero) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

private:
    sigset_t previous;
};

} // namespace

ChildProcess::Result ChildProcess::run(const std::vector<std::string>& argv,
                                       const std::string& input) {
    Result result;
    if (argv.empty()) {
        result.failure = "no command";
        return result;
    }
    int in[2], err[2], exec[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        result.failure = std::string("pipe failed: ") + std::strerror(errno);
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0 || pipe2(exec, O_CLOEXEC) != 0) {
        result.failure = std::string("pipe failed: ") + std::strerror(errno);
        close(in[0]);
        close(in[1]);
        return result;
    }
    std::vector<char*> args;
    for (const std::string& word : argv)
        args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        result.failure = std::string("fork failed: ") + std::strerror(errno);
        for (int fd : {in[0], in[1], err[0], err[1], exec[0], exec[1]})
            close(fd);
        return result;
    }
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(err[1], 2);
        execvp(args[0], args.data());
        int error = errno;
        ssize_t ignored = write(exec[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    close(in[0]);
    close(err[1]);
    close(exec[1]);

    int execError = 0;
    ssize_t n;
    do {
        n = read(exec[0], &execError, sizeof execError);
    } while (n < 0 && errno == EINTR);
    close(exec[0]);
    if (n == static_cast<ssize_t>(sizeof execError)) {
        closeFd(in[1]);
        closeFd(err[0]);
        waitpid(pid, nullptr, 0);
        result.failure = std::strerror(execError);
        return result;
    }
    result.started = true;

    // Feed standard input while draining standard error, so neither side can block.
    {
        SigpipeBlock block;
        std::size_t written = 0;
        fcntl(in[1], F_SETFL, O_NONBLOCK);
        while (in[1] >= 0 || err[0] >= 0) {
            pollfd fds[2];
            int count = 0;
            if (in[1] >= 0)
                fds[count++] = {in[1], POLLOUT, 0};
            if (err[0] >= 0)
                fds[count++] = {err[0], POLLIN, 0};
            if (poll(fds, count, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            for (int i = 0; i < count; ++i) {
                if (fds[i].fd == in[1] && fds[i].revents) {
                    ssize_t w = write(in[1], input.data() + written, input.size() - written);
                    if (w > 0)
                        written += static_cast<std::size_t>(w);
                    if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == input.size())
                        closeFd(in[1]);
                } else if (fds[i].fd == err[0] && fds[i].revents) {
                    char buffer[1024];
                    ssize_t r = read(err[0], buffer, sizeof buffer);
                    if (r > 0) {
                        if (result.errorOutput.size() < 4096)
                            result.errorOutput.append(buffer, static_cast<std::size_t>(r));
                    } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                        closeFd(err[0]);
                    }
                }
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    if (result.errorOutput.size() > 4096)
        result.errorOutput.resize(4096);
    return result;
}
