#include "tests/servers/LmtpService.h"

#include "tests/servers/BrevaloWorld.h"
#include "tests/servers/MailUser.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

LmtpService::LmtpService(std::string socketPath, std::vector<std::string> options, bool asRoot)
    : path(std::move(socketPath)), options(std::move(options)), asRoot(asRoot) {}

LmtpService::~LmtpService() {
    kill();
}

LmtpService& LmtpService::set(const std::string& variable, const std::string& value) {
    variables[variable] = value;
    return *this;
}

void LmtpService::start() {
    std::vector<std::string> arguments = {BrevaloWorld::program(), "lmtp", "--socket", path};
    arguments.insert(arguments.end(), options.begin(), options.end());
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
    bool switchUser = !asRoot && user.switches();
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 2);
        if (switchUser &&
            (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0))
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);
    errorFd = pipeFds[0];
    // Its first line says where it listens, or why it cannot.
    std::size_t from = text.size();
    while (text.find('\n', from) == std::string::npos) {
        char buffer[4096];
        ssize_t got = read(errorFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (text.find("listening on", from) == std::string::npos) {
        kill();
        throw std::runtime_error("brevalo-cli lmtp did not start: " + text);
    }
}

void LmtpService::collect(bool all) {
    if (errorFd < 0)
        return;
    for (;;) {
        pollfd watched{errorFd, POLLIN, 0};
        if (!all && poll(&watched, 1, 0) <= 0)
            return;
        char buffer[4096];
        ssize_t got = read(errorFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            close(errorFd);
            errorFd = -1;
            return;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string LmtpService::output() {
    collect(false);
    return text;
}

void LmtpService::kill() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    collect(true);
}

int LmtpService::stop() {
    int status = -1;
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        collect(true);
        waitpid(pid, &status, 0);
        pid = -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
