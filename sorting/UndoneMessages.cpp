#include "sorting/UndoneMessages.h"

#include "util/ComException.h"
#include "util/Log.h"

#include <charconv>
#include <filesystem>
#include <string_view>

UndoneMessages::UndoneMessages(std::string fileName) : file(std::move(fileName)) {}

bool UndoneMessages::read(std::map<std::string, std::time_t>& bases) const {
    bases.clear();
    std::string content;
    if (FAILED(MaildirIdFile(file).read(&content)))
        return false;
    std::size_t at = 0;
    while (at < content.size()) {
        std::size_t end = content.find('\n', at);
        if (end == std::string::npos)
            break; // no line end: not written by us
        std::string_view line(content.data() + at, end - at);
        at = end + 1;
        std::size_t space = line.find(' ');
        long long seconds = 0;
        if (space == std::string_view::npos || space + 1 == line.size())
            continue;
        auto [stop, failed] = std::from_chars(line.data(), line.data() + space, seconds);
        if (failed == std::errc() && stop == line.data() + space)
            bases[std::string(line.substr(space + 1))] = static_cast<std::time_t>(seconds);
    }
    return true;
}

bool UndoneMessages::add(const std::string& base, const std::set<std::string>& inboxBases,
                         std::string& error, std::time_t when) {
    if (base.empty() || base.find('\n') != std::string::npos) {
        error = "the message file name '" + base + "' cannot be recorded";
        return false;
    }
    std::error_code made;
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, made);
    MaildirIdFile transaction(file);
    HRESULT hr = transaction.lock();
    std::map<std::string, std::time_t> bases;
    if (SUCCEEDED(hr) && !read(bases))
        hr = E_FAIL;
    if (FAILED(hr)) {
        error = "cannot read " + file + ": " + resultText(hr);
        return false;
    }
    std::string content;
    for (const auto& [listed, added] : bases)
        if (listed != base && (inboxBases.count(listed) || when - added < keptAfterLeaving))
            content += std::to_string(added) + " " + listed + "\n";
    content += std::to_string(when) + " " + base + "\n";
    hr = transaction.write(content);
    if (FAILED(hr)) {
        error = "cannot write " + file + ": " + resultText(hr);
        return false;
    }
    return true;
}

bool UndoneMessages::contains(const std::string& base) {
    MaildirIdFile::Stamp now;
    if (FAILED(MaildirIdFile(file).stamp(&now)))
        return known.count(base) > 0; // logged; what was read last still holds
    if (!loaded || !(now == readStamp)) {
        std::map<std::string, std::time_t> bases;
        if (read(bases)) {
            known = std::move(bases);
            readStamp = now;
            loaded = true;
        } else {
            warningLog("journal: %s cannot be read; messages undo moved back may be sorted again",
                       file.c_str());
        }
    }
    return known.count(base) > 0;
}
