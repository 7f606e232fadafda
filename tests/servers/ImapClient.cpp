#include "tests/servers/ImapClient.h"

#include <cerrno>
#include <cstring>
#include <regex>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

std::string crlf(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// The size a line's trailing "{N}" announces, or npos.
std::size_t literalSize(const std::string& line) {
    static const std::regex literal("\\{([0-9]+)\\}$");
    std::smatch match;
    if (!std::regex_search(line, match, literal))
        return std::string::npos;
    return std::stoul(match[1]);
}

// The mailbox name at the end of a LIST or LSUB answer: quoted, atom or literal.
std::string listedName(const std::string& response) {
    size_t end = response.size();
    if (end > 0 && response[end - 1] == '"') {
        size_t open = end - 1;
        while (open > 0 && !(response[open - 1] == '"' && (open < 2 || response[open - 2] != '\\')))
            --open;
        std::string name;
        for (size_t i = open; i + 1 < end; ++i) {
            if (response[i] == '\\')
                ++i;
            name += response[i];
        }
        return name;
    }
    // A literal is kept after the line that announced it ("{N}\r\n<name>").
    size_t literal = response.rfind("}\r\n");
    if (literal != std::string::npos && response.find(' ', literal) == std::string::npos)
        return response.substr(literal + 3);
    return response.substr(response.rfind(' ') + 1);
}

} // namespace

std::ostream& operator<<(std::ostream& out, const ImapClient::Message& message) {
    out << message.messageId << " (";
    const char* separator = "";
    for (const std::string& flag : message.flags) {
        out << separator << flag;
        separator = " ";
    }
    return out << ")";
}

ImapClient::ImapClient(int port) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A server that stops answering fails the test instead of hanging it.
    timeval limit{60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("IMAP connect to port " + std::to_string(port) +
                                 " failed: " + std::strerror(errno));
    std::string greeting = readLine();
    if (greeting.rfind("* OK", 0) != 0)
        throw std::runtime_error("IMAP greeting: " + greeting);
}

ImapClient::~ImapClient() {
    if (fd >= 0)
        close(fd);
}

std::string ImapClient::quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

void ImapClient::send(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            throw std::runtime_error(std::string("IMAP send failed: ") + std::strerror(errno));
        done += static_cast<size_t>(sent);
    }
}

void ImapClient::receive() {
    char chunk[16384];
    ssize_t got;
    while ((got = recv(fd, chunk, sizeof chunk, 0)) < 0 && errno == EINTR) {
    }
    if (got == 0)
        throw std::runtime_error("IMAP server closed the connection");
    if (got < 0)
        throw std::runtime_error(std::string("IMAP receive failed: ") + std::strerror(errno));
    buffer.append(chunk, static_cast<size_t>(got));
}

std::string ImapClient::readBytes(std::size_t count) {
    while (buffer.size() < count)
        receive();
    std::string bytes = buffer.substr(0, count);
    buffer.erase(0, count);
    return bytes;
}

std::string ImapClient::readLine() {
    size_t end;
    while ((end = buffer.find("\r\n")) == std::string::npos)
        receive();
    std::string line = buffer.substr(0, end);
    buffer.erase(0, end + 2);
    return line;
}

std::string ImapClient::readResponse() {
    std::string response = readLine();
    for (std::size_t size = literalSize(response); size != std::string::npos;
         size = literalSize(response)) {
        response += "\r\n" + readBytes(size);
        response += readLine();
    }
    return response;
}

std::string ImapClient::finish(const std::string& tag, const std::string& commandText,
                               std::vector<std::string>* untagged) {
    for (;;) {
        std::string response = readResponse();
        if (response.rfind(tag + " ", 0) != 0) {
            untagged->push_back(response);
            continue;
        }
        if (response.compare(tag.size() + 1, 3, "OK ") != 0)
            throw std::runtime_error("IMAP " + commandText + ": " + response);
        return response;
    }
}

std::vector<std::string> ImapClient::command(const std::string& commandText) {
    std::string tag = "T" + std::to_string(++tags);
    send(tag + " " + commandText + "\r\n");
    std::vector<std::string> untagged;
    finish(tag, commandText, &untagged);
    return untagged;
}

void ImapClient::login(const std::string& user, const std::string& password) {
    command("LOGIN " + quoted(user) + " " + quoted(password));
}

void ImapClient::append(const std::string& mailbox, const std::string& flags,
                        const std::string& message) {
    std::string text = crlf(message);
    std::string tag = "T" + std::to_string(++tags);
    std::string commandText = "APPEND " + quoted(mailbox) + " (" + flags + ")";
    send(tag + " " + commandText + " {" + std::to_string(text.size()) + "}\r\n");
    std::string go = readResponse();
    if (go.rfind("+", 0) != 0)
        throw std::runtime_error("IMAP " + commandText + ": " + go);
    send(text + "\r\n");
    std::vector<std::string> untagged;
    finish(tag, commandText, &untagged);
}

void ImapClient::create(const std::string& mailbox) {
    command("CREATE " + quoted(mailbox));
}

void ImapClient::subscribe(const std::string& mailbox) {
    command("SUBSCRIBE " + quoted(mailbox));
}

std::multiset<std::string> ImapClient::mailboxes(const std::string& listCommand) {
    std::multiset<std::string> names;
    for (const std::string& response : command(listCommand)) {
        if (response.rfind("* LIST ", 0) == 0 || response.rfind("* LSUB ", 0) == 0)
            names.insert(listedName(response));
    }
    return names;
}

std::vector<ImapClient::Message> ImapClient::messages(const std::string& mailbox) {
    static const std::regex exists("^\\* ([0-9]+) EXISTS");
    static const std::regex flags("FLAGS \\(([^)]*)\\)");
    static const std::regex messageId("Message-ID:[ \t]*(<[^>]*>)", std::regex::icase);
    int count = 0;
    for (const std::string& response : command("EXAMINE " + quoted(mailbox))) {
        std::smatch match;
        if (std::regex_search(response, match, exists))
            count = std::stoi(match[1]);
    }
    std::vector<Message> found;
    if (count == 0)
        return found;
    for (const std::string& response :
         command("FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])")) {
        if (response.find(" FETCH (") == std::string::npos)
            continue;
        Message message;
        std::smatch match;
        if (std::regex_search(response, match, messageId))
            message.messageId = match[1];
        if (std::regex_search(response, match, flags)) {
            std::string list = match[1];
            size_t start = 0;
            while (start < list.size()) {
                size_t space = list.find(' ', start);
                std::string flag = list.substr(start, space - start);
                if (!flag.empty() && flag != "\\Recent")
                    message.flags.insert(flag);
                start = space == std::string::npos ? list.size() : space + 1;
            }
        }
        found.push_back(message);
    }
    return found;
}

void ImapClient::logout() {
    std::string tag = "T" + std::to_string(++tags);
    send(tag + " LOGOUT\r\n");
    std::vector<std::string> untagged;
    finish(tag, "LOGOUT", &untagged);
}
