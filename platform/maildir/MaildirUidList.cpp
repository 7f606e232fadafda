#include "platform/maildir/MaildirUidList.h"

#include "util/Log.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <tuple>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr MESSAGEID lastId = 0xFFFFFFFEu;
// A rewrite once the file holds this many more records than live ids (and twice as many):
// rare enough to cost O(1) per change, amortised.
constexpr std::size_t wasteAllowed = 1024;

std::uint32_t checksum(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

std::string record(char kind, const std::string& body) {
    char sum[9];
    std::snprintf(sum, sizeof sum, "%08x", checksum(body));
    return std::string(1, kind) + " " + sum + " " + body + "\n";
}

std::string addition(MESSAGEID id, const std::string& base) {
    return record('a', std::to_string(id) + " " + base);
}

std::string deletion(MESSAGEID id) {
    return record('d', std::to_string(id));
}

// The id at the start of text up to the space (or the end); 0 when there is none.
MESSAGEID parseId(std::string_view text, std::size_t* length) {
    unsigned long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    *length = static_cast<std::size_t>(end - text.data());
    if (error != std::errc() || value == 0 || value > lastId)
        return 0;
    if (*length < text.size() && text[*length] != ' ')
        return 0;
    return static_cast<MESSAGEID>(value);
}

// Whether a record "<kind> <checksum> <body>" holds its checksum; *body is what follows it.
bool checkedBody(std::string_view line, std::string_view* body) {
    if (line.size() < 12 || line[1] != ' ' || line[10] != ' ')
        return false;
    std::uint32_t sum = 0;
    auto [end, error] = std::from_chars(line.data() + 2, line.data() + 10, sum, 16);
    if (error != std::errc() || end != line.data() + 10)
        return false;
    *body = line.substr(11);
    return checksum(*body) == sum;
}

// A file seen for the first time, and where (for a file an event named).
struct Arrival {
    std::int64_t seconds, nanoseconds;
    const std::string* base;
    const MaildirEvent* where = nullptr;
};

// Gives the arrivals ids from next on, in the order they arrived (modification time,
// then name), appending their addition records to changes and each id with its place to
// given. False when the id space is used up.
bool giveIds(std::vector<Arrival>& arrivals, MESSAGEID next, const std::string& folderPath,
             std::string& changes, std::vector<std::pair<MESSAGEID, const MaildirEvent*>>& given) {
    std::sort(arrivals.begin(), arrivals.end(), [](const Arrival& a, const Arrival& b) {
        return std::tie(a.seconds, a.nanoseconds, *a.base) <
               std::tie(b.seconds, b.nanoseconds, *b.base);
    });
    MESSAGEID id = next;
    for (const Arrival& arrival : arrivals) {
        if (id >= lastId) {
            warningLog("no message id left in %s: new mail there gets no id and is not sorted "
                       "(see README.md, \"When the message ids run out\")",
                       folderPath.c_str());
            return false;
        }
        changes += addition(id, *arrival.base);
        given.emplace_back(id++, arrival.where);
    }
    return true;
}

HRESULT fail(const std::string& call, const std::string& path) {
    return sysError(call + "(" + path + ")");
}

} // namespace

MaildirUidList::MaildirUidList(std::string folderPath) : folderPath(std::move(folderPath)) {}

MaildirUidList::~MaildirUidList() {
    flush();
    closeFile();
}

void MaildirUidList::closeFile() {
    if (fd >= 0)
        sysCalls().close(fd);
    fd = -1;
    device = inode = consumed = seenSize = 0;
    records = 0;
    unflushed = false;
}

void MaildirUidList::addRecord(MESSAGEID id, std::string base) {
    ++additions;
    next = std::max<MESSAGEID>(next, id + 1);
    auto owner = byId.find(id);
    if (owner != byId.end() && owner->second.base != base) {
        byBase.erase(owner->second.base);
        byId.erase(owner);
    }
    auto [slot, fresh] = byBase.try_emplace(base, id);
    if (!fresh && slot->second != id) {
        byId.erase(slot->second);
        slot->second = id;
    }
    byId.try_emplace(id, Entry{std::move(base), {}, {}});
}

