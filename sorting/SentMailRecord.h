#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What the sorter has handed to the sending command, kept across runs, so that a sorter
// killed between sending a message's mail and removing the message from the inbox does
// not send it again when it looks at the message once more.
//
// One line per event, "<unix time> <key> <state> <attempt> <message id>": "handed" is appended
// and synced before the mail goes to the sending command, "sent" (the command exited 0)
// or "failed" after. A mail whose last line is "handed" or "sent" is never sent again;
// only "sent" counts as sent: a "handed" one may or may not have gone out, and its
// message is kept. One that failed is tried once more (at the next start), then given
// up. At start the file is rewritten
// (beside it, synced, renamed) with the last line of every mail younger than
// keptSeconds, at most keptMails of them, so it does not grow for ever.
//
// Several processes share the file: a sorter that keeps it open, and any number of
// deliveries. Every append and every rewrite holds an flock on "<file>.lock" (the file
// itself is replaced by a rewrite, the lock file never), and an append that finds the
// name on another file than the one it has open reopens it: a line written to the
// replaced file would be lost.
class SentMailRecord {
public:
    static constexpr std::int64_t keptSeconds = 8 * 7 * 24 * 3600;
    static constexpr std::size_t keptMails = 20000;
    static constexpr int attemptsAllowed = 2;
    // A delivery runs once per message, so it rewrites the file only when it holds
    // keptMails + linesBeforeTrimming lines: the file stays bounded, the rewrite is rare.
    static constexpr std::size_t linesBeforeTrimming = 4096;

    // Always: the sorter's start. WhenLong: a delivery's (see linesBeforeTrimming); it
    // looks up only the keys it asks for, and retryMessages() knows only its own lines.
    enum class Trim { Always, WhenLong };

    enum class State { None, Handed, Sent, Failed };
    struct Entry {
        State state = State::None;
        int attempt = 0;
        std::uint32_t message = 0; // the arrived message's id in the store
        std::int64_t time = 0;
    };

    // Reads the file and trims it; a file that cannot be read makes every handing() fail
    // (sending without the record could send twice).
    explicit SentMailRecord(std::string file, Trim trim = Trim::Always);
    ~SentMailRecord();
    SentMailRecord(const SentMailRecord&) = delete;
    SentMailRecord& operator=(const SentMailRecord&) = delete;

    // The key of one mail sent for an arrived message: messageKey names the message
    // (a digest of its bytes and its Message-ID), mail the mail (kind and recipients).
    static std::string key(const std::string& messageKey, const std::string& mail);

    Entry find(const std::string& key) const;
    // Records, synced, that the mail goes to the sending command now; false (with the
    // reason in error) when that cannot be recorded: then it must not be sent.
    bool handing(const std::string& key, std::uint32_t message, int attempt, std::string& error);
    // The outcome; a line that cannot be written is logged (the "handed" line already
    // keeps the mail from being sent twice, so "sent" is not synced; "failed" is, for
    // the retry).
    void sent(const std::string& key);
    void failed(const std::string& key);
    // The ids of messages with a mail that failed once and may be tried again, ascending.
    std::vector<std::uint32_t> retryMessages() const;

    const std::string& fileName() const { return file; }

private:
    void load(Trim trim);
    // The whole file; false (and the record unreadable) when it cannot be read.
    bool readText(std::string& text);
    // The text's lines into entries, without what a rewrite drops; returns how many lines
    // that is.
    std::size_t parse(const std::string& text);
    bool append(const std::string& key, const Entry& entry, bool synced, std::string& error);

    std::string file;
    bool readable = true;
    int fd = -1;
    std::map<std::string, Entry> entries;
    // Trim::WhenLong: the file as read, searched by find() instead of parsed whole;
    // entries then holds only the lines this object wrote.
    std::string unparsed;
};
