#include "cli/CliSession.h"

#include "util/ErrorReport.h"
#include "platform/ComInit.h"
#include "platform/Store.h"
#include "platform/profile/Loc.h"
#include "mail/HtmlText.h"
#include "mail/StoreMessages.h"
#include "sorting/OutgoingMail.h"
#include "cli/Commands.h"

#include <cstdio>

namespace {

// For a command the person can paste: every path in single quotes.
std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

CliSession::CliSession(const ProgramEnvironment& environment)
    : environment(environment), changeLock(environment.netFile() + ".change-lock") {
    CoInitialize(nullptr);
    // Error boxes become lines on standard error, in the boxes' own words.
    setErrorReporter([](const std::string&, const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
    });
    initMessageAccess();
    locOpen(environment.stringsFile());
    setSendmailCommand(environment.sendmail);
}

CliSession::~CliSession() {
    netObject.reset();
    connection = StoreConnection();
    finalizeMessageAccess();
    CoUninitialize();
}

int CliSession::open() {
    if (int status = openStore())
        return status;
    return loadNet();
}

int CliSession::openLearningSet() {
    if (int status = open())
        return status;
    return requireLearningMessages();
}

int CliSession::openForChange() {
    if (int status = openStore())
        return status;
    if (int status = lockNet())
        return status;
    return loadNet();
}

int CliSession::openLearningSetForChange() {
    if (int status = openForChange())
        return status;
    return requireLearningMessages();
}

int CliSession::requireLearningMessages() const {
    if (netObject->fileCount() == 0) {
        std::fprintf(stderr, "brevalo-cli: the learning folder holds no messages to learn from\n");
        return exitFailed;
    }
    return exitOk;
}

int CliSession::lockNet() {
    if (!changeLock.acquire(false) && changeLock.error().empty()) {
        std::fprintf(stderr, "brevalo-cli: waiting for another command that changes the net\n");
        changeLock.acquire(true);
    }
    if (!changeLock.error().empty()) {
        std::fprintf(stderr, "brevalo-cli: cannot lock the net for a change: %s\n",
                     changeLock.error().c_str());
        return exitFailed;
    }
    return exitOk;
}

int CliSession::openStore(StoreUse use) {
    if (!storeRootExists(environment.storeRoot)) {
        std::string quoted = shellQuoted(environment.storeRoot);
        std::fprintf(stderr,
                     "brevalo-cli: there is no mail store at %s (%s).\n"
                     "  Set MAILDIR to the folder of your Maildir, or make an empty store there:\n"
                     "    mkdir -p %s/cur %s/new %s/tmp\n"
                     "  or build a sample store to try: brevalo-cli demo DIR\n",
                     environment.storeRoot.c_str(),
                     environment.storeRootChosen ? "named by MAILDIR"
                                                 : "the default, as MAILDIR is not set",
                     quoted.c_str(), quoted.c_str(), quoted.c_str());
        return exitNoStore;
    }
    std::string error;
    if (!environment.makeHome(&error)) {
        std::fprintf(stderr, "brevalo-cli: cannot make the folder %s for the net: %s\n",
                     environment.home.c_str(), error.c_str());
        return exitFailed;
    }
    try {
        connection = connectStore(environment.storeRoot, use);
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot open the mail store %s: %s\n",
                     environment.storeRoot.c_str(), comErrorText(e).c_str());
        return exitFailed;
    }
    return exitOk;
}

int CliSession::loadNet(bool learningSet) {
    netObject =
        new Net(environment.netFile(), StoreMessages::of(connection.store.get(), learningSet));
    try {
        netObject->load();
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot load the net %s: %s\n",
                     environment.netFile().c_str(), comErrorText(e).c_str());
        netObject.reset();
        return exitFailed;
    }
    reportDamage(*netObject);
    return exitOk;
}

void CliSession::loadNetForSorting() {
    netObject = new Net(environment.netFile(), StoreMessages::of(connection.store.get(), false));
    netObject->loadForSorting();
    reportDamage(*netObject);
}

void CliSession::openNetOnly() {
    netObject = new Net(environment.netFile(), nullptr);
    netObject->load();
    reportDamage(*netObject);
}

void CliSession::reportDamage(const Net& net) {
    if (net.damage().empty())
        return;
    std::fprintf(stderr,
                 "brevalo-cli: the net file %s is damaged: %s; until it is learned again or "
                 "imported, it sorts nothing and mail stays in the inbox\n",
                 net.getFileName().c_str(), net.damage().c_str());
}
