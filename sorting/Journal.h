#pragma once

#include "sorting/UndoneMessages.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <vector>

struct SortDecision;
struct CarriedOut;

// The journal of what the sorter did: "journal.jsonl" in the state folder, one JSON
// object per line, one line per decision on an arriving message (and one per undo):
//
//   {"time":"2026-12-08T06:12:03Z",      when it was decided, UTC
//    "message_id":"<a1@example.org>",    the Message-ID header, "" when there is none
//    "subject":"Invoice 12", "from":"Ann <ann@example.org>",
//    "action":"moved",                   "moved", "forwarded", "answered", "left",
//                                        "failed" or "undone"
//    "reason":"",                        why it was left, why no mail was sent, or
//                                        what failed
//    "recipients":["acc@example.org"],   forwarded to, or answered to
//    "folders":[{"name":"Invoices","percent":97.5}],   the chosen folders
//    "copies":[{"folder":"Invoices","file":"1765...host:2,S"}]}   where each copy
//                                        lies: the target folder and the file name
//                                        (an undo line: the inbox, folder "")
//
// Appending writes a batch of lines with one write and one fsync (see synced), under an exclusive
// lock (the tray program, the command-line sorter and deliveries write the same file):
// a line is in the file whole or not at all (a short write is cut off again, and a tail
// a crash left without its line end is ended first). At 10 MB the file is renamed to
// "journal.jsonl.1" (the older one to ".2", the oldest dropped) before the next append.
// Reading goes through all three, oldest first, and skips lines it cannot read.
//
// A stranger's mail must not make the file huge or its readers crash: the texts a message
// brings are cut when written (fieldBytes, longFieldBytes), and a reader skips a line longer
// than lineBytes without holding it, and one nested deeper than maxDepth without building
// it. Messages undo moved back are also listed in "undone" beside the file
// (UndoneMessages), which rotation does not touch.
class Journal {
public:
    static constexpr std::uint64_t rotateBytes = 10u << 20;
    static constexpr int keptFiles = 2;                 // rotated files beside the current one
    static constexpr std::size_t fieldBytes = 300;      // subject, from, a recipient, a folder
    static constexpr std::size_t longFieldBytes = 1000; // Message-ID, reason
    static constexpr std::size_t lineBytes = 64u << 10;
    static constexpr int maxDepth = 8;

    struct Copy {
        std::string folder;
        std::string file;
    };
    struct Folder {
        std::string name;
        double percent = 0;
    };
    struct Entry {
        std::string time; // ISO 8601, UTC, "Z"
        std::string messageId;
        std::string subject;
        std::string from;
        std::string action;
        std::string reason;
        std::vector<std::string> recipients;
        std::vector<Folder> folders;
        std::vector<Copy> copies;

        // The line of what was decided and what carrying it out did: a failure makes
        // the action "failed" with the error text as the reason.
        static Entry of(const SortDecision& decision, const CarriedOut& done,
                        std::time_t when = std::time(nullptr));
        // One line, without its line end; texts longer than their limit are cut on a
        // character boundary and end in "...".
        std::string toJson() const;
        // False for anything but a JSON object with a string "time" and "action", and for
        // a line over lineBytes or nested deeper than maxDepth.
        static bool fromJson(const std::string& line, Entry& entry);
    };

    explicit Journal(std::string fileName);

    const std::string& fileName() const { return file; }

    // Appends the lines (the folder is made when missing); false with the reason in
    // error when they could not be written and synced.
    bool append(const std::vector<Entry>& entries, std::string& error);
    bool append(const Entry& entry, std::string& error) {
        return append(std::vector{entry}, error);
    }

    // Told of every batch appended through this object, after the attempt to write it
    // (the tray program counts what it sorted); unset, nobody is told.
    std::function<void(const std::vector<Entry>&)> appended;
    // Whether an append waits until its lines are on disk. A delivery's line need not: the
    // message it tells of is on disk already, a crash loses at most the lines of the last
    // seconds, and a line it cuts short is ended by the next append and skipped by readers.
    bool synced = true;

    // Every readable line, oldest first.
    std::vector<Entry> all() const;
    // The last count lines, oldest first.
    std::vector<Entry> last(std::size_t count) const;
    // The lines at or after the time (as parseTime gives it), oldest first.
    std::vector<Entry> since(std::time_t time) const;
    // The lines of these Message-IDs (with or without their angle brackets), oldest first.
    std::vector<Entry> withMessageIds(const std::vector<std::string>& ids) const;

    // Whether undo moved the message with this file name (by its unique base) back into
    // the inbox: the sorters leave it there. Asks the list of undone messages and the
    // journal's "undone" lines; reads only what was appended since the last call (all
    // three files after a rotation), so a sorter can ask for every message.
    bool movedBack(const std::string& messageFile);
    // Lists the message (its unique base) as moved back by undo, before undo moves it, so
    // a sorter that sees it arrive leaves it; inboxBases: the inbox's messages, whose
    // entries are kept. False with the reason in error.
    bool recordMovedBack(const std::string& base, const std::set<std::string>& inboxBases,
                         std::string& error);

    // Whether two Message-IDs are the same, with or without their angle brackets.
    static bool sameMessageId(const std::string& a, const std::string& b);
    // "2026-12-08T06:12:03Z" for the time.
    static std::string formatTime(std::time_t time);
    // A time a person types, in UTC: "2026-12-08", "2026-12-08T06:12", "2026-12-08 06:12:03"
    // (a trailing "Z" allowed), or a span back from now: "30m", "2h", "3d". False when
    // the text is none of these.
    static bool parseTime(const std::string& text, std::time_t now, std::time_t& time);

private:
    bool appendLines(const std::vector<Entry>& entries, std::string& error);
    // Reads the "undone" lines of the file from offset on (complete lines only).
    std::uint64_t followFile(const std::string& path, std::uint64_t offset);

    std::string file;
    // What movedBack has read: the current file's identity and how far.
    std::uint64_t followedDevice = 0, followedInode = 0, followedBytes = 0;
    std::set<std::string> movedBackBases;
    UndoneMessages undone;
};
