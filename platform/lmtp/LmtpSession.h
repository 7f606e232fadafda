#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One LMTP conversation (RFC 2033) as a state machine over bytes: feed() takes what the
// client sent, in pieces of any size, and appends the replies to send. It knows the
// protocol only; the recipients are checked and the message delivered by a Handler.
// Commands may be pipelined: each complete line is answered in order, and the caller
// sends what was appended after each feed, so pipelined commands get their replies in
// one write. After the final dot of DATA there is one reply per accepted recipient, in
// the order they were accepted. Lines end in CR LF or a bare LF; the message is handed
// over with LF line ends and dot-unstuffed. A connection that ends before the final
// dot delivers nothing. Everything a client controls is bounded: a command line (1,000
// bytes), the recipients of one message (1,000), the message (the SIZE limit: what is
// beyond it is read and dropped, then refused for every recipient).
class LmtpSession {
public:
    struct Envelope {
        std::string sender;                  // the MAIL FROM path without brackets
        std::vector<std::string> recipients; // as accepted, without brackets
    };
    class Handler {
    public:
        virtual ~Handler() = default;
        // The reply to RCPT TO for this address ("250 2.1.5 ...", "550 5.1.1 ...").
        virtual std::string checkRecipient(const std::string& address) = 0;
        // Delivers the message: one reply per envelope recipient, in its order. What
        // must wait until the replies are sent goes into afterReplies: it is called with
        // whether they were (repliesSent()).
        virtual std::vector<std::string>
        deliver(const Envelope& envelope, std::string message,
                std::vector<std::function<void(bool sent)>>& afterReplies) = 0;
    };

    static constexpr std::size_t maxCommandLine = 1000;
    static constexpr std::size_t maxRecipients = 1000;

    LmtpSession(Handler& handler, std::string hostName, std::size_t sizeLimit);
    // A session ended with replies unsent: what waits for them is told they were not.
    ~LmtpSession();

    // The greeting the server sends first.
    std::string greeting() const;
    // Takes received bytes and appends the replies; false once the session is over (QUIT,
    // or a client that keeps sending what is not LMTP): send the replies, then close.
    bool feed(std::string_view bytes, std::string& replies);
    // The replies fed() appended were sent (or could not be: the connection broke).
    void repliesSent(bool sent);
    // The bytes of the messages all sessions of the process hold at once, at most (1 GB
    // unless set): a message that would go beyond is refused for now (452 4.3.1).
    static void limitAllMessages(std::size_t bytes);
    // Whether a message is being received (the client is between DATA and its final dot).
    bool inData() const { return state == State::data; }

private:
    enum class State { start, ready, mail, data };

    void command(std::string_view line, std::string& replies);
    void dataLine(std::string_view line, std::string& replies);
    void longLinePiece(std::string_view piece);
    void take(std::string_view text, bool lineEnd);
    void reset();
    void release();

    Handler& handler;
    std::string host;
    std::size_t sizeLimit;
    State state = State::start;
    bool over = false;
    int badCommands = 0;
    std::string pending;         // an incomplete line
    bool discardingLine = false; // a command line over the limit, skipped to its end
    Envelope envelope;
    std::string message;
    std::size_t received = 0;
    bool tooBig = false;
    bool noRoom = false;     // the process's budget for messages was used up
    std::size_t counted = 0; // of the budget, this session's message
    static std::atomic<std::size_t> held;
    static std::size_t totalLimit;
    bool midLine = false; // the message's last line has not ended yet
    std::vector<std::function<void(bool sent)>> afterReplies;
};
