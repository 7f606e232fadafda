#include "sorting/Journal.h"

#include "util/Log.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirSysCalls.h"
#include "sorting/IncomingMail.h"
#include "sorting/SortDecision.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string errnoText(const std::string& call, const std::string& path) {
    return call + "(" + path + "): " + std::strerror(errno);
}

bool syncFolder(const std::string& path) {
    int fd =
        sysCalls().open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool synced = sysCalls().fsync(fd) == 0;
    sysCalls().close(fd);
    return synced;
}

// The text cut to at most limit bytes on a UTF-8 character boundary, marked by "...".
std::string cut(const std::string& text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    std::size_t end = limit - 3;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
        --end; // a continuation byte: the character starts before it
    return text.substr(0, end) + "...";
}

// Counts nesting and stops the parse past Journal::maxDepth, before a value is built: the
// parser itself keeps its depth in a vector, but copying or printing a deep value recurses.
struct DepthCheck : nlohmann::json_sax<json> {
    int depth = 0;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return ++depth <= Journal::maxDepth; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return --depth, true; }
    bool start_array(std::size_t) override { return ++depth <= Journal::maxDepth; }
    bool end_array() override { return --depth, true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }
};

// Hands each line of the file from offset on to take, without its end; a line longer than
// Journal::lineBytes is skipped as it is read, never held whole. A last line without its
// end is handed out only with tail set. Answers the offset after the last complete line.
std::uint64_t scanLines(const std::string& path, std::uint64_t offset, bool tail,
                        const std::function<void(const std::string&)>& take) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return offset;
    std::string line;
    bool tooLong = false;
    std::uint64_t at = offset, complete = offset;
    auto skipped = [&path] {
        warningLog("journal %s: skipping a line of over %zu bytes", path.c_str(),
                   Journal::lineBytes);
    };
    readPieces(fd, static_cast<off_t>(offset), 1u << 16, [&](const char* data, std::size_t size) {
        const char* end = data + size;
        while (data < end) {
            auto newline = static_cast<const char*>(std::memchr(data, '\n', end - data));
            std::size_t length = (newline ? newline : end) - data;
            tooLong = tooLong || line.size() + length > Journal::lineBytes;
            if (tooLong)
                line.clear();
            else
                line.append(data, length);
            at += length;
            data += length;
            if (!newline)
                break;
            ++data;
            complete = ++at;
            if (tooLong)
                skipped();
            else
                take(line);
            line.clear();
            tooLong = false;
        }
        return true;
    });
    ::close(fd);
    if (tail && tooLong)
        skipped();
    else if (tail && !line.empty())
        take(line);
    return complete;
}

// Text from mail headers may be anything; the journal is UTF-8 JSON, so bytes that are
// no UTF-8 become U+FFFD rather than making the line unwritable. The keys keep the order
// of the header comment, for a person reading the file.
std::string dumped(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string stringAt(const json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The lines of one file, oldest first; unreadable lines skipped.
void readFile(const std::string& path, std::vector<Journal::Entry>& entries) {
    scanLines(path, 0, true, [&](const std::string& line) {
        Journal::Entry entry;
        if (Journal::Entry::fromJson(line, entry))
            entries.push_back(std::move(entry));
        else if (!line.empty())
            debugLog("journal %s: skipping a line that is not a journal entry", path.c_str());
    });
}

std::string rotated(const std::string& file, int n) {
    return file + "." + std::to_string(n);
}

std::string withoutBrackets(std::string id) {
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
        id = id.substr(1, id.size() - 2);
    return id;
}

} // namespace

Journal::Entry Journal::Entry::of(const SortDecision& decision, const CarriedOut& done,
                                  std::time_t when) {
    Entry entry;
    entry.time = formatTime(when);
    entry.messageId = decision.messageId;
    entry.subject = decision.subject;
    entry.from = decision.from;
    entry.action = SortDecision::actionName(decision.action);
    entry.reason = decision.reason;
    if (done.failed()) {
        entry.action = "failed";
        entry.reason = done.failure;
    }
    entry.recipients = decision.recipients;
    for (const SortDecision::Folder& folder : decision.folders)
        entry.folders.push_back({folder.name, folder.percent});
    for (const CopyPlace& copy : done.copies)
        entry.copies.push_back({copy.folder, copy.file});
    return entry;
}

std::string Journal::Entry::toJson() const {
    using ordered = nlohmann::ordered_json;
    ordered object = {
        {"time", cut(time, fieldBytes)},       {"message_id", cut(messageId, longFieldBytes)},
        {"subject", cut(subject, fieldBytes)}, {"from", cut(from, fieldBytes)},
        {"action", cut(action, fieldBytes)},   {"reason", cut(reason, longFieldBytes)},
        {"recipients", ordered::array()},      {"folders", ordered::array()},
        {"copies", ordered::array()}};
    for (const std::string& recipient : recipients)
        object["recipients"].push_back(cut(recipient, fieldBytes));
    for (const Folder& folder : folders)
        object["folders"].push_back({{"name", cut(folder.name, fieldBytes)},
                                     {"percent", std::round(folder.percent * 10) / 10}});
    // A file name is never cut: undo finds the message by it (the store keeps it short).
    for (const Copy& copy : copies)
        object["copies"].push_back({{"folder", cut(copy.folder, fieldBytes)}, {"file", copy.file}});
    return dumped(object);
}

bool Journal::Entry::fromJson(const std::string& line, Entry& entry) {
    DepthCheck depth;
    if (line.size() > lineBytes || !json::sax_parse(line, &depth))
        return false;
    json object = json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object())
        return false;
    auto time = object.find("time"), action = object.find("action");
    if (time == object.end() || !time->is_string() || action == object.end() ||
        !action->is_string())
        return false;
    entry = Entry();
    entry.time = time->get<std::string>();
    entry.action = action->get<std::string>();
    entry.messageId = stringAt(object, "message_id");
    entry.subject = stringAt(object, "subject");
    entry.from = stringAt(object, "from");
    entry.reason = stringAt(object, "reason");
    auto array = [&object](const char* key) {
        auto it = object.find(key);
        return it != object.end() && it->is_array() ? *it : json::array();
    };
    for (const json& recipient : array("recipients"))
        if (recipient.is_string())
            entry.recipients.push_back(recipient.get<std::string>());
    for (const json& folder : array("folders")) {
        if (!folder.is_object())
            continue;
        auto percent = folder.find("percent");
        entry.folders.push_back(
            {stringAt(folder, "name"),
             percent != folder.end() && percent->is_number() ? percent->get<double>() : 0.0});
    }
    for (const json& copy : array("copies"))
        if (copy.is_object())
            entry.copies.push_back({stringAt(copy, "folder"), stringAt(copy, "file")});
    return true;
}

