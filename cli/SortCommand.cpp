#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "platform/lock/SingleInstance.h"
#include "platform/maildir/MaildirFileName.h"
#include "mail/MessageText.h"
#include "sorting/InboxMark.h"
#include "sorting/Journal.h"
#include "sorting/SentMailRecord.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"
#include "cli/Sorter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <malloc.h>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

struct InboxFile {
    std::string path;
    struct timespec modified {};
};

// The message files of the inbox, oldest first, read past the store: the store would
// give unseen files ids (and write them down), and a dry run changes nothing.
std::vector<InboxFile> inboxFiles(const std::string& root) {
    std::vector<InboxFile> files;
    for (const char* subdir : {"new", "cur"}) {
        std::error_code error;
        for (const fs::directory_entry& entry :
             fs::directory_iterator(root + "/" + subdir, error)) {
            std::string name = entry.path().filename().string();
            struct stat info {};
            if (!MaildirFileName::isMessageFile(name) || lstat(entry.path().c_str(), &info) != 0 ||
                !S_ISREG(info.st_mode))
                continue;
            files.push_back({entry.path().string(), info.st_mtim});
        }
    }
    std::sort(files.begin(), files.end(), [](const InboxFile& a, const InboxFile& b) {
        if (a.modified.tv_sec != b.modified.tv_sec)
            return a.modified.tv_sec < b.modified.tv_sec;
        if (a.modified.tv_nsec != b.modified.tv_nsec)
            return a.modified.tv_nsec < b.modified.tv_nsec;
        return a.path < b.path;
    });
    return files;
}

std::string folderList(const SortDecision& decision) {
    std::vector<std::string> parts;
    for (const SortDecision::Folder& folder : decision.folders)
        parts.push_back(formatString("%s (%.1f%%)", folder.name.c_str(), folder.percent));
    return joinTexts(parts, ", ");
}

// What sort --once would do with every inbox message, changing nothing: no file, no id,
// no journal line, no mail.
int dryRun(const ProgramEnvironment& environment) {
    if (!storeRootExists(environment.storeRoot)) {
        std::fprintf(stderr, "brevalo-cli: there is no mail store at %s\n",
                     environment.storeRoot.c_str());
        return exitNoStore;
    }
    CliSession session(environment);
    try {
        session.openNetOnly();
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot load the net %s: %s\n",
                     environment.netFile().c_str(), comErrorText(e).c_str());
        return exitFailed;
    }
    std::vector<InboxFile> files = inboxFiles(environment.storeRoot);
    // Read only: a message undo moved back stays in the inbox, as the sorter leaves it.
    Journal journal(environment.journalFile());
    int status = exitOk;
    for (const InboxFile& file : files) {
        com_ptr<IMimeMessage> message;
        HRESULT hr = MimeOleLoadMessageFile(
            file.path, fileTimeFromUnix(file.modified.tv_sec, file.modified.tv_nsec),
            message.out());
        if (FAILED(hr)) {
            std::printf("%s\n  cannot be read: %s\n", file.path.c_str(), resultText(hr).c_str());
            status = exitTempFail;
            continue;
        }
        std::string subject = headerText(message.get(), PID_HDR_SUBJECT);
        if (journal.movedBack(fs::path(file.path).filename().string())) {
            std::printf("%s\n  stays in the inbox: undo moved it back there\n",
                        subject.empty() ? "(no subject)" : subject.c_str());
            continue;
        }
        SortDecision decision = decide(session.net(), message.get(), subject);
        std::printf("%s\n", subject.empty() ? "(no subject)" : subject.c_str());
        if (decision.action == SortDecision::Action::Leave) {
            std::printf("  stays in the inbox: %s\n", decision.reason.c_str());
            continue;
        }
        if (decision.copy)
            std::printf("  copied into %s\n", folderList(decision).c_str());
        else
            std::printf("  chosen: %s (no copy kept)\n", folderList(decision).c_str());
        for (const std::string& to : decision.recipients)
            std::printf("  %s to %s\n", decision.forward ? "forwarded" : "answered", to.c_str());
        if (!decision.reason.empty())
            std::printf("  %s\n", decision.reason.c_str());
        if (decision.remove)
            std::printf("  removed from the inbox\n");
    }
    std::printf("brevalo-cli: dry run over %zu message%s in the inbox, nothing changed\n",
                files.size(), files.size() == 1 ? "" : "s");
    return status;
}

} // namespace

int sortCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    bool once = false;
    bool dry = false;
    OptionReader options("sort", arguments, {{"--once", false}, {"--dry-run", false}});
    while (options.next()) {
        once |= options.is("--once");
        dry |= options.is("--dry-run");
    }
    if (options.finished())
        return options.exitStatus();
    // A dry run looks once, and needs no guard: it changes nothing.
    if (dry)
        return dryRun(environment);
    // Batches are parsed on short-lived threads, and the C library would give each new one
    // a heap of its own that keeps what it freed: one heap a processor is as fast and keeps
    // the sorter small.
    mallopt(M_ARENA_MAX, static_cast<int>(std::max(2u, std::thread::hardware_concurrency())));
    // The tray program takes the same guard: two sorters would handle one message twice.
    SingleInstance guard("__zelko");
    if (!guard.acquire()) {
        std::fprintf(stderr,
                     "brevalo-cli: another sorter (the tray program or brevalo-cli sort) is "
                     "running: %s\n",
                     guard.error().c_str());
        return exitRefused;
    }
    CliSession session(environment);
    if (int status = session.open())
        return status;
    // A damaged net file was named by the session; a running sorter waits for its repair.
    const bool damaged = !session.net()->damage().empty();
    if (once && damaged)
        return exitFailed;
    if (!session.net()->isLearned() && !damaged) {
        if (once) {
            // Nothing could be sorted: a refusal, as classify's, not a success.
            std::fprintf(stderr,
                         "brevalo-cli: the net in %s is not learned; run 'brevalo-cli learn' "
                         "first\n",
                         environment.netFile().c_str());
            return exitRefused;
        }
        std::fprintf(stderr,
                     "brevalo-cli: the net in %s is not learned: new mail stays in the "
                     "inbox until it is (brevalo-cli learn)\n",
                     environment.netFile().c_str());
    }
    InboxMark mark(environment.inboxMarkFile(), environment.storeRoot);
    SentMailRecord record(environment.sentMailFile());
    Journal journal(environment.journalFile());
    Sorter sorter(session.store(), session.inbox(), session.net(), &mark, &record, &journal);
    if (once) {
        // What was done, told by the journal lines written; a message written no line for
        // (left again, or moved back by undo) stayed in the inbox.
        std::map<std::string, int> done;
        journal.appended = [&done](const std::vector<Journal::Entry>& entries) {
            for (const Journal::Entry& entry : entries)
                ++done[entry.action];
        };
        Sorter::InboxPass pass = sorter.sortInbox();
        int status = exitOk;
        if (FAILED(pass.listing)) {
            // Whatever the listing did not reach stays unsorted: never a success.
            std::fprintf(stderr, "brevalo-cli: cannot list the messages of the inbox %s: %s\n",
                         environment.storeRoot.c_str(), resultText(pass.listing).c_str());
            status = exitTempFail;
        }
        if (pass.failed > 0) {
            std::fprintf(stderr, "brevalo-cli: %d of %d message%s could not be sorted: %s\n",
                         pass.failed, pass.messages, pass.messages == 1 ? "" : "s",
                         pass.firstFailure.c_str());
            status = exitTempFail;
        }
        int moved = done["moved"], forwarded = done["forwarded"], answered = done["answered"];
        int left = std::max(0, pass.messages - moved - forwarded - answered - pass.failed);
        std::fflush(stderr);
        std::printf("brevalo-cli: %d message%s in the inbox: %d moved, %d forwarded, %d "
                    "answered, %d left, %d failed\n",
                    pass.messages, pass.messages == 1 ? "" : "s", moved, forwarded, answered, left,
                    pass.failed);
        return status;
    }
    return sorter.run();
}