void MaildirUidList::dropRecord(MESSAGEID id) {
    next = std::max<MESSAGEID>(next, id + 1);
    auto found = byId.find(id);
    if (found == byId.end())
        return;
    auto slot = byBase.find(found->second.base);
    if (slot != byBase.end() && slot->second == id)
        byBase.erase(slot);
    byId.erase(found);
}

std::size_t MaildirUidList::apply(std::string_view text, bool fromStart) {
    std::size_t done = 0;
    bool header = fromStart;
    while (done < text.size()) {
        std::size_t end = text.find('\n', done);
        if (end == std::string_view::npos)
            break; // a torn last line: not written completely (yet)
        std::string_view line = text.substr(done, end - done);
        done = end + 1;
        if (header) {
            header = false;
            unsigned version = 0;
            unsigned long stored = 0;
            std::string copy(line);
            if (std::sscanf(copy.c_str(), "brevalo-uidlist %u %lu", &version, &stored) == 2 &&
                stored > 0 && stored <= lastId + 1ul)
                next = std::max<MESSAGEID>(next, static_cast<MESSAGEID>(stored));
            continue;
        }
        ++records;
        std::size_t length = 0;
        std::string_view body;
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') {
            // First version: "<id> <base>".
            MESSAGEID id = parseId(line, &length);
            if (id && length + 1 < line.size())
                addRecord(id, MaildirFileName::baseName(std::string(line.substr(length + 1))));
            continue;
        }
        if (line.empty() || !checkedBody(line, &body))
            continue;
        MESSAGEID id = parseId(body, &length);
        if (!id)
            continue;
        // Records written before mbsync's ",U=<uid>" left the base name have it still.
        if (line[0] == 'a' && length + 1 < body.size())
            addRecord(id, MaildirFileName::baseName(std::string(body.substr(length + 1))));
        else if (line[0] == 'd' && length == body.size())
            dropRecord(id);
    }
    return done;
}

HRESULT MaildirUidList::openFile() {
    std::string path = idFilePath();
    int opened = sysCalls().open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC, 0);
    if (opened < 0) {
        if (errno == ENOENT)
            return S_FALSE;
        return fail("open", path);
    }
    struct stat st {};
    if (sysCalls().fstat(opened, &st) != 0) {
        HRESULT hr = fail("fstat", path);
        sysCalls().close(opened);
        return hr;
    }
    closeFile();
    fd = opened;
    device = static_cast<std::uint64_t>(st.st_dev);
    inode = static_cast<std::uint64_t>(st.st_ino);
    return S_OK;
}

HRESULT MaildirUidList::loadIds() {
    std::string path = idFilePath();
    struct stat st {};
    if (sysCalls().stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return fail("stat", path);
        // Removed behind our back: start again, but never below the ids given so far.
        closeFile();
        byId.clear();
        byBase.clear();
        listed = false;
        return S_OK;
    }
    bool same = fd >= 0 && static_cast<std::uint64_t>(st.st_dev) == device &&
                static_cast<std::uint64_t>(st.st_ino) == inode &&
                static_cast<std::uint64_t>(st.st_size) >= consumed;
    std::uint64_t from = consumed;
    std::size_t additionsBefore = additions;
    if (!same) {
        HRESULT hr = openFile();
        if (FAILED(hr))
            return hr;
        if (hr == S_FALSE) { // replaced and gone between stat and open
            closeFile();
            byId.clear();
            byBase.clear();
            listed = false;
            return S_OK;
        }
        from = 0;
    }
    std::string content;
    if (readPieces(fd, static_cast<off_t>(from), 65536, [&](const char* data, std::size_t size) {
            content.append(data, size);
            return true;
        }) != 0) {
        HRESULT hr = fail("pread", path);
        closeFile();
        return hr;
    }
    if (!same) {
        // Another file (rewritten by someone): read whole, keeping the places of the
        // files already known.
        std::map<MESSAGEID, Entry> known = std::move(byId);
        byId.clear();
        byBase.clear();
        records = 0;
        consumed = apply(content, true);
        for (auto& [id, entry] : byId) {
            auto old = known.find(id);
            if (old != known.end() && old->second.base == entry.base) {
                entry.subdir = std::move(old->second.subdir);
                entry.fileName = std::move(old->second.fileName);
            }
        }
    } else {
        consumed += apply(content, false);
    }
    // Another writer may have left its ids to the page cache (see flush()).
    if (additions != additionsBefore)
        unflushed = true;
    seenSize = from + content.size();
    return S_OK;
}

