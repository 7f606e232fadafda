#include "platform/maildir/MaildirDelivery.h"

#include "util/ComException.h"
#include "util/Log.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirStore.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <cassert>
#include <cerrno>

#include <fcntl.h>
#include <time.h>

MaildirDelivery::MaildirDelivery(std::vector<std::string> folders)
    : folders(std::move(folders)),
      // One name in every folder: the copies are one message (the store's copy keeps the
      // unique base name the same way).
      name(MaildirFileName::uniqueName()) {
    assert(!this->folders.empty() && "a delivery needs a folder");
}

MaildirDelivery::~MaildirDelivery() {
    if (!committed)
        takeBack();
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
    else if (sys.fsync(fd) != 0)
        hr = fail("fsync(" + path + ")");
    // close() can report a failed write-back on some file systems.
    if (sys.close(fd) != 0 && SUCCEEDED(hr))
        hr = fail("close(" + path + ")");
    return hr;
}

HRESULT MaildirDelivery::write(std::string_view bytes) {
    assert(tmpFiles.empty() && "write() once");
    MaildirSysCalls& sys = sysCalls();
    // What a killed delivery left behind goes first; the store sweeps only when a lasting
    // user opens it, and a server's deliveries may be all that ever opens it.
    time_t now = time(nullptr);
    for (const std::string& folder : folders)
        removeStaleTmpFiles(folder, now);
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
    return S_OK;
}

HRESULT MaildirDelivery::commit() {
    assert(tmpFiles.size() == folders.size() && "commit() after a successful write()");
    MaildirSysCalls& sys = sysCalls();
    for (std::size_t i = 0; i < tmpFiles.size(); ++i) {
        std::string to = folders[i] + "/new/" + name;
        if (sys.rename(tmpFiles[i].c_str(), to.c_str()) != 0) {
            HRESULT hr = fail("rename(" + tmpFiles[i] + ", " + to + ")");
            takeBack();
            return hr;
        }
        placed.push_back(to);
    }
    for (const std::string& folder : folders) {
        HRESULT hr = MaildirIdFile::syncDirectory(folder + "/new");
        if (FAILED(hr)) {
            failureText = "fsync(" + folder + "/new) failed: " + resultText(hr);
            takeBack();
            return hr;
        }
    }
    committed = true;
    return S_OK;
}

void MaildirDelivery::takeBack() {
    MaildirSysCalls& sys = sysCalls();
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
