#include "platform/maildir/MaildirDelivery.h"

#include "util/ComException.h"
#include "util/Log.h"
#include "platform/maildir/SyncGroup.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirStore.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <cassert>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>

namespace {

constexpr const char* recordMagic = "brevalo delivery set 1";
// A record is written after its tmp/ files: one younger than this has them all, as the
// sweep takes tmp/ files only after 36 hours.
constexpr time_t recordTrustedAge = 24 * 60 * 60;
// Far above any real record (a few paths), so a stray large file is not read whole.
constexpr off_t recordMaxBytes = 1 << 20;

// A record line holds paths and labels: a line end or backslash in them is escaped.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string recordPrefix(const std::string& key) {
    return "set." + key + ".";
}

} // namespace

MaildirDelivery::MaildirDelivery(std::vector<std::string> folders)
    : folders(std::move(folders)),
      // One name in every folder: the copies are one message (the store's copy keeps the
      // unique base name the same way).
      name(MaildirFileName::uniqueName()) {
    assert(!this->folders.empty() && "a delivery needs a folder");
}

MaildirDelivery::MaildirDelivery(std::vector<std::string> folders, std::vector<std::string> labels,
                                 std::string recordMaildir, std::string key)
    : MaildirDelivery(std::move(folders)) {
    assert(labels.size() == this->folders.size() && "a label for each folder");
    assert(key.find('/') == std::string::npos && (!key.empty() || this->folders.size() == 1) &&
           "a key is a file name part");
    this->labels = std::move(labels);
    this->recordMaildir = std::move(recordMaildir);
    this->key = std::move(key);
}

MaildirDelivery::~MaildirDelivery() {
    if (!committed)
        takeBack();
    finish();
}

std::unique_ptr<MaildirDelivery> MaildirDelivery::takeOver(const std::string& recordMaildir,
                                                           const std::function<std::string()>& key,
                                                           bool* busy) {
    MaildirSysCalls& sys = sysCalls();
    std::string dirPath = recordMaildir + "/tmp";
    std::vector<std::string> candidates;
    std::string setKey;
    if (DIR* dir = opendir(dirPath.c_str())) {
        std::string prefix;
        while (dirent* entry = readdir(dir)) {
            std::string_view name = entry->d_name;
            if (name.substr(0, 4) != "set.")
                continue;
            if (prefix.empty())
                prefix = recordPrefix(setKey = key());
            if (name.substr(0, prefix.size()) == prefix)
                candidates.push_back(dirPath + "/" + entry->d_name);
        }
        closedir(dir);
    }
    time_t now = time(nullptr);
    for (const std::string& path : candidates) {
        int fd = sys.open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0)
            continue; // used up meanwhile
        // Waits while another run of the same message holds the set, then sees whether
        // that run used it up (removed it).
        struct stat st {};
        std::string text;
        if (busy && sys.flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *busy = errno == EWOULDBLOCK;
            sys.close(fd);
            if (*busy)
                return nullptr;
            continue;
        }
        bool usable = (busy || sys.flock(fd, LOCK_EX) == 0) && sys.fstat(fd, &st) == 0 &&
                      st.st_nlink > 0 && now - st.st_ctim.tv_sec < recordTrustedAge &&
                      st.st_size < recordMaxBytes &&
                      readPieces(fd, 0, 65536, [&](const char* data, std::size_t size) {
                          text.append(data, size);
                          return true;
                      }) == 0;
        std::unique_ptr<MaildirDelivery> set(new MaildirDelivery());
        if (usable && set->readRecord(text)) {
            set->recordMaildir = recordMaildir;
            set->key = setKey;
            set->recordPath = path;
            set->recordFd = fd;
            set->takenOver = true;
            for (const std::string& folder : set->folders)
                set->tmpFiles.push_back(folder + "/tmp/" + set->name);
            return set;
        }
        // Used up meanwhile, or too old to trust.
        sys.close(fd);
    }
    return nullptr;
}

bool MaildirDelivery::readRecord(const std::string& text) {
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false; // every line is ended, the last one too
        lines.push_back(std::string_view(text).substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() < 4 || lines.front() != recordMagic || lines.back() != "end" ||
        lines[1].substr(0, 5) != "name ")
        return false;
    name = unescaped(lines[1].substr(5));
    for (std::size_t i = 2; i + 1 < lines.size(); i += 2) {
        if (lines[i].substr(0, 7) != "folder " || lines[i + 1].substr(0, 6) != "label ")
            return false;
        folders.push_back(unescaped(lines[i].substr(7)));
        labels.push_back(unescaped(lines[i + 1].substr(6)));
    }
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           !folders.empty();
}

