#include "tests/servers/ProgramRun.h"

#include "tests/servers/MailUser.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ProgramRun::ProgramRun(std::vector<std::string> arguments) : arguments(std::move(arguments)) {}

ProgramRun& ProgramRun::set(const std::string& variable, const std::string& value) {
    variables[variable] = value;
    return *this;
}

ProgramRun& ProgramRun::input(std::string textIn) {
    stdinText = std::move(textIn);
    return *this;
}

ProgramRun& ProgramRun::in(std::string workingFolder) {
    folder = std::move(workingFolder);
    return *this;
}

std::string ProgramRun::find(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::istringstream folders(std::string(path ? path : "") + ":/usr/sbin:/usr/bin:/sbin:/bin");
    for (std::string dir; std::getline(folders, dir, ':');) {
        std::string candidate = dir + "/" + name;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

int ProgramRun::run() {
    text.clear();
    status = -1;
    std::string program = find(arguments.at(0));
    if (program.empty()) {
        text = arguments[0] + " is not installed";
        return status;
    }
    // Everything the child needs is made before fork(): the test process has threads.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string item = *entry;
        if (!variables.count(item.substr(0, item.find('='))))
            environment.push_back(item);
    }
    for (const auto& [name, value] : variables)
        environment.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (std::string& item : environment)
        envp.push_back(item.data());
    envp.push_back(nullptr);
    const MailUser& user = MailUser::get();
    bool switchUser = user.switches();

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        text = std::string("pipe failed: ") + std::strerror(errno);
        return status;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (!folder.empty() && chdir(folder.c_str()) != 0)
            _exit(126);
        if (switchUser &&
            (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0))
            _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        text = std::string("fork failed: ") + std::strerror(errno);
        return status;
    }
    // Input is written by a thread of its own, so a program that writes much before it
    // reads cannot block both sides.
    std::thread writer([fd = in[1], data = stdinText] {
        // A program that exits without reading all of it gives EPIPE, not a signal.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        for (size_t done = 0; done < data.size();) {
            ssize_t wrote = write(fd, data.data() + done, data.size() - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                break;
            done += static_cast<size_t>(wrote);
        }
        close(fd);
    });
    char buffer[65536];
    for (;;) {
        ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    writer.join();
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return status;
}

std::string ProgramRun::report() const {
    std::string line;
    for (const std::string& argument : arguments)
        line += (line.empty() ? "" : " ") + argument;
    return line + ": exit " + std::to_string(status) + "\n" + text;
}
