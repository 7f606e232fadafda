#include "tests/servers/ServiceRun.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

ServiceRun::ServiceRun(std::vector<std::string> arguments) {
    // Everything the child needs is made before fork(): the test process has threads.
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t parent = getpid();

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
    pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(null, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(125);
        execv(argv[0], argv.data());
        std::string error = arguments[0] + ": " + std::strerror(errno) + "\n";
        if (write(2, error.data(), error.size()) < 0) {
        }
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
    }
    outFd = out[0];
}

ServiceRun::~ServiceRun() {
    stop();
}

bool ServiceRun::readSome(int milliseconds) {
    pollfd fd{outFd, POLLIN, 0};
    int ready = poll(&fd, 1, milliseconds);
    if (ready <= 0)
        return ready < 0 && errno == EINTR;
    char buffer[4096];
    ssize_t got = read(outFd, buffer, sizeof buffer);
    if (got > 0) {
        text.append(buffer, static_cast<size_t>(got));
        return true;
    }
    close(outFd); // the program and all it started closed their output
    outFd = -1;
    return false;
}

bool ServiceRun::waitFor(const std::function<bool(const std::string&)>& seen, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!seen(text)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (outFd < 0 || left.count() <= 0)
            return false;
        readSome(static_cast<int>(left.count()));
    }
    return true;
}

const std::string& ServiceRun::output() {
    while (outFd >= 0 && readSome(0)) {
    }
    return text;
}

int ServiceRun::stop(int signal) {
    if (pid > 0) {
        kill(-pid, signal);
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        kill(-pid, SIGKILL);
        pid = -1;
    }
    if (outFd >= 0) {
        output();
        close(outFd);
        outFd = -1;
    }
    return status;
}
