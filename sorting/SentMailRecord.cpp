#include "sorting/SentMailRecord.h"

#include "util/ComException.h"
#include "util/Log.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirIdFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* stateName(SentMailRecord::State state) {
    switch (state) {
    case SentMailRecord::State::Handed:
        return "handed";
    case SentMailRecord::State::Sent:
        return "sent";
    case SentMailRecord::State::Failed:
        return "failed";
    default:
        return "none";
    }
}

bool parseState(std::string_view text, SentMailRecord::State& state) {
    for (auto candidate : {SentMailRecord::State::Handed, SentMailRecord::State::Sent,
                           SentMailRecord::State::Failed}) {
        if (text == stateName(candidate)) {
            state = candidate;
            return true;
        }
    }
    return false;
}

bool isKey(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

template <class T> bool number(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

// One line's fields, split by hand: a delivery reads the whole file for every mail it
// sends, and a stream per line would cost more than the rest of the delivery.
bool parseLine(std::string_view rest, std::string_view& key, SentMailRecord::Entry& entry) {
    std::string_view words[5];
    for (std::string_view& word : words) {
        std::size_t begin = rest.find_first_not_of(" \t\r");
        if (begin == std::string_view::npos)
            return false;
        rest.remove_prefix(begin);
        std::size_t stop = std::min(rest.find_first_of(" \t\r"), rest.size());
        word = rest.substr(0, stop);
        rest.remove_prefix(stop);
    }
    key = words[1];
    return isKey(key) && number(words[0], entry.time) && parseState(words[2], entry.state) &&
           number(words[3], entry.attempt) && number(words[4], entry.message);
}

// Cuts off a last line without its end, leaving size at the file's new end. Its write never
// returned, so the mail it announced never went out; ended with a line feed instead, a line
// cut within its message id would read as whole and keep that mail from ever being sent.
bool cutTornLine(int fd, const std::string& file, off_t& size, std::string& error) {
    char buffer[4096];
    for (off_t end = size; end > 0;) {
        // Nearly always only the last byte: the file ends with its line feed.
        off_t begin = end == size ? end - 1 : std::max<off_t>(0, end - off_t(sizeof buffer));
        ssize_t n = ::pread(fd, buffer, static_cast<std::size_t>(end - begin), begin);
        if (n != end - begin) {
            error = "read(" + file + "): " + std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        const char* feed =
            static_cast<const char*>(::memrchr(buffer, '\n', static_cast<std::size_t>(n)));
        if (feed || begin == 0) {
            off_t whole = feed ? begin + (feed - buffer) + 1 : 0;
            if (whole != size && ::ftruncate(fd, whole) != 0) {
                error = "ftruncate(" + file + "): " + std::strerror(errno);
                return false;
            }
            size = whole;
            return true;
        }
        end = begin;
    }
    return true;
}

std::string line(const std::string& key, const SentMailRecord::Entry& entry) {
    return std::to_string(entry.time) + " " + key + " " + stateName(entry.state) + " " +
           std::to_string(entry.attempt) + " " + std::to_string(entry.message) + "\n";
}

} // namespace

SentMailRecord::SentMailRecord(std::string file, Trim trim) : file(std::move(file)) {
    load(trim);
}

SentMailRecord::~SentMailRecord() {
    if (fd >= 0)
        ::close(fd);
}

std::string SentMailRecord::key(const std::string& messageKey, const std::string& mail) {
    std::string text = messageKey + "\n" + mail;
    return MimeOleDigest(text.data(), text.size());
}

void SentMailRecord::load(Trim trim) {
    // The rewrite holds the lock from its read to its rename, so that no line another
    // process appends in between is lost.
    std::optional<MaildirIdFile> guard;
    auto lock = [&] {
        guard.emplace(file);
        HRESULT locked = guard->lock();
        if (SUCCEEDED(locked))
            return true;
        guard.reset();
        if (locked != hresultFromErrno(ENOENT)) // no folder yet: nothing to trim either
            warningLog("sent mail record: cannot lock %s.lock; the file is not trimmed",
                       file.c_str());
        return false;
    };
    bool locked = false;
    std::string text;
    if (trim == Trim::WhenLong) {
        if (!readText(unparsed))
            return;
        // Most deliveries stop here, and find() looks for the few keys they send.
        if (static_cast<std::size_t>(std::count(unparsed.begin(), unparsed.end(), '\n')) <
                keptMails + linesBeforeTrimming ||
            !lock())
            return;
        unparsed.clear();
        locked = true;
    } else {
        locked = lock();
    }
    if (!readText(text) || parse(text) == 0 || !locked)
        return;
    std::string trimmed;
    for (const auto& [key, entry] : entries)
        trimmed += line(key, entry);
    if (FAILED(guard->write(trimmed)))
        warningLog("sent mail record: cannot rewrite %s; it keeps its old lines", file.c_str());
}

bool SentMailRecord::readText(std::string& text) {
    text.clear();
    int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 && errno == ENOENT)
        return true;
    for (char buffer[65536]; in >= 0;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0) {
                ::close(in);
                return true;
            }
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    readable = false;
    text.clear();
    warningLog("sent mail record: cannot read %s: %s; no mail is sent until it can be",
               file.c_str(), std::strerror(errno));
    if (in >= 0)
        ::close(in);
    return false;
}

std::size_t SentMailRecord::parse(const std::string& text) {
    entries.clear();
    std::size_t lines = 0, at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break; // torn by a crash while appending: the send it announced never began
        std::string_view key;
        Entry entry;
        if (parseLine(std::string_view(text).substr(at, end - at), key, entry))
            entries[std::string(key)] = entry;
        at = end + 1;
        ++lines;
    }

    // Trim: only the last line of each mail, none older than keptSeconds, the newest
    // keptMails of them.
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::erase_if(entries,
                  [now](const auto& item) { return now - item.second.time > keptSeconds; });
    if (entries.size() > keptMails) {
        std::vector<std::int64_t> times;
        for (const auto& item : entries)
            times.push_back(item.second.time);
        std::nth_element(times.begin(), times.end() - keptMails, times.end());
        std::int64_t oldestKept = *(times.end() - keptMails);
        std::erase_if(entries,
                      [oldestKept](const auto& item) { return item.second.time < oldestKept; });
    }
    return lines - entries.size() + (at != text.size() ? 1 : 0);
}

