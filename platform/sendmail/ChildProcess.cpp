#include "platform/sendmail/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <unistd.h>

namespace {

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

using Clock = std::chrono::steady_clock;

// Milliseconds to wait in poll() until the deadline (-1: none), at most step when the
// child's end cannot be polled for.
int waitMs(bool limited, Clock::time_point deadline, int step) {
    if (!limited)
        return step;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return step < 0 || left < step ? static_cast<int>(left) : step;
}

} // namespace

ChildProcess::Result ChildProcess::run(const std::vector<std::string>& argv, int inputFd,
                                       int timeLimitSeconds) {
    Result result;
    if (argv.empty()) {
        result.failure = "no command";
        return result;
    }
    int err[2], exec[2];
    if (pipe2(err, O_CLOEXEC) != 0) {
        result.failure = std::string("pipe failed: ") + std::strerror(errno);
        return result;
    }
    if (pipe2(exec, O_CLOEXEC) != 0) {
        result.failure = std::string("pipe failed: ") + std::strerror(errno);
        close(err[0]);
        close(err[1]);
        return result;
    }
    std::vector<char*> args;
    for (const std::string& word : argv)
        args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    // Started by a root service's thread acting on files as a user (setfsuid), the command
    // runs as that user, whose mail it sends, with the user's HOME, USER and LOGNAME:
    // made here, as the child may only make system calls.
    uid_t fsuid = static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1)));
    gid_t fsgid = static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1)));
    bool asUser = getuid() == 0 && fsuid != 0;
    std::vector<std::string> userEnvironment;
    std::vector<char*> userEnvp;
    if (asUser) {
        passwd entry{}, *found = nullptr;
        std::vector<char> buffer(16384);
        bool known = getpwuid_r(fsuid, &entry, buffer.data(), buffer.size(), &found) == 0 && found;
        for (char** item = environ; *item; ++item) {
            std::string_view text(*item);
            if (!known || !(text.starts_with("HOME=") || text.starts_with("USER=") ||
                            text.starts_with("LOGNAME=")))
                userEnvironment.emplace_back(text);
        }
        if (known)
            for (const char* name : {"USER=", "LOGNAME="})
                userEnvironment.push_back(name + std::string(found->pw_name));
        if (known)
            userEnvironment.push_back("HOME=" + std::string(found->pw_dir));
        for (std::string& item : userEnvironment)
            userEnvp.push_back(item.data());
        userEnvp.push_back(nullptr);
    }

    // A parent may hand SIGCHLD on ignored: the kernel would then reap the child and take
    // its exit status with it.
    struct sigaction child = {};
    if (sigaction(SIGCHLD, nullptr, &child) == 0 && child.sa_handler == SIG_IGN)
        signal(SIGCHLD, SIG_DFL);
    pid_t pid = fork();
    if (pid < 0) {
        result.failure = std::string("fork failed: ") + std::strerror(errno);
        for (int fd : {err[0], err[1], exec[0], exec[1]})
            close(fd);
        return result;
    }
    if (pid == 0) {
        // Its own group, so that the time limit ends whatever it started too.
        setpgid(0, 0);
        // A service blocks the signals it reads and ignores SIGPIPE: the command starts
        // with neither, as from a shell.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        if (asUser) {
            if (setgroups(0, nullptr) != 0 || setgid(fsgid) != 0 || setuid(fsuid) != 0) {
                int error = errno;
                ssize_t ignored = write(exec[1], &error, sizeof error);
                (void)ignored;
                _exit(127);
            }
            environ = userEnvp.data();
        }
        dup2(inputFd, 0);
        // What it prints goes with its standard error: a terminal set to stop background
        // writers would otherwise stop it until the time limit kills it.
        dup2(err[1], 1);
        dup2(err[1], 2);
        execvp(args[0], args.data());
        int error = errno;
        ssize_t ignored = write(exec[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    setpgid(pid, pid); // as the child does: whichever runs first
    close(err[1]);
    close(exec[1]);

    int execError = 0;
    ssize_t n;
    do {
        n = read(exec[0], &execError, sizeof execError);
    } while (n < 0 && errno == EINTR);
    close(exec[0]);
    if (n == static_cast<ssize_t>(sizeof execError)) {
        closeFd(err[0]);
        waitpid(pid, nullptr, 0);
        result.failure = std::strerror(execError);
        return result;
    }
    result.started = true;

    // Drain standard error until the child ends or the time is up. The child's end is
    // polled for through a pidfd: something it left running may keep standard error open.
    bool limited = timeLimitSeconds > 0;
    Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(limited ? timeLimitSeconds : 0);
    int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    bool reaped = false;
    while (!reaped) {
        pollfd fds[2];
        int count = 0;
        if (err[0] >= 0)
            fds[count++] = {err[0], POLLIN, 0};
        if (pidFd >= 0)
            fds[count++] = {pidFd, POLLIN, 0};
        // Without a pidfd (an old kernel) the child's end is looked for every 100 ms.
        int ready =
            poll(fds, static_cast<nfds_t>(count), waitMs(limited, deadline, pidFd >= 0 ? -1 : 100));
        if (ready < 0 && errno != EINTR) {
            // The limit still holds: look again for the child's end in a moment.
            pollfd none{};
            poll(&none, 0, 100);
        }
        if (err[0] >= 0 && ready > 0 && fds[0].revents) {
            char buffer[1024];
            ssize_t r = read(err[0], buffer, sizeof buffer);
            if (r > 0 && result.errorOutput.size() < 4096)
                result.errorOutput.append(buffer, static_cast<std::size_t>(r));
            else if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR))
                closeFd(err[0]);
        }
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done < 0 && errno == ECHILD) {
            // Reaped by the kernel (SIGCHLD ignored): it ended, its status is unknown.
            result.statusUnknown = true;
            status = 0;
            break;
        }
        reaped = done == pid;
        if (!reaped && limited && Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL); // in case it had not yet become the group's leader
            result.timedOut = true;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            reaped = true;
        }
    }
    if (!reaped && !result.statusUnknown)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    // What the child wrote just before it ended.
    if (err[0] >= 0) {
        fcntl(err[0], F_SETFL, O_NONBLOCK);
        char buffer[1024];
        for (ssize_t r;
             result.errorOutput.size() < 4096 && (r = read(err[0], buffer, sizeof buffer)) > 0;)
            result.errorOutput.append(buffer, static_cast<std::size_t>(r));
    }
    closeFd(err[0]);
    closeFd(pidFd);
    if (result.statusUnknown) {
        result.exitStatus = -1;
    } else if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    if (result.errorOutput.size() > 4096)
        result.errorOutput.resize(4096);
    return result;
}