Journal::Journal(std::string fileName)
    : file(std::move(fileName)), undone((fs::path(file).parent_path() / "undone").string()) {}

bool Journal::append(const std::vector<Entry>& entries, std::string& error) {
    bool written = appendLines(entries, error);
    // Told also when the file failed: the mail was handled all the same.
    if (appended && !entries.empty())
        appended(entries);
    return written;
}

bool Journal::appendLines(const std::vector<Entry>& entries, std::string& error) {
    if (entries.empty())
        return true;
    std::string folder = fs::path(file).parent_path().string();
    std::error_code made;
    if (!folder.empty())
        fs::create_directories(folder, made);
    int fd = -1;
    struct stat before {};
    // Another writer may rotate between our open and our lock: then the name points to a
    // new file and ours is the rotated one. Read too: for the last byte of the file.
    for (int attempt = 0; attempt < 8; ++attempt) {
        fd = sysCalls().open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = errnoText("open", file);
            return false;
        }
        if (sysCalls().flock(fd, LOCK_EX) != 0) {
            error = errnoText("flock", file);
            sysCalls().close(fd);
            return false;
        }
        struct stat named {};
        if (sysCalls().fstat(fd, &before) == 0 && sysCalls().stat(file.c_str(), &named) == 0 &&
            before.st_ino == named.st_ino && before.st_dev == named.st_dev) {
            if (static_cast<std::uint64_t>(before.st_size) < rotateBytes)
                break;
            for (int n = keptFiles; n > 1; --n)
                sysCalls().rename(rotated(file, n - 1).c_str(), rotated(file, n).c_str());
            if (sysCalls().rename(file.c_str(), rotated(file, 1).c_str()) != 0) {
                warningLog("journal: %s; appending to the full file",
                           errnoText("rename", file).c_str());
                break;
            }
            syncFolder(folder);
        }
        sysCalls().close(fd);
        fd = -1;
    }
    if (fd < 0) {
        error = "cannot open " + file + ": it is being rotated";
        return false;
    }
    std::string text;
    // A crash during an earlier write may have left a line without its end.
    if (before.st_size > 0) {
        char last = '\n';
        if (sysCalls().pread(fd, &last, 1, before.st_size - 1) != 1)
            last = '\n';
        if (last != '\n')
            text = "\n";
    }
    for (const Entry& entry : entries)
        text += entry.toJson() + "\n";
    bool written = true;
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = sysCalls().write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errnoText("write", file) : "write(" + file + "): no space";
            written = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // Half a line would be read as garbage, and the next line glued to it.
    if (!written && done > 0 && sysCalls().ftruncate(fd, before.st_size) != 0)
        warningLog("journal: %s", errnoText("ftruncate", file).c_str());
    if (written && synced && sysCalls().fsync(fd) != 0) {
        error = errnoText("fsync", file);
        written = false;
    }
    if (written && synced && before.st_size == 0 && !syncFolder(folder)) {
        error = "fsync(" + folder + ") failed";
        written = false;
    }
    sysCalls().close(fd); // drops the lock
    return written;
}