SentMailRecord::Entry SentMailRecord::find(const std::string& key) const {
    auto found = entries.find(key);
    if (found != entries.end() || unparsed.empty())
        return found == entries.end() ? Entry{} : found->second;
    // The last whole line of the key, as parse() would keep it.
    Entry last;
    std::string_view text(unparsed);
    for (std::size_t at = text.find(key); at != std::string_view::npos;
         at = text.find(key, at + key.size())) {
        std::size_t begin = text.rfind('\n', at);
        begin = begin == std::string_view::npos ? 0 : begin + 1;
        std::size_t end = text.find('\n', at);
        std::string_view lineKey;
        Entry entry;
        if (end != std::string_view::npos &&
            parseLine(text.substr(begin, end - begin), lineKey, entry) && lineKey == key)
            last = entry;
    }
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    return now - last.time > keptSeconds ? Entry{} : last;
}

bool SentMailRecord::append(const std::string& key, const Entry& entry, bool synced,
                            std::string& error) {
    if (!readable) {
        error = "cannot read " + file;
        return false;
    }
    std::string folder = std::filesystem::path(file).parent_path().string();
    if (fd < 0 && !folder.empty()) {
        std::error_code made;
        std::filesystem::create_directories(folder, made);
    }
    MaildirIdFile guard(file);
    if (HRESULT locked = guard.lock(); FAILED(locked)) {
        error = "cannot lock " + file + ".lock: " + resultText(locked);
        return false;
    }
    struct stat named = {}, opened = {};
    bool exists = ::stat(file.c_str(), &named) == 0;
    if (fd >= 0 && (!exists || ::fstat(fd, &opened) != 0 || opened.st_ino != named.st_ino ||
                    opened.st_dev != named.st_dev)) {
        ::close(fd); // replaced by a rewrite: the name is what the others read
        fd = -1;
    }
    if (fd < 0) {
        fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = "open(" + file + "): " + std::strerror(errno);
            return false;
        }
        // A new file must survive a crash along with the lines in it.
        if (!exists && !folder.empty() && FAILED(MaildirIdFile::syncDirectory(folder))) {
            error = "fsync(" + folder + ") failed";
            return false;
        }
    }
    if (::fstat(fd, &opened) != 0) {
        error = "fstat(" + file + "): " + std::strerror(errno);
        return false;
    }
    // A crash (of any of the writers) may have left a line without its end.
    off_t size = opened.st_size;
    if (!cutTornLine(fd, file, size, error))
        return false;
    std::string text = line(key, entry);
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "write(" + file + "): " + std::strerror(n < 0 ? errno : ENOSPC);
            // Half a line would be read as a line of its own by the next reader.
            if (done > 0 && ::ftruncate(fd, size) != 0)
                warningLog("sent mail record: ftruncate(%s): %s", file.c_str(),
                           std::strerror(errno));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (synced && ::fdatasync(fd) != 0) {
        error = "fdatasync(" + file + "): " + std::strerror(errno);
        return false;
    }
    entries[key] = entry;
    return true;
}

bool SentMailRecord::handing(const std::string& key, std::uint32_t message, int attempt,
                             std::string& error) {
    Entry entry;
    entry.state = State::Handed;
    entry.attempt = attempt;
    entry.message = message;
    entry.time = static_cast<std::int64_t>(std::time(nullptr));
    return append(key, entry, true, error);
}

void SentMailRecord::sent(const std::string& key) {
    Entry entry = find(key);
    entry.state = State::Sent;
    entry.time = static_cast<std::int64_t>(std::time(nullptr));
    std::string error;
    // Not waited for: the synced "handed" line already keeps the mail from going out twice.
    if (!append(key, entry, false, error))
        warningLog("sent mail record: %s", error.c_str());
}

void SentMailRecord::failed(const std::string& key) {
    Entry entry = find(key);
    entry.state = State::Failed;
    entry.time = static_cast<std::int64_t>(std::time(nullptr));
    std::string error;
    if (!append(key, entry, true, error))
        warningLog("sent mail record: %s", error.c_str());
}

std::vector<std::uint32_t> SentMailRecord::retryMessages() const {
    std::vector<std::uint32_t> ids;
    for (const auto& [key, entry] : entries)
        if (entry.state == State::Failed && entry.attempt < attemptsAllowed && entry.message != 0)
            ids.push_back(entry.message);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}
