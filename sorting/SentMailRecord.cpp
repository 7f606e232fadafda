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
#include <sstream>
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

bool parseState(const std::string& text, SentMailRecord::State& state) {
    for (auto candidate : {SentMailRecord::State::Handed, SentMailRecord::State::Sent,
                           SentMailRecord::State::Failed}) {
        if (text == stateName(candidate)) {
            state = candidate;
            return true;
        }
    }
    return false;
}

bool isKey(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

template <class T> bool number(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
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
    bool locked = trim == Trim::Always && lock();
    std::size_t dropped = read();
    if (!locked && trim == Trim::WhenLong && dropped >= linesBeforeTrimming && lock()) {
        locked = true;
        dropped = read();
    }
    if (!locked || !readable || dropped == 0)
        return;
    std::string trimmed;
    for (const auto& [key, entry] : entries)
        trimmed += line(key, entry);
    if (FAILED(guard->write(trimmed)))
        warningLog("sent mail record: cannot rewrite %s; it keeps its old lines", file.c_str());
}

std::size_t SentMailRecord::read() {
    entries.clear();
    std::string text;
    int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 && errno == ENOENT)
        return 0;
    for (char buffer[65536]; in >= 0;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0) {
                ::close(in);
                in = -2; // read to the end
            }
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (in != -2) {
        readable = false;
        warningLog("sent mail record: cannot read %s: %s; no mail is sent until it can be",
                   file.c_str(), std::strerror(errno));
        if (in >= 0)
            ::close(in);
        return 0;
    }
    std::size_t lines = 0, at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break; // torn by a crash while appending: the send it announced never began
        std::istringstream words(text.substr(at, end - at));
        at = end + 1;
        ++lines;
        std::string time, key, state, attempt, message;
        if (!(words >> time >> key >> state >> attempt >> message) || !isKey(key))
            continue;
        Entry entry;
        if (!number(time, entry.time) || !number(attempt, entry.attempt) ||
            !number(message, entry.message) || !parseState(state, entry.state))
            continue;
        entries[key] = entry;
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
    return found == entries.end() ? Entry{} : found->second;
}

bool SentMailRecord::append(const std::string& key, const Entry& entry, std::string& error) {
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
    struct stat named {
    }, opened{};
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
    // A crash (of any of the writers) may have left a line without its end; the next line
    // must not be glued to it.
    std::string text = line(key, entry);
    char last = '\n';
    if (opened.st_size > 0 && ::pread(fd, &last, 1, opened.st_size - 1) == 1 && last != '\n')
        text.insert(0, "\n");
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "write(" + file + "): " + std::strerror(n < 0 ? errno : ENOSPC);
            // Half a line would be read as a line of its own by the next reader.
            if (done > 0 && ::ftruncate(fd, opened.st_size) != 0)
                warningLog("sent mail record: ftruncate(%s): %s", file.c_str(),
                           std::strerror(errno));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fdatasync(fd) != 0) {
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
    return append(key, entry, error);
}

void SentMailRecord::sent(const std::string& key) {
    Entry entry = find(key);
    entry.state = State::Sent;
    entry.time = static_cast<std::int64_t>(std::time(nullptr));
    std::string error;
    if (!append(key, entry, error))
        warningLog("sent mail record: %s", error.c_str());
}

void SentMailRecord::failed(const std::string& key) {
    Entry entry = find(key);
    entry.state = State::Failed;
    entry.time = static_cast<std::int64_t>(std::time(nullptr));
    std::string error;
    if (!append(key, entry, error))
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
