#pragma once

#include <string>
#include <vector>

// An LMTP client connection over a unix socket, for tests: sends what it is given as it
// is (pipelined commands in one write, a message cut off anywhere) and reads replies.
// Throws std::runtime_error when the connection fails or closes before a reply.
class LmtpClient {
public:
    explicit LmtpClient(const std::string& socketPath);
    ~LmtpClient();
    LmtpClient(const LmtpClient&) = delete;
    LmtpClient& operator=(const LmtpClient&) = delete;

    void send(const std::string& bytes);
    // The next reply, its lines joined by "\n" ("250-a\n250 b").
    std::string reply();
    // The next count replies' codes, space-separated ("250 250 354").
    std::string codes(int count);
    // LHLO, MAIL FROM, RCPT TO each recipient, DATA, the message (LF line ends made CR LF,
    // dot-stuffed), pipelined up to DATA: one reply per accepted recipient, else the
    // first refusal of MAIL, RCPT (of every recipient) or DATA.
    std::vector<std::string> deliver(const std::string& from,
                                     const std::vector<std::string>& recipients,
                                     const std::string& message);
    // Closes the connection at once.
    void drop();

private:
    int fd = -1;
    std::string buffer;
    bool greeted = false;
    bool lhloSent = false;
};
