#include "util/Log.h"
#include "util/Text.h"
#include "platform/maildir/MaildirFileName.h"
#include "sorting/IncomingMail.h"
#include "sorting/Journal.h"
#include "sorting/SortUndo.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <set>

namespace {

// What log and undo are asked for: the last count lines, those since a time, or those of
// some Message-IDs.
struct Selection {
    std::size_t count = 0;
    bool countGiven = false;
    bool sinceGiven = false;
    std::time_t since = 0;
    std::vector<std::string> messageIds;
};

// Reads -n N and --since TIME (and, for undo, Message-IDs); false after a usage message or
// --help, with the status in status.
bool readSelection(const char* command, const Arguments& arguments, bool ids, bool* json,
                   Selection& selection, int& status) {
    std::vector<OptionReader::Option> known{{"-n", true}, {"--since", true}};
    if (json)
        known.push_back({"--json", false});
    OptionReader options(command, arguments, known, ids);
    while (options.next()) {
        int count = 0;
        if (options.isOperand()) {
            selection.messageIds.push_back(options.value());
        } else if (options.is("-n")) {
            selection.count = options.count(count, 0) ? static_cast<std::size_t>(count) : 0;
            selection.countGiven = true;
        } else if (options.is("--since")) {
            if (!Journal::parseTime(options.value(), std::time(nullptr), selection.since))
                options.fail("--since takes a time such as 2026-12-08, 2026-12-08T06:30 (UTC) "
                             "or 2h, not '" +
                             options.value() + "'");
            selection.sinceGiven = true;
        } else if (options.is("--json")) {
            *json = true;
        }
    }
    status = options.exitStatus();
    if (options.finished())
        return false;
    int ways = (selection.countGiven ? 1 : 0) + (selection.sinceGiven ? 1 : 0) +
               (selection.messageIds.empty() ? 0 : 1);
    if (ways > 1) {
        std::fprintf(stderr, "brevalo-cli %s: give -n, --since or Message-IDs, not several\n",
                     command);
        status = exitUsage;
        return false;
    }
    return true;
}

// A column of at most width characters (UTF-8 aware), padded with blanks.
std::string column(const std::string& text, std::size_t width) {
    std::string result;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        if (characters + 1 == width && i + length < text.size()) {
            result += "~";
            ++characters;
            break;
        }
        std::string piece = text.substr(i, length);
        // A control character would break the table (a header may hold anything).
        if (c < 0x20 || c == 0x7f)
            piece = " ";
        result += piece;
        ++characters;
        i += length;
    }
    return result + std::string(width > characters ? width - characters : 0, ' ');
}

std::string folderText(const Journal::Entry& entry) {
    std::vector<std::string> parts;
    for (const Journal::Folder& folder : entry.folders)
        parts.push_back(folder.name + " " + formatString("%.0f%%", folder.percent));
    std::string text = joinTexts(parts, ", ");
    if (!entry.recipients.empty())
        text += (text.empty() ? "" : "; ") + std::string("to ") + joinTexts(entry.recipients, ", ");
    if (!entry.reason.empty())
        text += (text.empty() ? "" : "; ") + entry.reason;
    return text;
}

std::string base(const Journal::Entry& entry) {
    return entry.copies.empty() ? std::string()
                                : MaildirFileName::baseName(entry.copies.front().file);
}

} // namespace

int logCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    Selection selection;
    bool json = false;
    int status = exitOk;
    if (!readSelection("log", arguments, false, &json, selection, status))
        return status;
    Journal journal(environment.journalFile());
    std::vector<Journal::Entry> entries;
    if (selection.sinceGiven)
        entries = journal.since(selection.since);
    else
        entries = journal.last(selection.countGiven ? selection.count : 20);
    if (json) {
        for (const Journal::Entry& entry : entries)
            std::printf("%s\n", entry.toJson().c_str());
        return exitOk;
    }
    if (entries.empty()) {
        std::printf("brevalo-cli: nothing sorted yet (%s)\n", journal.fileName().c_str());
        return exitOk;
    }
    std::printf("%s  %s  %s  %s  %s\n", column("time", 20).c_str(), column("subject", 30).c_str(),
                column("from", 24).c_str(), column("action", 9).c_str(), "folders");
    for (const Journal::Entry& entry : entries)
        std::printf("%s  %s  %s  %s  %s\n", column(entry.time, 20).c_str(),
                    column(entry.subject, 30).c_str(), column(entry.from, 24).c_str(),
                    column(entry.action, 9).c_str(), folderText(entry).c_str());
    return exitOk;
}

int undoCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    Selection selection;
    int usage = exitOk;
    if (!readSelection("undo", arguments, true, nullptr, selection, usage))
        return usage;
    Journal journal(environment.journalFile());
    std::vector<Journal::Entry> all = journal.all();
    // A decision already taken back is skipped: its message was moved back later.
    std::set<std::string> undoneBases;
    std::vector<Journal::Entry> open;
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->action == "undone")
            undoneBases.insert(base(*it));
        else if (SortUndo::undoable(*it) && !undoneBases.count(base(*it)))
            open.insert(open.begin(), *it);
    }
    std::vector<Journal::Entry> chosen;
    if (!selection.messageIds.empty()) {
        // The newest open decision of each message.
        std::map<std::string, Journal::Entry> newest;
        for (const Journal::Entry& entry : journal.withMessageIds(selection.messageIds))
            if (SortUndo::undoable(entry) && !undoneBases.count(base(entry)))
                newest[entry.messageId] = entry;
        for (const auto& [id, entry] : newest)
            chosen.push_back(entry);
        for (const std::string& id : selection.messageIds) {
            bool found = false;
            for (const Journal::Entry& entry : chosen)
                found |= Journal::sameMessageId(entry.messageId, id);
            if (!found)
                std::printf("%s: no decision to take back in the journal\n", id.c_str());
        }
    } else if (selection.sinceGiven) {
        std::string from = Journal::formatTime(selection.since);
        for (const Journal::Entry& entry : open)
            if (entry.time >= from)
                chosen.push_back(entry);
    } else {
        std::size_t count = selection.countGiven ? selection.count : 1;
        std::size_t first = open.size() > count ? open.size() - count : 0;
        chosen.assign(open.begin() + static_cast<std::ptrdiff_t>(first), open.end());
    }
    if (chosen.empty()) {
        std::printf("brevalo-cli: nothing to take back\n");
        return exitOk;
    }
    CliSession session(environment);
    if (int status = session.open())
        return status;
    SortUndo undo(session.store(), rootTargetFolderId(session.net()), journal);
    int status = exitOk;
    std::vector<SortUndo::Result> results = undo.undo(chosen);
    for (const SortUndo::Result& result : results) {
        std::string subject = result.entry.subject.empty() ? "(no subject)" : result.entry.subject;
        std::printf("%s: %s\n", subject.c_str(), result.text.c_str());
        if (result.outcome == SortUndo::Outcome::Failed)
            status = exitFailed;
    }
    if (!results.empty() && results.back().unjournaled) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "brevalo-cli undo: the journal %s cannot be written, so undo stopped; %zu "
                     "more decision%s not taken back\n",
                     journal.fileName().c_str(), chosen.size() - results.size(),
                     chosen.size() - results.size() == 1 ? "" : "s");
    }
    return status;
}