HRESULT MaildirUidList::flush() {
    if (!unflushed || fd < 0)
        return S_OK;
    if (sysCalls().fsync(fd) != 0)
        return fail("fsync", idFilePath());
    unflushed = false;
    return S_OK;
}

HRESULT MaildirUidList::transaction(bool durable, const std::function<HRESULT()>& change) {
    std::lock_guard<std::mutex> guard(mutex);
    MaildirIdFile file(idFilePath());
    HRESULT hr = file.lock();
    if (FAILED(hr))
        return hr;
    hr = loadIds();
    if (FAILED(hr))
        return hr;
    hr = change();
    if (hr != S_OK || !durable)
        return hr;
    return flush();
}

HRESULT MaildirUidList::refresh() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        struct stat st {};
        if (fd >= 0 && sysCalls().stat(idFilePath().c_str(), &st) == 0 &&
            static_cast<std::uint64_t>(st.st_ino) == inode &&
            static_cast<std::uint64_t>(st.st_dev) == device &&
            static_cast<std::uint64_t>(st.st_size) == seenSize)
            return flush();
    }
    // Appends are read under the lock: a writer may still cut back what it could not
    // make durable.
    return transaction(true, [] { return S_OK; });
}

HRESULT MaildirUidList::rewrite(const std::string& extra) {
    std::map<MESSAGEID, Entry> saved = byId;
    std::string out = "brevalo-uidlist 2 " + std::to_string(next) + "\n";
    for (const auto& [id, entry] : byId)
        out += addition(id, entry.base);
    out += extra;
    HRESULT hr = MaildirIdFile::writeAtomically(idFilePath(), out);
    if (FAILED(hr))
        return hr;
    hr = openFile();
    if (hr != S_OK) {
        closeFile();
        return FAILED(hr) ? hr : hresultFromErrno(ENOENT);
    }
    records = 0;
    consumed = apply(out, true);
    seenSize = out.size();
    for (auto& [id, entry] : byId) {
        auto old = saved.find(id);
        if (old != saved.end() && old->second.base == entry.base) {
            entry.subdir = old->second.subdir;
            entry.fileName = old->second.fileName;
        }
    }
    return S_OK;
}

HRESULT MaildirUidList::append(const std::string& text, bool durable) {
    // No file yet, or one without a complete first line (empty, or torn before its header
    // was written): it must start with its header, or the reader would take the first
    // record for it and the message would get another id there.
    if (fd < 0 || consumed == 0)
        return rewrite(text);
    std::string path = idFilePath();
    MaildirSysCalls& sys = sysCalls();
    // A crashed writer's torn line is cut off, so the new records start on a line of
    // their own.
    if (seenSize > consumed && sys.ftruncate(fd, static_cast<off_t>(consumed)) != 0)
        return fail("ftruncate", path);
    seenSize = consumed;
    auto undo = [&](const char* call) {
        HRESULT hr = fail(call, path);
        // What did get written is complete records or a torn line; both read safely, but
        // the caller reports a failure, so take them back where possible.
        if (sys.ftruncate(fd, static_cast<off_t>(consumed)) != 0)
            closeFile(); // read the file again next time
        return hr;
    };
    if (writeAll(fd, text.data(), text.size()) != 0)
        return undo("write");
    if (durable && sys.fsync(fd) != 0)
        return undo("fsync");
    std::size_t before = additions;
    consumed += apply(text, false);
    // Deletion records need no fsync: lost, the next listing finds the file gone again.
    if (!durable && additions != before)
        unflushed = true;
    seenSize = consumed;
    return S_OK;
}

