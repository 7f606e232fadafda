#include "cli/CliSession.h"

#include "util/ErrorReport.h"
#include "platform/ComInit.h"
#include "platform/profile/Loc.h"
#include "mail/HtmlText.h"
#include "mail/OutgoingMail.h"

#include <cstdio>

CliSession::CliSession(const ProgramEnvironment& environment) : environment(environment) {
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

bool CliSession::open() {
    try {
        connection = connectStore(environment.storeRoot);
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot open the mail store %s: %s\n",
                     environment.storeRoot.c_str(), comErrorText(e, "store").c_str());
        return false;
    }
    netObject = new Net(environment.netFile(), connection.store.get());
    try {
        netObject->load();
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot load the net %s: %s\n",
                     environment.netFile().c_str(), comErrorText(e, "load").c_str());
        return false;
    }
    return true;
}

void CliSession::openNetOnly() {
    netObject = new Net(environment.netFile(), nullptr);
    netObject->load();
}
