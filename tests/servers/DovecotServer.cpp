#include "tests/servers/DovecotServer.h"

#include "tests/servers/MailUser.h"
#include "tests/servers/ProgramRun.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const dovecotImap = "/usr/lib/dovecot/imap";
const char* const dovecotPop3 = "/usr/lib/dovecot/pop3";

// Ports nobody listens on now: the kernel picks them for sockets bound to port 0; they
// are closed again for Dovecot to take (start() tries again if one is taken meanwhile).
std::vector<int> freePorts(int count) {
    std::vector<int> sockets, ports;
    for (int i = 0; i < count; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error(std::string("no free port: ") + std::strerror(errno));
        sockets.push_back(fd);
        ports.push_back(ntohs(address.sin_port));
    }
    for (int fd : sockets)
        close(fd);
    return ports;
}

} // namespace

std::string DovecotServer::missing() {
    std::string what;
    if (ProgramRun::find("dovecot").empty())
        what += " dovecot-core";
    if (access(dovecotImap, X_OK) != 0)
        what += " dovecot-imapd";
    if (access(dovecotPop3, X_OK) != 0)
        what += " dovecot-pop3d";
    if (what.empty())
        return {};
    return "Dovecot is not installed (missing:" + what + "; scripts/setup installs it)";
}

DovecotServer::DovecotServer(const std::string& maildir)
    : scratch("dovecot"), mailPath(maildir.empty() ? scratch / "Maildir" : maildir) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (start())
            return;
    }
    std::string text = log();
    stop();
    throw std::runtime_error("Dovecot found no free ports:\n" + text);
}

DovecotServer::~DovecotServer() {
    stop();
}

std::string DovecotServer::configuration() const {
    const MailUser& account = MailUser::get();
    std::string listener = "    address = 127.0.0.1\n";
    return "# Throw-away configuration of a test: loopback only, plain text, one user.\n"
           "base_dir = " +
           scratch / "run" +
           "\n"
           "state_dir = " +
           scratch / "state" +
           "\n"
           "listen = 127.0.0.1\n"
           "protocols = imap pop3\n"
           "ssl = no\n"
           "disable_plaintext_auth = no\n"
           "auth_mechanisms = plain login\n"
           "log_path = /dev/stderr\n"
           "default_internal_user = " +
           account.name +
           "\n"
           "default_internal_group = " +
           account.group +
           "\n"
           "default_login_user = " +
           account.name +
           "\n"
           "first_valid_uid = " +
           std::to_string(account.uid) +
           "\n"
           "first_valid_gid = " +
           std::to_string(account.gid) +
           "\n"
           "mail_location = maildir:" +
           mailPath +
           "\n"
           "passdb {\n"
           "  driver = passwd-file\n"
           "  args = scheme=PLAIN username_format=%u " +
           scratch / "users" +
           "\n"
           "}\n"
           "userdb {\n"
           "  driver = passwd-file\n"
           "  args = username_format=%u " +
           scratch / "users" +
           "\n"
           "}\n"
           // Dovecot runs without root: nothing to chroot into.
           "service anvil {\n  chroot =\n}\n"
           "service imap-login {\n  chroot =\n"
           "  inet_listener imap {\n" +
           listener + "    port = " + std::to_string(imap) +
           "\n  }\n"
           "  inet_listener imaps {\n    port = 0\n  }\n}\n"
           "service pop3-login {\n  chroot =\n"
           "  inet_listener pop3 {\n" +
           listener + "    port = " + std::to_string(pop3) +
           "\n  }\n"
           "  inet_listener pop3s {\n    port = 0\n  }\n}\n";
}

bool DovecotServer::start() {
    std::vector<int> ports = freePorts(2);
    imap = ports[0];
    pop3 = ports[1];
    const MailUser& account = MailUser::get();
    // The configuration lives beside base_dir, never in it.
    std::string config = scratch.write("dovecot.conf", configuration());
    scratch.write("users",
                  std::string(user) + ":{PLAIN}" + password + ":" + std::to_string(account.uid) +
                      ":" + std::to_string(account.gid) + "::" + scratch.path() + "::\n",
                  0600);
    std::string program = ProgramRun::find("dovecot");
    std::vector<std::string> arguments = {program, "-F", "-c", config};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    bool switchUser = account.switches();
    pid_t parent = getpid();

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(wakeFd, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
    master = fork();
    if (master == 0) {
        int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(null, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (switchUser &&
            (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0))
            _exit(126);
        // Set after the change of account, which clears it: Dovecot stops when the test
        // process dies.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(125);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    if (master < 0)
        throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
    logFd = out[0];
    {
        std::lock_guard<std::mutex> guard(mutex);
        logText.clear();
        logClosed = false;
    }
    reader = std::thread([this] {
        char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{logFd, POLLIN, 0}, {wakeFd[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno == EINTR)
                continue;
            ssize_t got =
                (fds[0].revents & (POLLIN | POLLHUP)) ? read(logFd, buffer, sizeof buffer) : 0;
            std::lock_guard<std::mutex> guard(mutex);
            if (got > 0)
                logText.append(buffer, static_cast<size_t>(got));
            if (got <= 0) {
                logClosed = true;
                changed.notify_all();
                return;
            }
            changed.notify_all();
        }
    });
    // Dovecot logs "starting up" once its listeners are bound: a client connecting from
    // then on is served (the login process takes the queued connection).
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock,
                 [&] { return logClosed || logText.find("starting up") != std::string::npos; });
    if (!logClosed)
        return true;
    std::string text = logText;
    lock.unlock();
    stop();
    if (text.find("Address already in use") != std::string::npos)
        return false;
    throw std::runtime_error("Dovecot did not start:\n" + text);
}

std::string DovecotServer::log() const {
    std::lock_guard<std::mutex> guard(mutex);
    return logText;
}

void DovecotServer::stop() {
    if (master > 0) {
        kill(master, SIGTERM);
        int status = 0;
        while (waitpid(master, &status, 0) < 0 && errno == EINTR) {
        }
        master = -1;
    }
    if (reader.joinable()) {
        // Dovecot's processes close the log pipe as they end; the reader is woken in case
        // one of them lingers.
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(10), [&] { return logClosed; });
        }
        char wake = 1;
        if (write(wakeFd[1], &wake, 1) < 0) {
        }
        reader.join();
    }
    for (int* fd : {&logFd, &wakeFd[0], &wakeFd[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}
