#include "platform/maildir/MaildirUidList.h"

#include "util/Log.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <tuple>

#include <dirent.h>
#include <sys/stat.h>

namespace {

struct Parsed {
    MESSAGEID next = 1;
    std::unordered_map<std::string, MESSAGEID> ids;
};

Parsed parse(const std::string& content) {
    Parsed parsed;
    std::istringstream in(content);
    std::string line;
    bool header = true;
    MESSAGEID highest = 0;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            unsigned long next = 0;
            if (std::sscanf(line.c_str(), "brevalo-uidlist 1 %lu", &next) == 1 && next > 0 &&
                next <= 0xFFFFFFFEul)
                parsed.next = static_cast<MESSAGEID>(next);
            continue;
        }
        size_t space = line.find(' ');
        if (space == std::string::npos || space == 0 || space + 1 >= line.size())
            continue;
        char* end = nullptr;
        unsigned long id = std::strtoul(line.c_str(), &end, 10);
        if (end != line.c_str() + space || id == 0 || id > 0xFFFFFFFEul)
            continue;
        parsed.ids.emplace(line.substr(space + 1), static_cast<MESSAGEID>(id));
        highest = std::max(highest, static_cast<MESSAGEID>(id));
    }
    if (highest >= parsed.next)
        parsed.next = highest + 1;
    return parsed;
}

} // namespace

MaildirUidList::MaildirUidList(std::string folderPath) : folderPath(std::move(folderPath)) {}

HRESULT MaildirUidList::listFiles(std::unordered_map<std::string, Listed>* files) {
    // new/ before cur/: a message moved between the two listings is then seen twice
    // rather than not at all.
    for (const char* subdir : {"new", "cur"}) {
        std::string dirPath = folderPath + "/" + subdir;
        DIR* dir = opendir(dirPath.c_str());
        if (!dir) {
            int error = errno;
            debugLog("%s", sysFailure("opendir(" + dirPath + ")", error).c_str());
            return hresultFromErrno(error);
        }
        while (dirent* entry = readdir(dir)) {
            if (entry->d_type == DT_DIR || !MaildirFileName::isMessageFile(entry->d_name))
                continue;
            std::string name = entry->d_name;
            (*files)[MaildirFileName::baseName(name)] = Listed{subdir, name};
        }
        closedir(dir);
    }
    return S_OK;
}

HRESULT MaildirUidList::sync() {
    std::lock_guard<std::mutex> guard(mutex);
    MaildirIdFile file(folderPath + "/" + fileName);
    HRESULT hr = file.lock();
    if (FAILED(hr))
        return hr;
    // The file is only ever replaced (a new inode), so an unchanged stamp means the ids
    // read last time still hold: a large folder is not parsed again on every arrival.
    MaildirIdFile::Stamp stamp;
    hr = file.stamp(&stamp);
    if (FAILED(hr))
        return hr;
    if (!cacheValid || !(stamp == cachedStamp)) {
        std::string content;
        hr = file.read(&content);
        if (FAILED(hr))
            return hr;
        Parsed parsed = parse(content);
        byBase = std::move(parsed.ids);
        next = parsed.next;
        byId.clear();
    }
    // Until this sync ends well, what is held in memory may differ from the file.
    cacheValid = false;

    std::unordered_map<std::string, Listed> files;
    files.reserve(byBase.size() + 64);
    hr = listFiles(&files);
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

    bool changed = false;
    for (auto it = byBase.begin(); it != byBase.end();) {
        if (files.count(it->first)) {
            ++it;
            continue;
        }
        byId.erase(it->second);
        it = byBase.erase(it);
        changed = true;
    }
    struct Fresh {
        std::int64_t seconds, nanoseconds;
        std::string base;
    };
    std::vector<Fresh> fresh;
    for (const auto& [base, listed] : files) {
        if (byBase.count(base))
            continue;
        struct stat st {};
        std::string path = folderPath + "/" + listed.subdir + "/" + listed.fileName;
        if (sysCalls().stat(path.c_str(), &st) != 0)
            st = {};
        fresh.push_back(Fresh{st.st_mtim.tv_sec, st.st_mtim.tv_nsec, base});
    }
    std::sort(fresh.begin(), fresh.end(), [](const Fresh& a, const Fresh& b) {
        return std::tie(a.seconds, a.nanoseconds, a.base) <
               std::tie(b.seconds, b.nanoseconds, b.base);
    });
    for (const Fresh& entry : fresh) {
        if (next >= 0xFFFFFFFEu) {
            debugLog("no message id left in %s", folderPath.c_str());
            byBase.clear();
            byId.clear();
            return E_FAIL;
        }
        byBase.emplace(entry.base, next++);
        changed = true;
    }

    if (changed) {
        std::map<MESSAGEID, const std::string*> ordered;
        for (const auto& [base, id] : byBase)
            ordered.emplace(id, &base);
        std::string out = "brevalo-uidlist 1 " + std::to_string(next) + "\n";
        for (const auto& [id, base] : ordered)
            out += std::to_string(id) + " " + *base + "\n";
        hr = file.write(out);
        if (FAILED(hr)) {
            byBase.clear();
            byId.clear();
            return hr;
        }
        hr = file.stamp(&stamp);
        if (FAILED(hr))
            return hr;
    }

    unsynced.clear();
    for (const auto& [base, id] : byBase) {
        const Listed& listed = files.at(base);
        auto [slot, added] =
            byId.try_emplace(id, MaildirMessage{id, listed.subdir, listed.fileName});
        if (!added &&
            (slot->second.fileName != listed.fileName || slot->second.subdir != listed.subdir)) {
            slot->second.subdir = listed.subdir;
            slot->second.fileName = listed.fileName;
        }
    }
    cachedStamp = stamp;
    cacheValid = true;
    return S_OK;
}

std::vector<MaildirMessage> MaildirUidList::messages() const {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<MaildirMessage> list;
    list.reserve(byId.size());
    for (const auto& entry : byId)
        list.push_back(entry.second);
    return list;
}

bool MaildirUidList::find(MESSAGEID id, MaildirMessage* message) const {
    std::lock_guard<std::mutex> guard(mutex);
    auto it = byId.find(id);
    if (it == byId.end())
        return false;
    *message = it->second;
    return true;
}

bool MaildirUidList::findBase(const std::string& base, MaildirMessage* message) const {
    std::lock_guard<std::mutex> guard(mutex);
    auto it = byBase.find(base);
    auto known = it == byBase.end() ? byId.end() : byId.find(it->second);
    if (known != byId.end()) {
        *message = known->second;
        return true;
    }
    auto pending = unsynced.find(base);
    if (pending == unsynced.end())
        return false;
    *message = MaildirMessage{0, pending->second.subdir, pending->second.fileName};
    return true;
}

void MaildirUidList::noteFile(const std::string& subdir, const std::string& fileName) {
    std::lock_guard<std::mutex> guard(mutex);
    unsynced[MaildirFileName::baseName(fileName)] = Listed{subdir, fileName};
}