HRESULT MaildirDelivery::writeRecord() {
    MaildirSysCalls& sys = sysCalls();
    std::string text = std::string(recordMagic) + "\nname " + escaped(name) + "\n";
    for (std::size_t i = 0; i < folders.size(); ++i)
        text += "folder " + escaped(folders[i]) + "\nlabel " + escaped(labels[i]) + "\n";
    text += "end\n";
    // Written and locked under a name no retry looks for, then renamed: a record a retry
    // finds is whole, and held until this run ends.
    std::string dirPath = recordMaildir + "/tmp";
    std::string found = dirPath + "/" + recordPrefix(key) + name;
    std::string writing = dirPath + "/new-set." + name;
    recordFd = sys.open(writing.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (recordFd < 0)
        return fail("open(" + writing + ")");
    recordPath = writing;
    if (sys.flock(recordFd, LOCK_EX) != 0)
        return fail("flock(" + writing + ")");
    if (writeAll(recordFd, text.data(), text.size()) != 0)
        return fail("write(" + writing + ")");
    if (recordSynced && sys.fsync(recordFd) != 0)
        return fail("fsync(" + writing + ")");
    if (sys.rename(writing.c_str(), found.c_str()) != 0)
        return fail("rename(" + writing + ", " + found + ")");
    recordPath = found;
    if (!recordSynced)
        return S_OK;
    HRESULT hr = MaildirIdFile::syncDirectory(dirPath);
    if (FAILED(hr))
        failureText = "fsync(" + dirPath + ") failed: " + resultText(hr);
    return hr;
}

void MaildirDelivery::finish() {
    if (recordFd < 0)
        return;
    MaildirSysCalls& sys = sysCalls();
    // Gone before the lock is let go: a run waiting for it sees the set used up. Not
    // committed, it was taken back already or stays for the retry.
    if (committed) {
        if (sys.unlink(recordPath.c_str()) != 0 && errno != ENOENT)
            warningLog("cannot remove the record of a finished delivery (the same message "
                       "delivered again could be taken for its retry): %s",
                       sysFailure("unlink(" + recordPath + ")", errno).c_str());
        else if (recordSynced)
            MaildirIdFile::syncDirectory(recordMaildir + "/tmp");
    }
    sys.close(recordFd);
    recordFd = -1;
}

void MaildirDelivery::leaveForRetry() {
    if (recordFd < 0 || !committed)
        return;
    sysCalls().close(recordFd);
    recordFd = -1;
}

HRESULT MaildirDelivery::fail(const std::string& call) {
    int error = errno;
    failureText = sysFailure(call, error);
    return hresultFromErrno(error);
}

HRESULT MaildirDelivery::writeNewFile(const std::string& path, std::string_view bytes) {
    MaildirSysCalls& sys = sysCalls();
    int fd = sys.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("open(" + path + ")");
    // Counted before the write, so that the take-back removes a partly written file.
    tmpFiles.push_back(path);
    HRESULT hr = S_OK;
    if (writeAll(fd, bytes.data(), bytes.size()) != 0)
        hr = fail("write(" + path + ")");
    else if (!syncGroup && sys.fsync(fd) != 0)
        hr = fail("fsync(" + path + ")"); // with a group: synced with the group's files
    // close() can report a failed write-back on some file systems.
    if (sys.close(fd) != 0 && SUCCEEDED(hr))
        hr = fail("close(" + path + ")");
    return hr;
}

HRESULT MaildirDelivery::write(std::string_view bytes) {
    assert(tmpFiles.empty() && !takenOver && "write() once, and not on a set taken over");
    MaildirSysCalls& sys = sysCalls();
    joinGroup();
    // What a killed delivery left behind goes first; the store sweeps only when a lasting
    // user opens it, and a server's deliveries may be all that ever opens it.
    time_t now = time(nullptr);
    for (const std::string& folder : folders)
        removeStaleTmpFiles(folder, now);
    if (!recordMaildir.empty())
        removeStaleTmpFiles(recordMaildir, now);
    for (const std::string& folder : folders) {
        std::string tmp = folder + "/tmp/" + name;
        HRESULT hr = S_OK;
        if (tmpFiles.empty()) {
            hr = writeNewFile(tmp, bytes);
        } else if (sys.link(tmpFiles.front().c_str(), tmp.c_str()) == 0) {
            tmpFiles.push_back(tmp);
        } else {
            // Another file system, or links not allowed: a copy of its own, fsynced too.
            debugLog("%s; writing a copy instead",
                     sysFailure("link(" + tmpFiles.front() + ", " + tmp + ")", errno).c_str());
            hr = writeNewFile(tmp, bytes);
        }
        if (FAILED(hr)) {
            takeBack();
            return hr;
        }
    }
    // The files are on disk before any is renamed into a new/ (a crash must not show an
    // empty one there): with a group, synced together with the other deliveries' files.
    if (inGroup) {
        HRESULT hr = syncGroup->sync(tmpFiles, true, &failureText);
        if (FAILED(hr)) {
            takeBack();
            return hr;
        }
    }
    return S_OK;
}

HRESULT MaildirDelivery::commit() {
    assert(tmpFiles.size() == folders.size() && "commit() after a successful write()");
    MaildirSysCalls& sys = sysCalls();
    joinGroup();
    if (!takenOver && !recordMaildir.empty() && (folders.size() > 1 || recordOne)) {
        recordSynced = folders.size() > 1;
        HRESULT hr = writeRecord();
        if (FAILED(hr)) {
            takeBack();
            return hr;
        }
    }
    for (std::size_t i = 0; i < tmpFiles.size(); ++i) {
        std::string to = folders[i] + "/new/" + name;
        int renamed = sys.rename(tmpFiles[i].c_str(), to.c_str());
        // Under the record's lock, a file gone from a taken-over set's tmp/ was renamed
        // by the killed run (and may have been read, moved or removed since).
        if (renamed != 0 && !(takenOver && errno == ENOENT)) {
            HRESULT hr = fail("rename(" + tmpFiles[i] + ", " + to + ")");
            takeBack();
            return hr;
        }
        placed.push_back(to);
    }
    if (inGroup) {
        std::vector<std::string> newFolders;
        for (const std::string& folder : folders)
            newFolders.push_back(folder + "/new");
        inGroup = false;
        HRESULT hr = syncGroup->sync(newFolders, false, &failureText);
        if (FAILED(hr)) {
            takeBack();
            return hr;
        }
    }
    for (std::size_t i = 0; i < folders.size() && !syncGroup; ++i) {
        HRESULT hr = MaildirIdFile::syncDirectory(folders[i] + "/new");
        if (FAILED(hr)) {
            failureText = "fsync(" + folders[i] + "/new) failed: " + resultText(hr);
            takeBack();
            return hr;
        }
    }
    committed = true;
    return S_OK;
}

void MaildirDelivery::joinGroup() {
    if (syncGroup && !inGroup) {
        syncGroup->enter();
        inGroup = true;
    }
}

void MaildirDelivery::takeBack() {
    MaildirSysCalls& sys = sysCalls();
    if (inGroup) {
        syncGroup->leave();
        inGroup = false;
    }
    if (takenOver) {
        // Part of the set may show already: the rest stays for the next try to finish.
        tmpFiles.clear();
        placed.clear();
        return;
    }
    // The record goes first: one left naming files taken back would make the retry count
    // them as renamed. A record that cannot go keeps every file for that retry.
    if (recordFd >= 0) {
        if (sys.unlink(recordPath.c_str()) != 0 && errno != ENOENT) {
            warningLog("a failed delivery is left for its retry to finish: %s",
                       sysFailure("unlink(" + recordPath + ")", errno).c_str());
            tmpFiles.clear();
            placed.clear();
            return;
        }
        MaildirIdFile::syncDirectory(recordMaildir + "/tmp");
        sys.close(recordFd);
        recordFd = -1;
    }
    for (std::size_t i = 0; i < tmpFiles.size(); ++i) {
        const std::string& file = i < placed.size() ? placed[i] : tmpFiles[i];
        // A take-back that fails is all that is left to do: it is logged.
        if (sys.unlink(file.c_str()) != 0 && errno != ENOENT)
            warningLog("cannot take back a delivery that failed: %s",
                       sysFailure("unlink(" + file + ")", errno).c_str());
        else if (i < placed.size())
            MaildirIdFile::syncDirectory(folders[i] + "/new");
    }
    tmpFiles.clear();
    placed.clear();
}
