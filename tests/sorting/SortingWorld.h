#pragma once

#include "tests/mail/MailTestSupport.h"

#include "util/ComPtr.h"
#include "sorting/IncomingMail.h"
#include "sorting/Journal.h"
#include "sorting/SentMailRecord.h"
#include "mail/StoreAccess.h"
#include "core/Net.h"

#include <map>
#include <string>
#include <vector>

// A temporary Maildir with a learned net beside it and a recording sendmail script: the
// net chooses "Invoices" for mail about an invoice, "Travel" for mail about a flight,
// both for mail about both, and nothing for anything else.
class SortingWorld {
public:
    SortingWorld();
    ~SortingWorld();

    // Puts a message into the inbox (new/, as a delivery agent does); returns its id.
    MESSAGEID deliver(const std::string& message);
    // Runs the window's handling of a new message (errors shown, not raised).
    void arrive(MESSAGEID id);

    std::vector<std::string> inboxSubjects();
    // Subjects in the child of the root target folder with that name; none when the
    // folder does not exist.
    std::vector<std::string> folderSubjects(const std::string& name);
    bool folderExists(const std::string& name);
    // The message file names in that child folder, sorted.
    std::vector<std::string> folderFiles(const std::string& name);

    struct Sent {
        std::string raw;      // what the sendmail command read
        std::string args;     // its arguments
        std::string subject;  // decoded
        std::string to;       // decoded
        std::string htmlBody; // the decoded HTML body (UTF-8)
    };
    std::vector<Sent> sent();
    // The sendmail script exits with this status from now on.
    void sendmailExits(int status);

    std::vector<std::string> errors; // the error boxes shown
    // What arrive() records sent mail in (none: mail goes out without a record).
    SentMailRecord* record = nullptr;
    // What arrive() writes its decisions to (none: nothing is written).
    Journal* journal = nullptr;
    TempStore store;
    std::string netFile;
    StoreConnection connection;
    ref_ptr<Net> net;
    std::string dir;

private:
    std::vector<std::string> subjectsOf(IStoreFolder* folder);
};

// A plain message with the given headers and body (LF line ends as Maildir stores them).
std::string mailText(const std::string& subject, const std::string& body,
                     const std::string& extraHeaders = "",
                     const std::string& from = "Ann Smith <ann@example.org>",
                     const std::string& contentType = "text/plain; charset=utf-8");