void MaildirUidList::compactIfWasteful() {
    if (fd < 0 || records < 2 * byId.size() + wasteAllowed)
        return;
    HRESULT hr = rewrite({});
    if (FAILED(hr))
        debugLog("rewriting %s/%s failed (%#x): the records stay as they are", folderPath.c_str(),
                 fileName, static_cast<unsigned>(hr));
}

HRESULT MaildirUidList::listFiles(std::unordered_map<std::string, Listed>* files) {
    // new/ before cur/: a message moved between the two listings is then seen twice
    // rather than not at all.
    for (const char* subdir : {"new", "cur"}) {
        std::string dirPath = folderPath + "/" + subdir;
        DIR* dir = opendir(dirPath.c_str());
        if (!dir) {
            return sysError("opendir(" + dirPath + ")");
        }
        while (dirent* entry = readdir(dir)) {
            if (!MaildirFileName::isMessageFile(entry->d_name))
                continue;
            std::string name = entry->d_name;
            if (!isMailFile(dirPath + "/" + name, entry->d_type))
                continue;
            // A line break would end the record early; such a file is left alone.
            if (name.find('\n') != std::string::npos)
                continue;
            std::string base = MaildirFileName::baseName(name);
            (*files)[base] = Listed{subdir, std::move(name)};
        }
        closedir(dir);
    }
    return S_OK;
}

bool MaildirUidList::isMailFile(const std::string& path, unsigned char type) {
    if (type == DT_UNKNOWN) {
        struct stat st {};
        if (sysCalls().lstat(path.c_str(), &st) != 0)
            return false; // gone already
        type = S_ISREG(st.st_mode)    ? DT_REG
               : S_ISLNK(st.st_mode)  ? DT_LNK
               : S_ISFIFO(st.st_mode) ? DT_FIFO
               : S_ISDIR(st.st_mode)  ? DT_DIR
                                      : DT_CHR;
    }
    if (type == DT_REG)
        return true;
    if (refused.insert(path).second) {
        const char* kind = type == DT_LNK    ? "a symbolic link"
                           : type == DT_FIFO ? "a FIFO"
                           : type == DT_DIR  ? "a directory"
                           : type == DT_SOCK ? "a socket"
                                             : "a device";
        warningLog("skipping %s: %s, not a mail file", path.c_str(), kind);
    }
    return false;
}

