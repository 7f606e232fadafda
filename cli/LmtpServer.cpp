#include "cli/LmtpServer.h"

#include "util/Log.h"
#include "platform/lmtp/LmtpSession.h"
#include "sorting/LmtpDelivery.h"
#include "sorting/UserMailbox.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int maxConnections = 512;
// A client silent this long between commands is dropped (RFC 5321's server timeout).
constexpr int idleSeconds = 300;

std::string failed(const std::string& call, int error) {
    return call + " failed: " + std::strerror(error);
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        ssize_t sent = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        at += static_cast<std::size_t>(sent);
    }
    return true;
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0])
        return "localhost";
    return name;
}

bool listenOn(int fd, const std::string& place, std::string* error) {
    if (listen(fd, 128) != 0) {
        *error = failed("listen(" + place + ")", errno);
        close(fd);
        return false;
    }
    return true;
}

} // namespace

LmtpServer::LmtpServer(LmtpDelivery& delivery, std::size_t sizeLimit)
    : delivery(delivery), sizeLimit(sizeLimit), host(hostName()) {
    if (pipe2(stopPipe, O_CLOEXEC) != 0)
        stopPipe[0] = stopPipe[1] = -1;
}

LmtpServer::~LmtpServer() {
    for (int fd : listening)
        close(fd);
    for (const std::string& path : unixPaths)
        unlink(path.c_str());
    for (int fd : stopPipe)
        if (fd >= 0)
            close(fd);
}

bool LmtpServer::listenUnix(const std::string& path, unsigned mode, std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        *error = "the socket path " + path + " is too long (at most " +
                 std::to_string(sizeof address.sun_path - 1) + " bytes)";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());
    // A socket left by a service that was killed; anything else there is not ours.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = path + " exists and is not a socket";
            return false;
        }
        unlink(path.c_str());
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = failed("socket", errno);
        return false;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *error = failed("bind(" + path + ")", errno);
        close(fd);
        return false;
    }
    unixPaths.push_back(path);
    if (chmod(path.c_str(), mode) != 0) {
        *error = failed("chmod(" + path + ")", errno);
        close(fd);
        return false;
    }
    if (!listenOn(fd, path, error))
        return false;
    listening.push_back(fd);
    where.push_back(path);
    return true;
}

bool LmtpServer::listenTcp(const std::string& text, std::string* error) {
    std::size_t colon = text.rfind(':');
    std::string hostPart = colon == std::string::npos ? "" : text.substr(0, colon);
    std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    char* end = nullptr;
    unsigned long number = std::strtoul(port.c_str(), &end, 10);
    if (port.empty() || *end || number < 1 || number > 65535) {
        *error = "'" + text + "' is not an address with a port (127.0.0.1:PORT)";
        return false;
    }
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
    if (hostPart.size() > 2 && hostPart.front() == '[' && hostPart.back() == ']') {
        auto* six = reinterpret_cast<sockaddr_in6*>(&storage);
        six->sin6_family = family = AF_INET6;
        six->sin6_port = htons(static_cast<uint16_t>(number));
        if (inet_pton(AF_INET6, hostPart.substr(1, hostPart.size() - 2).c_str(), &six->sin6_addr) !=
                1 ||
            !IN6_IS_ADDR_LOOPBACK(&six->sin6_addr)) {
            *error = "'" + text +
                     "' is not a loopback address: the service has no "
                     "authentication, so it listens only on this machine";
            return false;
        }
        length = sizeof *six;
    } else {
        auto* four = reinterpret_cast<sockaddr_in*>(&storage);
        four->sin_family = AF_INET;
        four->sin_port = htons(static_cast<uint16_t>(number));
        if (inet_pton(AF_INET, hostPart.c_str(), &four->sin_addr) != 1 ||
            (ntohl(four->sin_addr.s_addr) >> 24) != 127) {
            *error = "'" + text +
                     "' is not a loopback address: the service has no "
                     "authentication, so it listens only on this machine";
            return false;
        }
        length = sizeof *four;
    }
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = failed("socket", errno);
        return false;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        *error = failed("bind(" + text + ")", errno);
        close(fd);
        return false;
    }
    if (!listenOn(fd, text, error))
        return false;
    listening.push_back(fd);
    where.push_back(text);
    return true;
}

bool LmtpServer::adoptSystemdSockets(std::string* error) {
    const char* pid = std::getenv("LISTEN_PID");
    const char* count = std::getenv("LISTEN_FDS");
    if (!pid || !count || std::strtol(pid, nullptr, 10) != getpid()) {
        *error = "no socket to listen on: give --socket PATH or --listen 127.0.0.1:PORT, or "
                 "start it from its systemd socket unit";
        return false;
    }
    long n = std::strtol(count, nullptr, 10);
    if (n < 1 || n > 64) {
        *error = std::string("LISTEN_FDS=") + count + " names no socket";
        return false;
    }
    for (int fd = 3; fd < 3 + n; ++fd) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        listening.push_back(fd);
        where.push_back("socket " + std::to_string(fd) + " from systemd");
    }
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    return true;
}

