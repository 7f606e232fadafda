#include "sorting/InboxMark.h"

#include "util/ComException.h"
#include "util/DateTime.h"
#include "util/Log.h"
#include "platform/maildir/MaildirIdFile.h"
#include "mail/StoreAccess.h"
#include "sorting/Journal.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace {

// The highest id the store gives.
constexpr MESSAGEID lastId = 0xFFFFFFFEu;

std::string realRoot(const std::string& root) {
    char* resolved = realpath(root.c_str(), nullptr);
    if (!resolved) {
        std::string path = root;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }
    std::string path = resolved;
    std::free(resolved);
    return path;
}

// Every message id of the folder from first on, in store order; false (and a log line)
// when the folder cannot be listed.
bool messageIds(IStoreFolder* folder, MESSAGEID first, std::vector<MESSAGEID>& ids) {
    HRESULT hr = forEachMessage(
        folder, first, [&ids](const MESSAGEPROPS& props) { ids.push_back(props.dwMessageId); });
    if (FAILED(hr)) {
        debugLog("inbox mark: cannot list the inbox: %#x", static_cast<unsigned>(hr));
        return false;
    }
    return true;
}

} // namespace

InboxMark::InboxMark(std::string stateFile, const std::string& storeRoot)
    : file(std::move(stateFile)), root(realRoot(storeRoot)) {}

InboxMark::~InboxMark() {
    flush();
}

std::optional<std::map<std::string, MESSAGEID>> InboxMark::readMarks(bool* damaged) const {
    std::map<std::string, MESSAGEID> marks;
    std::string content;
    bool unused = false;
    bool& broken = damaged ? *damaged : unused;
    broken = false;
    if (FAILED(MaildirIdFile(file).read(&content))) {
        broken = true;
        return std::nullopt; // logged; a missing file reads as empty
    }
    // Never written empty: an empty file is one a crash or a person cut.
    std::error_code missing;
    broken = content.empty() && std::filesystem::exists(file, missing);

    std::size_t at = 0;
    while (at < content.size()) {
        std::size_t end = content.find('\n', at);
        if (end == std::string::npos) {
            broken = true;
            break; // no line end: not written by us
        }
        std::string_view line(content.data() + at, end - at);
        at = end + 1;
        std::size_t space = line.find(' ');
        unsigned long id = 0;
        if (space == std::string_view::npos || space + 1 == line.size()) {
            broken = true;
            continue;
        }
        auto [stop, error] = std::from_chars(line.data(), line.data() + space, id);
        if (error != std::errc() || stop != line.data() + space || id > lastId) {
            broken = true;
            continue;
        }
        marks[std::string(line.substr(space + 1))] = static_cast<MESSAGEID>(id);
    }
    return marks;
}

std::optional<MESSAGEID> InboxMark::stored() const {
    std::optional<std::map<std::string, MESSAGEID>> marks = readMarks();
    if (!marks)
        return std::nullopt;
    auto found = marks->find(root);
    if (found == marks->end())
        return std::nullopt;
    return found->second;
}

void InboxMark::store(MESSAGEID id) {
    mark = id;
    dirty = false;
    lastWrite = std::chrono::steady_clock::now();
    if (root.find('\n') != std::string::npos) {
        debugLog("inbox mark: the store root %s cannot be named in %s", root.c_str(), file.c_str());
        return;
    }
    std::optional<std::map<std::string, MESSAGEID>> marks = readMarks();
    if (!marks) {
        // Replacing a file that could not be read would lose the other stores' marks.
        debugLog("inbox mark: %s cannot be read, so it is left as it is", file.c_str());
        return;
    }
    (*marks)[root] = id;
    std::string content;
    for (const auto& [storeRoot, storeMark] : *marks)
        content += std::to_string(storeMark) + " " + storeRoot + "\n";
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, error);
    if (error || FAILED(MaildirIdFile::writeAtomically(file, content)))
        debugLog("inbox mark: cannot write %s%s%s", file.c_str(), error ? ": " : "",
                 error ? error.message().c_str() : "");
}