HRESULT MaildirUidList::syncLocked() {
    std::unordered_map<std::string, Listed> files;
    files.reserve(byBase.size() + 64);
    HRESULT hr = listFiles(&files);
    if (FAILED(hr))
        return hr;
    // A rename by another program during readdir can hide a file from one listing; list
    // again before forgetting an id.
    bool missing = std::any_of(byBase.begin(), byBase.end(),
                               [&](const auto& entry) { return !files.count(entry.first); });
    if (missing) {
        std::unordered_map<std::string, Listed> again;
        hr = listFiles(&again);
        if (FAILED(hr))
            return hr;
        for (auto& entry : again)
            files.emplace(entry.first, entry.second);
    }

    std::string changes;
    for (const auto& [id, entry] : byId) {
        if (!files.count(entry.base))
            changes += deletion(id);
    }
    std::vector<Arrival> fresh;
    for (const auto& [base, listed] : files) {
        if (byBase.count(base))
            continue;
        struct stat st {};
        std::string path = folderPath + "/" + listed.subdir + "/" + listed.fileName;
        if (sysCalls().stat(path.c_str(), &st) != 0)
            st = {};
        fresh.push_back(Arrival{st.st_mtim.tv_sec, st.st_mtim.tv_nsec, &base});
    }
    std::vector<std::pair<MESSAGEID, const MaildirEvent*>> given;
    if (!giveIds(fresh, next, folderPath, changes, given))
        return STORE_E_NO_IDS_LEFT;
    if (!changes.empty()) {
        hr = append(changes, !fresh.empty());
        if (FAILED(hr))
            return hr;
    }
    for (auto& [entryId, entry] : byId) {
        auto found = files.find(entry.base);
        if (found == files.end())
            continue;
        entry.subdir = found->second.subdir;
        entry.fileName = found->second.fileName;
    }
    listed = true;
    compactIfWasteful();
    return S_OK;
}

HRESULT MaildirUidList::sync() {
    return transaction(true, [this] { return syncLocked(); });
}

HRESULT MaildirUidList::syncNamed(const std::vector<MaildirEvent>& events) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!listed)
            return S_FALSE;
    }
    return transaction(true, [&] { return syncNamedLocked(events); });
}

HRESULT MaildirUidList::syncNamedLocked(const std::vector<MaildirEvent>& events) {
    if (!listed)
        return S_FALSE;
    std::map<std::string, std::vector<const MaildirEvent*>> byName;
    for (const MaildirEvent& event : events) {
        if (!MaildirFileName::isMessageFile(event.fileName) ||
            event.fileName.find('\n') != std::string::npos)
            continue;
        byName[MaildirFileName::baseName(event.fileName)].push_back(&event);
    }
    std::string changes;
    std::vector<Arrival> fresh;
    std::vector<std::pair<MESSAGEID, const MaildirEvent*>> moved;
    for (const auto& [base, named] : byName) {
        struct stat st {};
        const MaildirEvent* where = nullptr;
        // The latest name first: a file renamed twice is where the last event put it.
        for (auto it = named.rbegin(); it != named.rend() && !where; ++it) {
            std::string path = folderPath + "/" + (*it)->subdir + "/" + (*it)->fileName;
            if (sysCalls().stat(path.c_str(), &st) == 0)
                where = *it;
        }
        auto known = byBase.find(base);
        if (where && known == byBase.end() &&
            !isMailFile(folderPath + "/" + where->subdir + "/" + where->fileName, DT_UNKNOWN))
            continue;
        if (where) {
            if (known != byBase.end())
                moved.emplace_back(known->second, where);
            else
                fresh.push_back(Arrival{st.st_mtim.tv_sec, st.st_mtim.tv_nsec, &base, where});
            continue;
        }
        if (known == byBase.end())
            continue;
        const Entry& entry = byId.at(known->second);
        std::string path = folderPath + "/" + entry.subdir + "/" + entry.fileName;
        if (!entry.subdir.empty() && sysCalls().stat(path.c_str(), &st) == 0)
            continue; // still there under the name known
        // Moved to a name no event told yet, or out of the folder: only a listing can say
        // which, and a message must keep its id across a rename.
        if (std::any_of(named.begin(), named.end(),
                        [](const MaildirEvent* event) { return event->movedAway; }))
            return S_FALSE;
        changes += deletion(known->second);
    }
    if (!giveIds(fresh, next, folderPath, changes, moved))
        return STORE_E_NO_IDS_LEFT;
    if (!changes.empty()) {
        HRESULT hr = append(changes, !fresh.empty());
        if (FAILED(hr))
            return hr;
    }
    for (const auto& [entryId, where] : moved) {
        auto found = byId.find(entryId);
        if (found == byId.end())
            continue;
        found->second.subdir = where->subdir;
        found->second.fileName = where->fileName;
    }
    compactIfWasteful();
    return S_OK;
}