void LmtpServer::serve(int fd) {
    converse(fd);
    close(fd);
    std::lock_guard<std::mutex> lock(mutex);
    if (--connections == 0)
        allDone.notify_all();
}

void LmtpServer::converse(int fd) {
    LmtpSession session(delivery, host, sizeLimit);
    bool open = sendAll(fd, session.greeting());
    char buffer[65536];
    while (open) {
        bool stopNow = stopping.load() && !session.inData();
        if (stopNow) {
            sendAll(fd, "421 4.3.2 " + host + " Service shutting down\r\n");
            break;
        }
        pollfd watched[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        // Once stopping, a message being received is finished: its socket alone is read.
        int count = poll(watched, stopping.load() ? 1 : 2, idleSeconds * 1000);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            sendAll(fd, "421 4.4.2 " + host + " Timeout, closing the connection\r\n");
            break;
        }
        if (!(watched[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        // A client gone in the middle of a message delivers nothing of it.
        if (got <= 0)
            break;
        std::string replies;
        open = session.feed(std::string_view(buffer, static_cast<std::size_t>(got)), replies);
        if (replies.empty())
            continue;
        bool sent = sendAll(fd, replies);
        session.repliesSent(sent);
        if (!sent)
            break;
    }
}

int LmtpServer::run() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, s);
    // Blocked here before any thread starts, so every thread inherits the mask and only the
    // signalfd below sees them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0 || stopPipe[0] < 0) {
        std::fprintf(stderr, "brevalo-cli lmtp: %s\n", failed("signalfd", errno).c_str());
        return 1;
    }
    for (const std::string& place : where)
        std::fprintf(stderr, "brevalo-cli lmtp: listening on %s\n", place.c_str());
    std::fflush(stderr);
    if (const char* notify = std::getenv("NOTIFY_SOCKET")) {
        // Ready for systemd (Type=notify); an abstract socket starts with '@'.
        int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::size_t length = std::strlen(notify);
        if (fd >= 0 && length > 0 && length < sizeof address.sun_path) {
            std::memcpy(address.sun_path, notify, length);
            if (address.sun_path[0] == '@')
                address.sun_path[0] = '\0';
            sendto(fd, "READY=1", 7, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
        }
        if (fd >= 0)
            close(fd);
    }
    std::vector<pollfd> watched;
    for (int fd : listening)
        watched.push_back({fd, POLLIN, 0});
    watched.push_back({signalFd, POLLIN, 0});
    while (!stopping.load()) {
        if (poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "brevalo-cli lmtp: %s\n", failed("poll", errno).c_str());
            break;
        }
        if (watched.back().revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGHUP) {
                    UserMailbox::reloadAllNets();
                    std::fprintf(stderr, "brevalo-cli lmtp: reading the nets again\n");
                } else {
                    stopping = true;
                }
            }
        }
        for (std::size_t i = 0; i + 1 < watched.size() && !stopping.load(); ++i) {
            if (!(watched[i].revents & POLLIN))
                continue;
            int client = accept4(watched[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                // Out of descriptors: a pause, rather than a loop that spins meanwhile.
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    poll(nullptr, 0, 100);
                continue;
            }
            // A client that stops reading its replies cannot hold a thread for ever.
            timeval limit{idleSeconds, 0};
            setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            std::unique_lock<std::mutex> lock(mutex);
            if (connections >= maxConnections) {
                lock.unlock();
                sendAll(client, "421 4.3.2 " + host + " Too many connections, try later\r\n");
                close(client);
                continue;
            }
            ++connections;
            lock.unlock();
            try {
                std::thread([this, client] { serve(client); }).detach();
            } catch (const std::system_error&) {
                sendAll(client, "421 4.3.2 " + host + " Too busy, try later\r\n");
                close(client);
                lock.lock();
                --connections;
            }
        }
    }
    // Stop accepting, wake every connection, wait for the messages in hand.
    for (int fd : listening)
        close(fd);
    listening.clear();
    if (write(stopPipe[1], "x", 1) < 0)
        debugLog("lmtp: cannot wake the connections: %s", std::strerror(errno));
    std::unique_lock<std::mutex> lock(mutex);
    allDone.wait(lock, [this] { return connections == 0; });
    SyncGroup& group = delivery.syncGroup();
    std::fprintf(stderr, "brevalo-cli lmtp: stopped; %llu syncs in %llu groups\n",
                 static_cast<unsigned long long>(group.syncCount()),
                 static_cast<unsigned long long>(group.groupCount()));
    close(signalFd);
    return 0;
}