std::vector<MESSAGEID> InboxMark::catchUp(IStoreFolder* inbox, const Journal* journal) {
    bool damaged = false;
    std::optional<std::map<std::string, MESSAGEID>> marks = readMarks(&damaged);
    mark.reset();
    if (marks && marks->count(root))
        mark = marks->at(root);
    loaded = true;
    if (!mark && damaged) {
        if (std::optional<std::vector<MESSAGEID>> ids = catchUpByJournal(inbox, journal))
            return *ids;
    }
    if (!mark) {
        // A failed listing must not become a mark of 0: the next start would sort the
        // person's whole inbox.
        std::vector<MESSAGEID> present;
        if (!messageIds(inbox, MESSAGEID_FIRST, present))
            return {};
        MESSAGEID newest = present.empty() ? 0 : *std::max_element(present.begin(), present.end());
        debugLog("inbox mark: first start on %s, leaving the %zu messages in the inbox as they are",
                 root.c_str(), present.size());
        store(newest);
        return {};
    }
    if (*mark >= lastId)
        return {};
    std::vector<MESSAGEID> listed, ids;
    messageIds(inbox, *mark + 1, listed);
    for (MESSAGEID id : listed) {
        if (id > *mark)
            ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    pending.insert(ids.begin(), ids.end());
    if (!ids.empty())
        debugLog("inbox mark: %zu messages arrived since message %u, sorting them first",
                 ids.size(), *mark);
    return ids;
}

std::optional<std::vector<MESSAGEID>> InboxMark::catchUpByJournal(IStoreFolder* inbox,
                                                                  const Journal* journal) {
    std::vector<Journal::Entry> last;
    if (journal)
        last = journal->last(1);
    std::time_t since = 0;
    if (last.empty() || !Journal::parseTime(last.front().time, 0, since)) {
        warningLog("inbox mark: %s is damaged and the journal tells of no sorting: "
                   "mail that came while no sorter ran stays in the inbox",
                   file.c_str());
        return std::nullopt;
    }
    std::vector<MESSAGEID> ids;
    MESSAGEID newestOld = 0;
    std::uint64_t from = fileTimeTicks(fileTimeFromUnix(since));
    HRESULT hr = forEachMessage(inbox, MESSAGEID_FIRST, [&](const MESSAGEPROPS& props) {
        if (fileTimeTicks(props.ftReceived) >= from)
            ids.push_back(props.dwMessageId);
        else
            newestOld = std::max(newestOld, props.dwMessageId);
    });
    if (FAILED(hr)) {
        warningLog("inbox mark: %s is damaged and the inbox cannot be listed: %s", file.c_str(),
                   resultText(hr).c_str());
        return std::vector<MESSAGEID>();
    }
    std::sort(ids.begin(), ids.end());
    warningLog("inbox mark: %s is damaged; sorting the %zu inbox message%s that came "
               "since the journal's last line (%s)",
               file.c_str(), ids.size(), ids.size() == 1 ? "" : "s", last.front().time.c_str());
    pending.insert(ids.begin(), ids.end());
    // The older messages count as looked at; the mark is mended when the file can be, and
    // the caught-up ones raise it as they are sorted.
    if (newestOld) {
        mark = newestOld;
        dirty = true;
    }
    return ids;
}

bool InboxMark::takes(MESSAGEID id) {
    if (pending.erase(id)) {
        taken.insert(id);
        return true;
    }
    return taken.erase(id) == 0;
}

void InboxMark::lookedAt(MESSAGEID id) {
    if (!loaded) {
        // Without a catch-up (sort --once), the stored mark is the one to raise.
        mark = stored();
        loaded = true;
    }
    if (mark && id <= *mark)
        return;
    mark = id;
    dirty = true;
    if (std::chrono::steady_clock::now() - lastWrite >= std::chrono::seconds(1))
        flush();
}

void InboxMark::flush() {
    if (dirty && mark)
        store(*mark);
}
