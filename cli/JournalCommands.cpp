#include "util/Log.h"
#include "util/Text.h"
#include "platform/maildir/MaildirFileName.h"
#include "sorting/IncomingMail.h"
#include "sorting/Journal.h"
#include "sorting/SortUndo.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <algorithm>
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

// A column of exactly width terminal columns, whatever the characters (see fitToWidth).
std::string column(const std::string& text, std::size_t width) {
    return fitToWidth(text, width);
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

// Why a decision that made no copy cannot be taken back.
std::string unrecoverable(const Journal::Entry& entry) {
    std::string why = entry.reason.empty() ? "" : " (" + entry.reason + ")";
    if (entry.action == "left")
        return "it was left in the inbox" + why;
    if (entry.action == "failed")
        return "sorting it failed before any copy was made" + why;
    std::string to = joinTexts(entry.recipients, ", ");
    return "it was " + entry.action + (to.empty() ? "" : " to " + to) +
           " without a kept copy, and mail cannot be unsent";
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
        // Say why nothing is listed: nothing was asked for, or nothing matched, or the
        // journal is empty.
        if (journal.last(1).empty())
            std::printf("brevalo-cli: nothing sorted yet (%s)\n", journal.fileName().c_str());
        else if (selection.sinceGiven)
            std::printf("brevalo-cli: nothing sorted since %s\n",
                        Journal::formatTime(selection.since).c_str());
        else
            std::printf("brevalo-cli: -n 0 lists no lines; the journal %s holds some\n",
                        journal.fileName().c_str());
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
    // The decisions not taken back yet, oldest first: one taken back is skipped, its
    // message was moved back later.
    std::set<std::string> undoneBases;
    std::vector<Journal::Entry> decisions;
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->action == "undone")
            undoneBases.insert(base(*it));
        else if (base(*it).empty() || !undoneBases.count(base(*it)))
            decisions.push_back(*it);
    }
    std::reverse(decisions.begin(), decisions.end());
    int status = exitOk;
    std::vector<Journal::Entry> chosen;
    if (!selection.messageIds.empty()) {
        // The newest open decision of each message.
        std::vector<Journal::Entry> ofIds = journal.withMessageIds(selection.messageIds);
        std::map<std::string, Journal::Entry> newest;
        for (const Journal::Entry& entry : ofIds)
            if (SortUndo::undoable(entry) && !undoneBases.count(base(entry)))
                newest[entry.messageId] = entry;
        for (const auto& [id, entry] : newest)
            chosen.push_back(entry);
        for (const std::string& id : selection.messageIds) {
            auto same = [&id](const Journal::Entry& entry) {
                return Journal::sameMessageId(entry.messageId, id);
            };
            if (std::none_of(ofIds.begin(), ofIds.end(), same)) {
                std::printf("%s: unknown: the journal holds no decision on this Message-ID\n",
                            id.c_str());
                status = exitFailed;
            } else if (std::none_of(chosen.begin(), chosen.end(), same)) {
                std::printf("%s: no decision to take back in the journal (taken back already, "
                            "or it made no copy)\n",
                            id.c_str());
            }
        }
    } else if (selection.sinceGiven) {
        std::string from = Journal::formatTime(selection.since);
        for (const Journal::Entry& entry : decisions)
            if (entry.time >= from && SortUndo::undoable(entry))
                chosen.push_back(entry);
    } else {
        // The newest decisions themselves: one that cannot be taken back is said, not
        // passed over for an older one the person did not mean.
        std::size_t count = selection.countGiven ? selection.count : 1;
        std::size_t first = decisions.size() > count ? decisions.size() - count : 0;
        for (std::size_t i = first; i < decisions.size(); ++i) {
            const Journal::Entry& entry = decisions[i];
            if (SortUndo::undoable(entry)) {
                chosen.push_back(entry);
                continue;
            }
            std::string subject = entry.subject.empty() ? "(no subject)" : entry.subject;
            std::printf("%s: cannot be taken back: %s\n", subject.c_str(),
                        unrecoverable(entry).c_str());
        }
        if (chosen.empty() && first < decisions.size()) {
            std::printf("brevalo-cli: nothing to take back; name an older decision by its "
                        "Message-ID (brevalo-cli log --json shows them)\n");
            return exitOk;
        }
    }
    if (chosen.empty()) {
        std::printf("brevalo-cli: nothing to take back\n");
        return status;
    }
    CliSession session(environment);
    if (int opened = session.open())
        return opened;
    SortUndo undo(session.store(), rootTargetFolderId(session.net()), journal);
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
