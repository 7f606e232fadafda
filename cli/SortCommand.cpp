#include "util/ComException.h"
#include "platform/lock/SingleInstance.h"
#include "sorting/InboxMark.h"
#include "sorting/SentMailRecord.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/Sorter.h"

#include <cstdio>

int sortCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    bool once = false;
    for (const std::string& argument : arguments) {
        if (argument == "--once") {
            once = true;
            continue;
        }
        std::fprintf(stderr, "brevalo-cli sort: unknown option '%s'\n", argument.c_str());
        return exitUsage;
    }
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
    if (!session.net()->isLearned()) {
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
    Sorter sorter(session.store(), session.inbox(), session.net(), &mark, &record);
    if (once) {
        Sorter::InboxPass pass = sorter.sortInbox();
        std::printf("brevalo-cli: looked at %d message%s in the inbox\n", pass.messages,
                    pass.messages == 1 ? "" : "s");
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
        return status;
    }
    return sorter.run();
}
