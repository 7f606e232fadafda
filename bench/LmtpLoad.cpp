// lmtp-load: hands every message file once to an LMTP server over N concurrent
// connections, as a mail transfer agent with N delivery processes would, and prints how
// many messages went, how long it took and how many failed. The files are read and put in
// their wire form (CR LF line ends, dot-stuffed) before the clock starts, so the time is
// the server's.
//
// lmtp-load (--socket PATH | --connect HOST:PORT) [--connections N] [--from ADDRESS]
//           (--to RCPT[,RCPT...] | --to-template FORMAT --users N) [--pipelining]
//           [--files-from LIST] [FILE...]
// --to-template names message i's recipient with FORMAT (one printf integer conversion,
// e.g. u%04d) and i modulo N: the messages go to every user in turn.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Options {
    std::string socketPath, host, from = "bench@localhost", toTemplate;
    int port = 0, connections = 1, users = 0;
    bool pipelining = false;
    std::vector<std::string> to, files;
};

struct Message {
    std::string name, wire;
};

std::mutex reportLock;
std::atomic<int> reported{0};

void report(const std::string& line) {
    if (reported++ < 20) {
        std::lock_guard<std::mutex> hold(reportLock);
        std::fprintf(stderr, "lmtp-load: %s\n", line.c_str());
    }
}

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "lmtp-load: %s\nusage: lmtp-load (--socket PATH | --connect HOST:PORT) "
                 "[--connections N] [--from ADDRESS]\n"
                 "                 (--to RCPT[,RCPT...] | --to-template FORMAT --users N) "
                 "[--pipelining]\n"
                 "                 [--files-from LIST] [FILE...]\n",
                 why);
    std::exit(64);
}

int number(const char* text, int low, int high, const char* what) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < low || value > high)
        usage((std::string(what) + " must be a number from " + std::to_string(low) + " to " +
               std::to_string(high))
                  .c_str());
    return static_cast<int>(value);
}

// One integer conversion and nothing else that printf would read: "%d", "%04d", "%%".
bool goodTemplate(const std::string& format) {
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (++i < format.size() && format[i] == '%')
            continue;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9')
            ++i;
        if (i >= format.size() || format[i] != 'd')
            return false;
        ++conversions;
    }
    return conversions == 1 && format.size() < 200;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                usage((argument + " needs a value").c_str());
            return argv[++i];
        };
        if (argument == "--socket") {
            options.socketPath = value();
        } else if (argument == "--connect") {
            std::string address = value();
            auto colon = address.rfind(':');
            if (colon == std::string::npos)
                usage("--connect needs HOST:PORT");
            options.host = address.substr(0, colon);
            options.port = number(address.c_str() + colon + 1, 1, 65535, "the port");
        } else if (argument == "--connections") {
            options.connections = number(value(), 1, 1000, "--connections");
        } else if (argument == "--from") {
            options.from = value();
        } else if (argument == "--to") {
            std::stringstream list(value());
            for (std::string rcpt; std::getline(list, rcpt, ',');)
                if (!rcpt.empty())
                    options.to.push_back(rcpt);
        } else if (argument == "--to-template") {
            options.toTemplate = value();
            if (!goodTemplate(options.toTemplate))
                usage("--to-template needs one integer conversion such as %04d");
        } else if (argument == "--users") {
            options.users = number(value(), 1, 10000000, "--users");
        } else if (argument == "--pipelining") {
            options.pipelining = true;
        } else if (argument == "--files-from") {
            std::ifstream list(value());
            if (!list)
                usage("cannot read the --files-from list");
            for (std::string line; std::getline(list, line);)
                if (!line.empty())
                    options.files.push_back(line);
        } else if (argument.starts_with("--")) {
            usage(("unknown option " + argument).c_str());
        } else {
            options.files.push_back(argument);
        }
    }
    if (options.socketPath.empty() == options.host.empty())
        usage("give one of --socket and --connect");
    if (options.to.empty() == options.toTemplate.empty())
        usage("give one of --to and --to-template");
    if (!options.toTemplate.empty() && options.users == 0)
        usage("--to-template needs --users");
    if (options.files.empty())
        usage("no message files");
    return options;
}

// The message as DATA sends it: every line ends in CR LF (a bare LF or CR LF in the file),
// a line starting with a dot gets another, and the lone dot ends it.
std::string wireForm(const std::string& text) {
    std::string wire;
    wire.reserve(text.size() + text.size() / 40 + 8);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (end > start && text[end - 1] == '\r')
            --end;
        if (text[start] == '.')
            wire += '.';
        wire.append(text, start, end - start);
        wire += "\r\n";
        start = next;
    }
    wire += ".\r\n";
    return wire;
}

