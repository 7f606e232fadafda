#include "platform/maildir/MaildirSubscriptions.h"

#include "util/Log.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirNames.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace {

const char* const versionTwo = "V\t2\n";

std::string joined(const std::vector<std::string>& parts, char separator) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : std::string(1, separator)) + part;
    return text;
}

// The folder's line in content's format; empty when the format is not known.
std::string lineFor(const std::string& content, const std::vector<std::string>& components) {
    if (content.empty() || content.compare(0, 4, versionTwo) == 0)
        return joined(components, '\t');
    if (content.compare(0, 2, "V\t") == 0)
        return {};
    return joined(components, '.');
}

bool listed(const std::string& content, const std::string& line) {
    std::istringstream lines(content);
    for (std::string present; std::getline(lines, present);) {
        if (present == line)
            return true;
    }
    return false;
}

std::string withLine(const std::string& content, const std::string& line) {
    if (content.empty())
        return std::string(versionTwo) + "\n" + line + "\n";
    return content + (content.back() == '\n' ? "" : "\n") + line + "\n";
}

// S_OK with the folder's line when it must be added, S_FALSE when it is listed, E_FAIL
// (logged) for a format this code does not know.
HRESULT lineToAdd(const std::string& path, const std::string& content,
                  const std::vector<std::string>& components, std::string* line) {
    *line = lineFor(content, components);
    if (line->empty()) {
        debugLog("%s has a version this program does not know; %s not subscribed", path.c_str(),
                 joined(components, '.').c_str());
        return E_FAIL;
    }
    return listed(content, *line) ? S_FALSE : S_OK;
}

HRESULT failure(const std::string& call) {
    return sysError(call);
}

} // namespace

MaildirSubscriptions::MaildirSubscriptions(std::string root, std::chrono::milliseconds lockWait)
    : root(std::move(root)), lockWait(lockWait) {}

HRESULT MaildirSubscriptions::add(const std::string& dirName) const {
    std::vector<std::string> components = MaildirNames::components(dirName);
    if (components.empty())
        return E_INVALIDARG;
    std::string path = root + "/" + fileName;
    std::string lockPath = path + ".lock";
    MaildirSysCalls& sys = sysCalls();
    std::string content;
    HRESULT hr = MaildirIdFile(path).read(&content);
    if (FAILED(hr))
        return hr;
    std::string line;
    hr = lineToAdd(path, content, components, &line);
    if (hr != S_OK)
        return SUCCEEDED(hr) ? S_OK : hr; // listed already: the common case takes no lock

    // Subscribers keep the file's permissions (Dovecot sets them from the folder's).
    struct stat st {};
    mode_t mode = sys.stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0600;
    auto deadline = std::chrono::steady_clock::now() + lockWait;
    auto pause = std::chrono::milliseconds(2);
    int fd = -1;
    while ((fd = sys.open(lockPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode)) < 0) {
        if (errno != EEXIST)
            return failure("open(" + lockPath + ")");
        struct stat lock {};
        if (sys.stat(lockPath.c_str(), &lock) != 0) {
            if (errno == ENOENT)
                continue; // released in between
            return failure("stat(" + lockPath + ")");
        }
        // Dovecot holds the lock for milliseconds; a lock not changed for long has lost
        // its holder, and breaking it is left to Dovecot.
        bool stale = time(nullptr) - lock.st_mtim.tv_sec > staleLock.count();
        if (stale || std::chrono::steady_clock::now() >= deadline) {
            debugLog("%s is held by another program%s; %s not subscribed", lockPath.c_str(),
                     stale ? " and has not changed for long" : "", dirName.c_str());
            return hresultFromErrno(EAGAIN);
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }

    // The lock is ours: whatever fails from here removes it, and the old file stays.
    auto fail = [&](const std::string& call) {
        HRESULT error = failure(call);
        if (fd >= 0)
            sys.close(fd);
        sys.unlink(lockPath.c_str());
        return error;
    };
    hr = MaildirIdFile(path).read(&content);
    if (SUCCEEDED(hr))
        hr = lineToAdd(path, content, components, &line);
    if (hr != S_OK) {
        sys.close(fd);
        sys.unlink(lockPath.c_str());
        return SUCCEEDED(hr) ? S_OK : hr;
    }
    std::string updated = withLine(content, line);
    if (writeAll(fd, updated.data(), updated.size()) != 0)
        return fail("write(" + lockPath + ")");
    if (sys.fsync(fd) != 0)
        return fail("fsync(" + lockPath + ")");
    int closing = fd;
    fd = -1;
    if (sys.close(closing) != 0)
        return fail("close(" + lockPath + ")");
    if (sys.rename(lockPath.c_str(), path.c_str()) != 0)
        return fail("rename(" + lockPath + ", " + path + ")");
    return MaildirIdFile::syncDirectory(root);
}
