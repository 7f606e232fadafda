#include "tests/servers/LmtpClient.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::string crlf(const std::string& message) {
    std::string wire;
    bool lineStart = true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        char c = message[i];
        if (lineStart && c == '.')
            wire += '.';
        if (c == '\n' && (i == 0 || message[i - 1] != '\r'))
            wire += '\r';
        wire += c;
        lineStart = c == '\n';
    }
    if (!lineStart)
        wire += "\r\n";
    return wire + ".\r\n";
}

} // namespace

LmtpClient::LmtpClient(const std::string& socketPath) {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::string why = std::strerror(errno);
        drop();
        throw std::runtime_error("connect(" + socketPath + "): " + why);
    }
    // A service that hangs fails the test rather than stalling it.
    timeval limit{120, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

LmtpClient::~LmtpClient() {
    drop();
}

void LmtpClient::drop() {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void LmtpClient::send(const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        ssize_t sent = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        at += static_cast<std::size_t>(sent);
    }
}

std::string LmtpClient::reply() {
    std::string lines;
    for (;;) {
        std::size_t end = buffer.find("\r\n");
        if (end == std::string::npos) {
            char chunk[4096];
            ssize_t got = fd < 0 ? 0 : read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                throw std::runtime_error("the connection closed before a reply");
            buffer.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        lines += (lines.empty() ? "" : "\n") + line;
        if (line.size() < 4 || line[3] != '-')
            return lines;
    }
}

std::string LmtpClient::codes(int count) {
    std::string all;
    for (int i = 0; i < count; ++i)
        all += (all.empty() ? "" : " ") + reply().substr(0, 3);
    return all;
}

std::vector<std::string> LmtpClient::deliver(const std::string& from,
                                             const std::vector<std::string>& recipients,
                                             const std::string& message) {
    std::string commands;
    if (!greeted) {
        reply();
        greeted = true;
    }
    if (!lhloSent)
        commands += "LHLO test.example\r\n";
    commands += "MAIL FROM:<" + from + ">\r\n";
    for (const std::string& recipient : recipients)
        commands += "RCPT TO:<" + recipient + ">\r\n";
    commands += "DATA\r\n";
    send(commands);
    if (!lhloSent)
        reply();
    lhloSent = true;
    std::string mail = reply();
    if (mail[0] != '2') {
        for (std::size_t i = 0; i <= recipients.size(); ++i)
            reply();
        return {mail};
    }
    std::vector<std::string> accepted;
    std::string refused;
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        std::string answer = reply();
        if (answer[0] == '2')
            accepted.push_back(answer);
        else if (refused.empty())
            refused = answer;
    }
    std::string data = reply();
    if (data.substr(0, 3) != "354")
        return {refused.empty() ? data : refused};
    send(crlf(message));
    std::vector<std::string> replies;
    for (std::size_t i = 0; i < accepted.size(); ++i)
        replies.push_back(reply());
    return replies;
}
