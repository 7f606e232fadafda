#include "platform/maildir/MaildirFolderTable.h"

#include "util/Log.h"
#include "platform/maildir/MaildirIdFile.h"
#include "platform/maildir/MaildirNames.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

#include <dirent.h>
#include <sys/stat.h>

namespace {

const char* const inboxKey = ".";

bool isMaildir(const std::string& path) {
    struct stat st {};
    return sysCalls().stat((path + "/cur").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

MaildirFolderTable::MaildirFolderTable(std::string root, bool readOnce)
    : root(std::move(root)), readOnce(readOnce) {}

void MaildirFolderTable::forget() {
    std::lock_guard<std::mutex> guard(mutex);
    read = false;
}

std::string MaildirFolderTable::folderPath(const std::string& dirName) const {
    return dirName.empty() ? root : root + "/" + dirName;
}

HRESULT MaildirFolderTable::scan(std::vector<std::string>* dirNames) {
    DIR* dir = opendir(root.c_str());
    if (!dir) {
        return sysError("opendir(" + root + ")");
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() < 2 || name[0] != '.' || name == ".." ||
            name.find('\n') != std::string::npos)
            continue;
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
            continue;
        auto parts = MaildirNames::components(name);
        if (std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p.empty(); }))
            continue;
        if (isMaildir(root + "/" + name))
            dirNames->push_back(name);
    }
    closedir(dir);
    std::sort(dirNames->begin(), dirNames->end());
    return S_OK;
}

HRESULT MaildirFolderTable::refresh() {
    std::lock_guard<std::mutex> guard(mutex);
    if (readOnce && read)
        return S_OK;
    MaildirIdFile file(root + "/" + fileName);
    HRESULT hr = file.lock();
    if (FAILED(hr))
        return hr;
    std::string content;
    hr = file.read(&content);
    if (FAILED(hr))
        return hr;

    STOREFOLDERID next = 1;
    std::map<std::string, STOREFOLDERID> ids;
    // Lines split by hand: a string stream's set-up costs a delivery more than the file.
    bool header = true;
    for (std::size_t at = 0; at < content.size();) {
        std::size_t lineEnd = content.find('\n', at);
        lineEnd = lineEnd == std::string::npos ? content.size() : lineEnd;
        std::string line = content.substr(at, lineEnd - at);
        at = lineEnd + 1;
        if (header) {
            header = false;
            unsigned long value = 0;
            if (std::sscanf(line.c_str(), "brevalo-folders 1 %lu", &value) == 1 && value > 0 &&
                value < FOLDERID_INVALID)
                next = static_cast<STOREFOLDERID>(value);
            continue;
        }
        size_t space = line.find(' ');
        if (space == std::string::npos || space == 0 || space + 1 >= line.size())
            continue;
        char* end = nullptr;
        unsigned long id = std::strtoul(line.c_str(), &end, 10);
        if (end != line.c_str() + space || id == 0 || id >= FOLDERID_INVALID)
            continue;
        ids.emplace(line.substr(space + 1), static_cast<STOREFOLDERID>(id));
        next = std::max<STOREFOLDERID>(next, static_cast<STOREFOLDERID>(id) + 1);
    }

    std::vector<std::string> dirNames;
    hr = scan(&dirNames);
    if (FAILED(hr))
        return hr;
    dirNames.insert(dirNames.begin(), inboxKey);

    bool changed = false;
    std::set<std::string> present(dirNames.begin(), dirNames.end());
    for (auto it = ids.begin(); it != ids.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        it = ids.erase(it);
        changed = true;
    }
    for (const std::string& dirName : dirNames) {
        if (ids.count(dirName))
            continue;
        if (next >= FOLDERID_INVALID - 1) {
            debugLog("no folder id left in %s", root.c_str());
            return E_FAIL;
        }
        ids.emplace(dirName, next++);
        changed = true;
    }
    if (changed) {
        std::map<STOREFOLDERID, std::string> ordered;
        for (const auto& [dirName, id] : ids)
            ordered.emplace(id, dirName);
        std::string out = "brevalo-folders 1 " + std::to_string(next) + "\n";
        for (const auto& [id, dirName] : ordered)
            out += std::to_string(id) + " " + dirName + "\n";
        hr = file.write(out);
        if (FAILED(hr))
            return hr;
    }

    folders.clear();
    for (const std::string& dirName : dirNames) {
        MaildirFolderInfo info;
        info.id = ids.at(dirName);
        if (dirName == inboxKey) {
            info.name = inboxName;
            info.type = FOLDER_INBOX;
            folders.emplace(info.id, info);
            continue;
        }
        info.dirName = dirName;
        auto parts = MaildirNames::components(dirName);
        // The nearest existing ancestor is the parent; the levels between name the folder.
        size_t levels = parts.size() - 1;
        std::string ancestor;
        for (; levels > 0; --levels) {
            ancestor.clear();
            for (size_t i = 0; i < levels; ++i)
                ancestor += "." + parts[i];
            if (present.count(ancestor))
                break;
        }
        info.parent = levels == 0 ? FOLDERID_ROOT : ids.at(ancestor);
        for (size_t i = levels; i < parts.size(); ++i)
            info.name += (i == levels ? "" : ".") + MaildirNames::decode(parts[i]);
        info.type = MaildirNames::specialType(info.name, levels == 0 && parts.size() == 1);
        folders.emplace(info.id, info);
    }
    read = true;
    return S_OK;
}

std::vector<MaildirFolderInfo> MaildirFolderTable::children(STOREFOLDERID parent) const {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<MaildirFolderInfo> list;
    for (const auto& entry : folders) {
        if (entry.second.parent == parent && entry.second.type != FOLDER_INBOX)
            list.push_back(entry.second);
    }
    std::sort(list.begin(), list.end(), [](const MaildirFolderInfo& a, const MaildirFolderInfo& b) {
        return a.name < b.name;
    });
    if (parent == FOLDERID_ROOT) {
        for (const auto& entry : folders) {
            if (entry.second.type == FOLDER_INBOX)
                list.insert(list.begin(), entry.second);
        }
    }
    return list;
}

bool MaildirFolderTable::find(STOREFOLDERID id, MaildirFolderInfo* info) const {
    std::lock_guard<std::mutex> guard(mutex);
    auto it = folders.find(id);
    if (it == folders.end())
        return false;
    *info = it->second;
    return true;
}

bool MaildirFolderTable::findDir(const std::string& dirName, MaildirFolderInfo* info) const {
    std::lock_guard<std::mutex> guard(mutex);
    for (const auto& entry : folders) {
        if (entry.second.dirName == dirName) {
            *info = entry.second;
            return true;
        }
    }
    return false;
}