class Connection {
public:
    explicit Connection(const Options& options) {
        if (!options.socketPath.empty()) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            if (options.socketPath.size() >= sizeof address.sun_path)
                throw std::runtime_error("the socket path is too long");
            std::memcpy(address.sun_path, options.socketPath.c_str(), options.socketPath.size());
            fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                fail("connect(" + options.socketPath + ")");
        } else {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(options.port));
            if (inet_pton(AF_INET, options.host.c_str(), &address.sin_addr) != 1)
                throw std::runtime_error("not an IPv4 address: " + options.host);
            fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                fail("connect(" + options.host + ")");
            int on = 1;
            setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
    }
    ~Connection() {
        if (fd_ >= 0)
            close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void send(const std::string& data) {
        for (std::size_t sent = 0; sent < data.size();) {
            ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                fail("send");
            sent += static_cast<std::size_t>(n);
        }
    }

    // One reply, its lines joined by " / "; its code is the first three characters.
    std::string reply() {
        std::string joined;
        for (int lines = 0;; ++lines) {
            std::string line = readLine();
            if (line.size() < 3 || lines > 100)
                throw std::runtime_error("not a reply: " + line.substr(0, 200));
            joined += (joined.empty() ? "" : " / ") + line;
            if (line.size() == 3 || line[3] != '-')
                return joined;
        }
    }

private:
    std::string readLine() {
        for (;;) {
            auto end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                return line;
            }
            if (buffer_.size() > 4096)
                throw std::runtime_error("a reply line longer than 4096 bytes");
            char chunk[4096];
            ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                throw std::runtime_error("the server closed the connection");
            if (n < 0)
                fail("recv");
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    [[noreturn]] static void fail(const std::string& what) {
        throw std::runtime_error(what + " failed: " + std::strerror(errno));
    }

    int fd_ = -1;
    std::string buffer_;
};

bool positive(const std::string& reply) {
    return reply[0] == '2';
}

struct Counts {
    std::atomic<std::size_t> next{0}, sent{0};
};

// Sends one message in one transaction; true when every recipient got a 2xx reply after
// DATA. Without pipelining, a refused MAIL or only refused recipients end it before DATA.
bool transaction(Connection& connection, const Options& options, const Message& message,
                 const std::vector<std::string>& recipients) {
    std::vector<std::string> commands{"MAIL FROM:<" + options.from + ">\r\n"};
    for (const auto& rcpt : recipients)
        commands.push_back("RCPT TO:<" + rcpt + ">\r\n");
    commands.push_back("DATA\r\n");
    std::vector<std::string> replies;
    if (options.pipelining) {
        std::string all;
        for (const auto& command : commands)
            all += command;
        connection.send(all);
        for (std::size_t i = 0; i < commands.size(); ++i)
            replies.push_back(connection.reply());
    } else {
        std::size_t accepted = 0;
        for (std::size_t i = 0; i < commands.size(); ++i) {
            if ((i == 1 && !positive(replies[0])) || (i + 1 == commands.size() && accepted == 0))
                break;
            connection.send(commands[i]);
            replies.push_back(connection.reply());
            accepted += i > 0 && positive(replies.back());
        }
    }
    bool good = true;
    std::size_t accepted = 0;
    for (std::size_t r = 0; r < replies.size() && r + 1 < commands.size(); ++r) {
        if (positive(replies[r])) {
            accepted += r > 0;
            continue;
        }
        good = false;
        report(message.name + ": " + commands[r].substr(0, commands[r].size() - 2) + ": " +
               replies[r]);
    }
    if (replies.size() < commands.size() || replies.back()[0] != '3') {
        if (replies.size() == commands.size())
            report(message.name + ": DATA: " + replies.back());
        connection.send("RSET\r\n");
        connection.reply();
        return false;
    }
    connection.send(message.wire);
    for (std::size_t r = 0; r < accepted; ++r) {
        std::string reply = connection.reply();
        if (!positive(reply)) {
            good = false;
            report(message.name + ": after DATA: " + reply);
        }
    }
    return good;
}

void worker(const Options& options, const std::vector<Message>& messages, Counts& counts) {
    try {
        Connection connection(options);
        std::string greeting = connection.reply();
        if (!positive(greeting))
            throw std::runtime_error("greeting: " + greeting);
        connection.send("LHLO lmtp-load.localhost\r\n");
        std::string capabilities = connection.reply();
        if (!positive(capabilities))
            throw std::runtime_error("LHLO: " + capabilities);
        if (options.pipelining && capabilities.find("PIPELINING") == std::string::npos)
            throw std::runtime_error("the server does not offer PIPELINING");
        std::vector<std::string> recipients = options.to;
        char name[256];
        for (std::size_t i; (i = counts.next++) < messages.size();) {
            if (!options.toTemplate.empty()) {
                std::snprintf(name, sizeof name, options.toTemplate.c_str(),
                              static_cast<int>(i % static_cast<std::size_t>(options.users)));
                recipients.assign(1, name);
            }
            if (transaction(connection, options, messages[i], recipients))
                counts.sent++;
        }
        connection.send("QUIT\r\n");
        connection.reply();
    } catch (const std::exception& error) {
        report(std::string("a connection ended: ") + error.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    std::vector<Message> messages;
    messages.reserve(options.files.size());
    for (const auto& file : options.files) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        if (!(in && text << in.rdbuf())) {
            std::fprintf(stderr, "lmtp-load: cannot read %s: %s\n", file.c_str(),
                         std::strerror(errno));
            return 66;
        }
        messages.push_back({file, wireForm(text.str())});
    }
    Counts counts;
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < options.connections; ++i)
        threads.emplace_back(worker, std::cref(options), std::cref(messages), std::ref(counts));
    for (auto& thread : threads)
        thread.join();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t sent = counts.sent, failed = messages.size() - sent;
    std::printf("%zu messages, %zu delivered, %zu failed, %.3f s, %.0f messages/s, "
                "%d connections\n",
                messages.size(), sent, failed, seconds, static_cast<double>(sent) / seconds,
                options.connections);
    return failed == 0 ? 0 : 1;
}