HRESULT MaildirUidList::addFile(const std::string& subdir, const std::string& name,
                                const std::function<HRESULT()>& place, bool* present) {
    *present = false;
    // Not flushed here: the copy's record waits for the next sync of any process (see the
    // class comment).
    return transaction(false, [&] { return addFileLocked(subdir, name, place, present); });
}

HRESULT MaildirUidList::addFileLocked(const std::string& subdir, const std::string& name,
                                      const std::function<HRESULT()>& place, bool* present) {
    HRESULT hr = S_OK;
    if (!listed) {
        hr = syncLocked();
        if (FAILED(hr))
            return hr;
    }
    std::string base = MaildirFileName::baseName(name);
    struct stat st {};
    auto known = byBase.find(base);
    if (known != byBase.end()) {
        const Entry& entry = byId.at(known->second);
        std::string path = folderPath + "/" + entry.subdir + "/" + entry.fileName;
        if (!entry.subdir.empty() && sysCalls().stat(path.c_str(), &st) == 0) {
            *present = true;
            return S_OK;
        }
        // Renamed or deleted by another program since: look again.
        hr = syncLocked();
        if (FAILED(hr))
            return hr;
        if (byBase.count(base)) {
            *present = true;
            return S_OK;
        }
    }
    // A copy that was moved in before a crash took its id record with it.
    for (const char* dir : {"new", "cur"}) {
        std::string path = folderPath + "/" + dir + "/" + name;
        if (sysCalls().stat(path.c_str(), &st) == 0) {
            *present = true;
            return S_OK;
        }
    }
    if (next >= lastId) {
        warningLog("no message id left in %s: nothing more can be placed there (see README.md, "
                   "\"When the message ids run out\")",
                   folderPath.c_str());
        return STORE_E_NO_IDS_LEFT;
    }
    hr = place();
    if (FAILED(hr))
        return hr;
    MESSAGEID id = next;
    hr = append(addition(id, base), false);
    if (FAILED(hr))
        return hr;
    Entry& entry = byId.at(id);
    entry.subdir = subdir;
    entry.fileName = name;
    compactIfWasteful();
    return S_OK;
}

HRESULT MaildirUidList::forgetFile(MESSAGEID id) {
    // Not fsynced: a lost deletion record is found again by the next listing, and the
    // id stays used either way.
    return transaction(false, [&] {
        if (!byId.count(id))
            return S_OK;
        HRESULT hr = append(deletion(id), false);
        if (FAILED(hr))
            return hr;
        compactIfWasteful();
        return S_OK;
    });
}

std::vector<MaildirMessage> MaildirUidList::messages() const {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<MaildirMessage> list;
    list.reserve(byId.size());
    for (const auto& [id, entry] : byId) {
        if (!entry.subdir.empty())
            list.push_back(MaildirMessage{id, entry.subdir, entry.fileName});
    }
    return list;
}

bool MaildirUidList::find(MESSAGEID id, MaildirMessage* message) const {
    std::lock_guard<std::mutex> guard(mutex);
    auto it = byId.find(id);
    if (it == byId.end() || it->second.subdir.empty())
        return false;
    *message = MaildirMessage{id, it->second.subdir, it->second.fileName};
    return true;
}

bool MaildirUidList::findBase(const std::string& base, MaildirMessage* message) const {
    std::lock_guard<std::mutex> guard(mutex);
    auto slot = byBase.find(base);
    if (slot == byBase.end())
        return false;
    const Entry& entry = byId.at(slot->second);
    if (entry.subdir.empty())
        return false;
    *message = MaildirMessage{slot->second, entry.subdir, entry.fileName};
    return true;
}

std::size_t MaildirUidList::fileRecords() const {
    std::lock_guard<std::mutex> guard(mutex);
    return records;
}
