#pragma once

#include <ostream>
#include <set>
#include <string>
#include <vector>

// A small IMAP client for tests (RFC 3501): one connection to a server on loopback, one
// command at a time. Every command that is not answered OK throws std::runtime_error
// naming the command and the answer, so a test reads as the session it runs.
class ImapClient {
public:
    // A message as FETCH shows it: its Message-ID and flags (\Recent left out: it says
    // which session saw the message first, not what the message is).
    struct Message {
        std::string messageId;
        std::set<std::string> flags;
        bool operator==(const Message&) const = default;
        // "<id> (\\Seen $Junk)", for failure messages.
        friend std::ostream& operator<<(std::ostream& out, const Message& message);
    };

    // Connects to 127.0.0.1:port and reads the greeting.
    explicit ImapClient(int port);
    ~ImapClient();
    ImapClient(const ImapClient&) = delete;
    ImapClient& operator=(const ImapClient&) = delete;

    void login(const std::string& user, const std::string& password);
    // Appends a message (line ends made CRLF) with flags such as "\\Seen \\Flagged".
    void append(const std::string& mailbox, const std::string& flags, const std::string& message);
    void create(const std::string& mailbox);
    void subscribe(const std::string& mailbox);
    // The mailbox names a LIST-like command answers, such as "LSUB \"\" \"*\"" or
    // "LIST (SUBSCRIBED) \"\" \"*\"" (names as the server sends them, modified UTF-7).
    std::multiset<std::string> mailboxes(const std::string& listCommand);
    // Every message of the mailbox, opened read-only (EXAMINE), in sequence order.
    std::vector<Message> messages(const std::string& mailbox);
    void logout();

    // Sends "<tag> <command>" and reads up to the tagged answer; the untagged answers, each
    // with its literals in place. Throws unless the answer is OK.
    std::vector<std::string> command(const std::string& command);
    // A mailbox name or text as an IMAP quoted string.
    static std::string quoted(const std::string& text);

private:
    void receive();
    std::string readLine();
    std::string readBytes(std::size_t count);
    void send(const std::string& text);
    // Reads one response line with the literals it announces.
    std::string readResponse();
    std::string finish(const std::string& tag, const std::string& command,
                       std::vector<std::string>* untagged);

    int fd = -1;
    std::string buffer;
    int tags = 0;
};
