#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

class LmtpDelivery;

// The sockets of a resident LMTP service and the connections they accept, each served on
// a thread of its own by an LmtpSession over the shared LmtpDelivery. SIGTERM (or SIGINT)
// stops the accepting: the connections between messages are told so and closed, those in
// the middle of a message finish it and get their replies, then run() returns. SIGHUP
// reads every net again before its next delivery.
class LmtpServer {
public:
    LmtpServer(LmtpDelivery& delivery, std::size_t sizeLimit);
    ~LmtpServer();

    // Each adds a listening socket, or says why not in error.
    bool listenUnix(const std::string& path, unsigned mode, std::string* error);
    // A loopback address "127.0.0.1:PORT" or "[::1]:PORT" (the protocol has no
    // authentication: anyone who can connect can deliver).
    bool listenTcp(const std::string& address, std::string* error);
    // The sockets systemd handed over (LISTEN_FDS); false when there are none.
    bool adoptSystemdSockets(std::string* error);
    // What it listens on, for the log line.
    const std::vector<std::string>& places() const { return where; }

    // Serves until SIGTERM or SIGINT; the exit status.
    int run();

private:
    void serve(int fd);

    LmtpDelivery& delivery;
    std::size_t sizeLimit;
    std::string host;
    std::vector<int> listening;
    std::vector<std::string> where;
    std::vector<std::string> unixPaths;
    int stopPipe[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable allDone;
    int connections = 0;
};