std::vector<Journal::Entry> Journal::all() const {
    std::vector<Entry> entries;
    for (int n = keptFiles; n >= 1; --n)
        readFile(rotated(file, n), entries);
    readFile(file, entries);
    return entries;
}

std::vector<Journal::Entry> Journal::last(std::size_t count) const {
    // Newest file first: the older ones (up to 20 MB) are read only when it holds too few.
    std::vector<Entry> entries;
    for (int n = 0; n <= keptFiles && entries.size() < count; ++n) {
        std::vector<Entry> older;
        readFile(n == 0 ? file : rotated(file, n), older);
        entries.insert(entries.begin(), std::make_move_iterator(older.begin()),
                       std::make_move_iterator(older.end()));
    }
    if (entries.size() > count)
        entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(count));
    return entries;
}

std::vector<Journal::Entry> Journal::since(std::time_t time) const {
    std::string from = formatTime(time);
    std::vector<Entry> entries = all();
    // The times are written in one fixed form: they compare as texts.
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&from](const Entry& entry) { return entry.time < from; }),
                  entries.end());
    return entries;
}

std::vector<Journal::Entry> Journal::withMessageIds(const std::vector<std::string>& ids) const {
    std::vector<std::string> wanted;
    for (const std::string& id : ids)
        wanted.push_back(withoutBrackets(id));
    std::vector<Entry> entries = all();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&wanted](const Entry& entry) {
                                     return entry.messageId.empty() ||
                                            std::find(wanted.begin(), wanted.end(),
                                                      withoutBrackets(entry.messageId)) ==
                                                wanted.end();
                                 }),
                  entries.end());
    return entries;
}

std::uint64_t Journal::followFile(const std::string& path, std::uint64_t offset) {
    // A line without its end is being written: it is read next time.
    return scanLines(path, offset, false, [this](const std::string& line) {
        Entry entry;
        if (line.find("\"undone\"") == std::string::npos || !Entry::fromJson(line, entry) ||
            entry.action != "undone")
            return;
        for (const Copy& copy : entry.copies)
            if (copy.folder.empty())
                movedBackBases.insert(MaildirFileName::baseName(copy.file));
    });
}

bool Journal::movedBack(const std::string& messageFile) {
    std::string base = MaildirFileName::baseName(messageFile);
    if (undone.contains(base))
        return true;
    struct stat now {};
    if (::stat(file.c_str(), &now) != 0)
        return false;
    std::uint64_t device = now.st_dev, inode = now.st_ino;
    if (device != followedDevice || inode != followedInode ||
        static_cast<std::uint64_t>(now.st_size) < followedBytes) {
        // The first look, or the file was rotated: read everything again.
        movedBackBases.clear();
        for (int n = keptFiles; n >= 1; --n)
            followFile(rotated(file, n), 0);
        followedDevice = device;
        followedInode = inode;
        followedBytes = 0;
    }
    if (static_cast<std::uint64_t>(now.st_size) > followedBytes)
        followedBytes = followFile(file, followedBytes);
    return movedBackBases.count(base) > 0;
}

bool Journal::recordMovedBack(const std::string& base, const std::set<std::string>& inboxBases,
                              std::string& error) {
    return undone.add(base, inboxBases, error);
}

bool Journal::sameMessageId(const std::string& a, const std::string& b) {
    return !a.empty() && withoutBrackets(a) == withoutBrackets(b);
}

std::string Journal::formatTime(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char buffer[32];
    std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(buffer, n);
}

bool Journal::parseTime(const std::string& text, std::time_t now, std::time_t& time) {
    if (text.size() >= 2 && std::isdigit(static_cast<unsigned char>(text[0]))) {
        char unit = text.back();
        std::string number = text.substr(0, text.size() - 1);
        long seconds = unit == 'm' ? 60 : unit == 'h' ? 3600 : unit == 'd' ? 86400 : 0;
        if (seconds && number.size() <= 6 &&
            std::all_of(number.begin(), number.end(),
                        [](unsigned char c) { return std::isdigit(c); })) {
            time = now - std::stol(number) * seconds;
            return true;
        }
    }
    std::tm parts{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    int consumed = 0;
    std::string rest = text;
    if (!rest.empty() && rest.back() == 'Z')
        rest.pop_back();
    int fields = std::sscanf(rest.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &year, &month, &day,
                             &consumed, &separator, &hour, &minute, &consumed, &second, &consumed);
    bool whole = static_cast<std::size_t>(consumed) == rest.size();
    if (!whole || (fields != 3 && fields != 6 && fields != 7) ||
        (fields > 3 && separator != 'T' && separator != ' '))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        hour < 0 || minute < 0 || second < 0)
        return false;
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    time = timegm(&parts);
    return true;
}
