#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "sorting/IncomingMail.h"
#include "sorting/SortDecision.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class SyncGroup;
class MaildirDelivery;
class Net;

// One message a mail transfer agent hands over, delivered in one step as the sorter would
// have sorted it had it arrived in the inbox (the sorter's decide()): into its target
// folders when the decision copies it there, into the inbox when it leaves it, nowhere
// when it is only forwarded. It never passes through the inbox on its way
// to a folder, so a running sorter (which watches the inbox) never sees it: nothing is
// sorted twice. A message left in the inbox is one the sorter's rules leave there too.
// Forwards and answers are sent as the sorter sends them, after the message is written
// into its folders' tmp/ and before it shows in their new/ (MaildirDelivery): a failed
// sending delivers nothing, so the transfer agent's next try starts afresh. Each mail is
// noted in the sorters' sent-mail record, so that try sends only what was not handed to
// the sending command before; the record is not even read when nothing is to be sent. A
// try that finds a mail handed over without the command's confirmation (the last try was
// killed while sending) does not send it again and stores the message in the inbox when
// it was to go nowhere: it may or may not have gone out, and the message is not lost.
// A set of folders a killed delivery of the same bytes left half shown is completed
// instead (MaildirDelivery::takeOver; its mail went out before), and its outcome lists
// every copy of the set, those the killed run placed too, so undo finds them all.
class MessageDelivery {
public:
    struct Outcome {
        bool delivered = false;           // else a temporary failure: try again later
        std::vector<std::string> folders; // where it lies: folder names, the inbox as "Inbox"
        std::vector<std::string> files;   // the message files written
        std::string failure;              // why it was not delivered
        // For the journal, as the sorter writes it: what was decided, and where each copy
        // in a target folder lies (or what failed).
        SortDecision decision;
        CarriedOut done;
        // Why it went to the inbox though the sorter could not decide on it (the net or
        // the message cannot be read, every chosen folder has a blank name).
        std::string note;
        // What went wrong beside a delivery that was done (a forward that may or may not
        // have gone out, the message in its folders).
        std::string warning;
        // Where the time went, in milliseconds (for the diagnostic log and the benchmark).
        struct Times {
            double parse = 0, patterns = 0, classify = 0, folders = 0, write = 0, send = 0,
                   commit = 0;
        } times;
    };

    // net may be null (the net could not be loaded): every message goes to the inbox.
    // Without a sent-mail record file (empty) every forward and answer is sent as it comes.
    MessageDelivery(IStoreNamespace* store, Net* net, std::string sentMailFile = {});
    ~MessageDelivery();

    // For a service delivering on several threads at once: the net and the store are used
    // only under netLock (held while deciding and finding the folders, never while
    // writing or sending), and the folders are synced with the other threads' deliveries.
    // Every delivery keeps its record until finish() (MaildirDelivery::recordEvenOne):
    // the service finishes once the reply is sent.
    void shareWith(std::mutex* netLock, SyncGroup* syncGroup) {
        this->netLock = netLock;
        this->syncGroup = syncGroup;
    }

    Outcome deliver(const std::string& bytes);
    // When set, called once in a delivery before the first thing that needs the language
    // file: the target folders (their names) or a forward or an answer (its texts). A text
    // it returns is why the message cannot be delivered now (a temporary failure).
    std::function<std::string()> beforeTexts;
    // Ends the last delivery once its outcome is noted (journalled): a kill before this
    // leaves its set for the retry to complete. Done by the next deliver() and the
    // destructor otherwise.
    void finish();
    // Ends the last delivery without its end: what a kill would leave, for the transfer
    // agent's retry to complete (its reply may not have gone out).
    void leaveForRetry();

    // Whether the input is a message at all: something other than blank lines, beginning
    // with a header field (after an mbox "From " line).
    static bool isMessage(std::string_view bytes);
    // The message as it is stored: an mbox "From " line a transfer agent put first is
    // dropped; with an envelope sender, "Return-Path: <sender>" (the sender made safe to
    // stand in the header: no control characters or angle brackets, a local part that is
    // no dot-atom quoted) replaces every Return-Path field, in the message's line ending.
    static std::string storedText(std::string_view bytes, const std::string* envelopeSender);
    // The Return-Path field's value for an envelope sender ("<>" for the empty sender).
    static std::string returnPath(const std::string& sender);

private:
    IStoreNamespace* store;
    Net* net;
    std::string sentMailFile;
    std::unique_ptr<MaildirDelivery> delivery; // the last one, until finished
    std::mutex* netLock = nullptr;
    SyncGroup* syncGroup = nullptr;
    // The last message read, kept until the next delivery or the end of this object: a
    // process that ends after one delivery leaves its freeing to the process's end.
    com_ptr<IMimeMessage> message;
};
