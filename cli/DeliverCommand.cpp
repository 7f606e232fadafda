#include "util/Log.h"
#include "core/PatternDatabaseCache.h"
#include "sorting/Journal.h"
#include "sorting/MessageDelivery.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <unistd.h>

namespace {

// The whole of standard input; false (errno set) when it cannot be read.
bool readInput(std::string* bytes) {
    char buffer[65536];
    for (;;) {
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes->append(buffer, static_cast<std::size_t>(got));
    }
}

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point& last) {
    Clock::time_point now = Clock::now();
    double ms = std::chrono::duration<double, std::milli>(now - last).count();
    last = now;
    return ms;
}

} // namespace

// A delivery agent's exit statuses are what the transfer agent acts on: 75 keeps the
// message queued for another try, anything else but 0 bounces it.
int deliverCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    Clock::time_point lap = Clock::now();
    ProgramEnvironment chosen = environment;
    std::optional<std::string> sender;
    OptionReader options("deliver", arguments, {{"--maildir", true}, {"--from", true}});
    while (options.next()) {
        if (options.is("--from")) {
            sender = options.value();
            continue;
        }
        chosen.storeRoot = options.value();
        chosen.storeRootChosen = true;
    }
    if (options.finished())
        return options.exitStatus();
    std::string input;
    if (!readInput(&input)) {
        std::fprintf(stderr, "brevalo-cli deliver: cannot read the message: %s\n",
                     std::strerror(errno));
        return exitTempFail;
    }
    if (!MessageDelivery::isMessage(input)) {
        std::fprintf(stderr, "brevalo-cli deliver: the input is not a message (%s)\n",
                     input.empty() ? "it is empty" : "it does not start with a header field");
        return exitDataError;
    }
    std::string text = MessageDelivery::storedText(input, sender ? &*sender : nullptr);
    double readMs = msSince(lap);

    CliSession session(chosen);
    double setupMs = msSince(lap);
    // A store that cannot be reached now (an unmounted disk, a lock held too long) may be
    // back later: the transfer agent keeps the message.
    if (session.openStore(StoreUse::oneStep) != exitOk) {
        std::fprintf(stderr, "brevalo-cli deliver: the message is kept for another try\n");
        return exitTempFail;
    }
    double storeMs = msSince(lap);
    // The net's patterns compiled by an earlier delivery, kept beside the net.
    PatternDatabaseCache patternCache(chosen.netFile() + ".patterns");
    PatternSet::useDatabaseStore(&patternCache);
    struct CacheInUse {
        ~CacheInUse() { PatternSet::useDatabaseStore(nullptr); }
    } cacheInUse;
    // A net that cannot be loaded leaves the mail in the inbox, as it does the sorter's.
    session.loadNetForSorting();
    double netMs = msSince(lap);
    MessageDelivery delivery(session.store(), session.net(), chosen.sentMailFile());
    // The language file is read only for a message that needs it. One without the folder
    // names is a fault of the installation, not of the message: the transfer agent keeps
    // the mail until the file is mended.
    delivery.beforeTexts = [&chosen] { return chosen.openStrings(); };
    MessageDelivery::Outcome outcome = delivery.deliver(text);
    // Journalled as the sorter journals; a journal that cannot be written holds no mail back,
    // and the line is not waited for: the message is on disk when deliver says so.
    std::string journalError;
    Journal journal(chosen.journalFile());
    journal.synced = false;
    if (!journal.append(Journal::Entry::of(outcome.decision, outcome.done), journalError))
        std::fprintf(stderr, "brevalo-cli deliver: cannot write the journal: %s\n",
                     journalError.c_str());
    if (!outcome.delivered) {
        std::fprintf(stderr,
                     "brevalo-cli deliver: %s; nothing was delivered, the message is kept for "
                     "another try\n",
                     outcome.failure.c_str());
        return exitTempFail;
    }
    if (!outcome.note.empty())
        std::fprintf(stderr, "brevalo-cli deliver: %s: the message goes to the inbox\n",
                     outcome.note.c_str());
    if (!outcome.warning.empty())
        std::fprintf(stderr, "brevalo-cli deliver: %s\n", outcome.warning.c_str());
    const MessageDelivery::Outcome::Times& t = outcome.times;
    debugLog("deliver: into %zu folder(s); ms: read %.3f setup %.3f store %.3f net %.3f "
             "parse %.3f patterns %.3f classify %.3f folders %.3f write %.3f send %.3f "
             "commit %.3f",
             outcome.folders.size(), readMs, setupMs, storeMs, netMs, t.parse, t.patterns,
             t.classify, t.folders, t.write, t.send, t.commit);
    // Last: until now a kill leaves the set for the transfer agent's retry to complete.
    delivery.finish();
    // Everything is on disk; what is left to free (the message, the net, the store) the
    // process's end frees at no cost.
    std::fflush(nullptr);
    _exit(exitOk);
}
