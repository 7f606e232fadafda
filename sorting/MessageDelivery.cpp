#include "sorting/MessageDelivery.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/DateTime.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirDelivery.h"
#include "core/MatchBudget.h"
#include "core/Net.h"
#include "core/NeuronOut.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"
#include "sorting/IncomingMail.h"
#include "sorting/OutgoingMail.h"
#include "sorting/SentMailRecord.h"
#include "sorting/SortDecision.h"

#include <chrono>
#include <ctime>
#include <optional>

namespace {

bool isAtext(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool isDotAtom(const std::string& text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string::npos)
        return false;
    for (char c : text)
        if (c != '.' && !isAtext(c))
            return false;
    return true;
}

// The first line's end, with the line ending the message uses.
std::string lineEnding(std::string_view bytes) {
    std::size_t end = bytes.find('\n');
    return end != std::string_view::npos && end > 0 && bytes[end - 1] == '\r' ? "\r\n" : "\n";
}

// The bytes after a leading mbox "From " line.
std::string_view withoutFromLine(std::string_view bytes) {
    // "From " and the envelope sender; "From : x" and "From :x" are the From field.
    if (bytes.substr(0, 5) != "From " || bytes.size() == 5 ||
        std::string_view(" \t\r\n:").find(bytes[5]) != std::string_view::npos)
        return bytes;
    std::size_t end = bytes.find('\n');
    return end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
}

bool isFieldName(std::string_view name) {
    // Blanks may stand between the name and its colon (the obsolete syntax of RFC 5322).
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    if (name.empty())
        return false;
    for (char c : name)
        if (c < 33 || c > 126)
            return false;
    return true;
}

// Milliseconds since the last call (the first: since the clock was made).
class Stopwatch {
public:
    double lap() {
        auto now = std::chrono::steady_clock::now();
        double ms = std::chrono::duration<double, std::milli>(now - last).count();
        last = now;
        return ms;
    }

private:
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
};

// The sorter's decision; with no net (it could not be loaded), to leave the message.
SortDecision decision(Net* net, IMimeMessage* message, MessageDelivery::Outcome::Times& times,
                      Stopwatch& clock) {
    if (!net || !message) {
        SortDecision leave;
        leave.reason = net ? "the message cannot be read" : "the net cannot be loaded";
        return leave;
    }
    std::string subject;
    message->GetHeader("Subject", &subject);
    if (!idleDecision(net)) {
        net->patternSet(); // built now only to tell its time from the matching's
        times.patterns = clock.lap();
    }
    SortDecision decided = decide(net, message, subject);
    times.classify = clock.lap();
    return decided;
}

// Delivered: what the journal gets, where each copy in a target folder lies.
void noteDone(MessageDelivery::Outcome& outcome) {
    // A message kept in the inbox (a forward that may not have gone out) did not leave it.
    outcome.done.removed =
        outcome.decision.remove && outcome.folders != std::vector<std::string>{"Inbox"};
    if (outcome.folders != std::vector<std::string>{"Inbox"})
        for (std::size_t i = 0; i < outcome.files.size(); ++i)
            outcome.done.copies.push_back(
                {outcome.folders[i], outcome.files[i].substr(outcome.files[i].rfind('/') + 1)});
    outcome.delivered = true;
}

void raiseOnFailure(HRESULT hr, const MaildirDelivery& delivery) {
    if (FAILED(hr))
        throw ComException(hr, delivery.failure());
}

} // namespace

MessageDelivery::MessageDelivery(IStoreNamespace* store, Net* net, std::string sentMailFile)
    : store(store), net(net), sentMailFile(std::move(sentMailFile)) {}

MessageDelivery::~MessageDelivery() = default;

void MessageDelivery::finish() {
    delivery.reset();
}

void MessageDelivery::leaveForRetry() {
    if (delivery)
        delivery->leaveForRetry();
    delivery.reset();
}

bool MessageDelivery::isMessage(std::string_view bytes) {
    bytes = withoutFromLine(bytes);
    if (bytes.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return false;
    std::size_t colon = bytes.find(':');
    return colon != std::string_view::npos && isFieldName(bytes.substr(0, colon));
}

std::string MessageDelivery::returnPath(const std::string& sender) {
    std::string clean;
    for (char c : trimText(sender))
        if (static_cast<unsigned char>(c) >= 32 && c != 127 && c != '<' && c != '>')
            clean += c;
    if (clean.empty())
        return "<>";
    std::size_t at = clean.rfind('@');
    std::string local = clean.substr(0, at);
    std::string domain = at == std::string::npos ? std::string() : clean.substr(at);
    std::erase_if(domain, [](char c) { return c == ' ' || c == '\t'; });
    if (!isDotAtom(local)) {
        std::string quoted = "\"";
        for (char c : local) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        local = quoted + "\"";
    }
    return "<" + local + domain + ">";
}

std::string MessageDelivery::storedText(std::string_view bytes, const std::string* envelopeSender) {
    std::string eol = lineEnding(bytes);
    bytes = withoutFromLine(bytes);
    if (!envelopeSender)
        return std::string(bytes);
    std::string text = "Return-Path: " + returnPath(*envelopeSender) + eol;
    text.reserve(bytes.size() + text.size());
    // The header's fields, each with its continuation lines; the body as it is.
    bool dropping = false;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = bytes.find('\n', at);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        std::string_view line = bytes.substr(at, end - at);
        if (line == "\n" || line == "\r\n") {
            text.append(bytes.substr(at));
            return text;
        }
        if (line[0] != ' ' && line[0] != '\t') {
            // "Return-Path :" too: blanks may stand before the colon.
            std::size_t colon = line.find(':');
            dropping = colon != std::string_view::npos && isFieldName(line.substr(0, colon)) &&
                       lowerText(trimText(std::string(line.substr(0, colon)))) == "return-path";
        }
        if (!dropping)
            text.append(line);
        at = end;
    }
    return text;
}

MessageDelivery::Outcome MessageDelivery::deliver(const std::string& bytes) {
    finish();
    Outcome outcome;
    Stopwatch clock;
    try {
        HRESULT parsed =
            MimeOleCreateMessage(bytes, fileTimeFromUnix(std::time(nullptr)), message.out());
        if (FAILED(parsed))
            outcome.note = "the message cannot be read (" + resultText(parsed) + ")";
        outcome.times.parse = clock.lap();
        std::unique_lock<std::mutex> shared;
        if (netLock)
            shared = std::unique_lock<std::mutex>(*netLock);
        SortDecision& decided = outcome.decision;
        decided = decision(net, SUCCEEDED(parsed) ? message.get() : nullptr, outcome.times, clock);
        if (!net)
            outcome.note = decided.reason;

        // Records of sets go into the inbox's tmp/: a fixed place whatever is decided, in
        // the store they belong to, swept with the rest of tmp/.
        std::string inboxPath;
        if (FAILED(storeInboxPath(store, &inboxPath)))
            throw ComException(E_FAIL, "no inbox in the mail store");
        // The digest names a set's record; one folder writes none (but in a service), so it
        // is made only when a record lies in tmp/ or one is to be written.
        std::string key;
        auto digest = [&key, &bytes] {
            if (key.empty())
                key = MimeOleDeliveryDigest(bytes);
            return key;
        };
        std::vector<std::string> paths;
        if ((decided.copy || decided.forward || decided.answer) && beforeTexts)
            if (std::string problem = beforeTexts(); !problem.empty())
                throw ComException(E_FAIL, problem);
        if (decided.copy) {
            STOREFOLDERID root = rootTargetFolderId(net);
            for (const SortDecision::Folder& folder : decided.folders) {
                if (folder.name.empty())
                    continue;
                STOREFOLDERID id = findOrCreateFolder(store, root, folder.name, true);
                std::string path;
                if (id == FOLDERID_INVALID || FAILED(storeFolderPath(store, id, &path)))
                    throw ComException(E_FAIL,
                                       formatString("cannot create folder '%s' in the root target "
                                                    "folder %u (does it exist?)",
                                                    folder.name.c_str(), root));
                paths.push_back(path);
                outcome.folders.push_back(folder.name);
            }
            // The sorter keeps such a message in the inbox (and says why) rather than
            // leave it nowhere; a transfer agent's retry would not mend it.
            if (paths.empty())
                outcome.note = "every chosen folder has a blank name";
        }
        // What the sorter would leave in the inbox goes there; what it would remove
        // without keeping a copy (a forward only) goes nowhere.
        if (!decided.remove || (decided.copy && paths.empty())) {
            paths = {inboxPath};
            outcome.folders = {"Inbox"};
        }
        outcome.times.folders = clock.lap();
        if (shared)
            shared.unlock();

        // Its mail went out before the set was recorded; the set may differ from what is
        // decided now (a net learned meanwhile), but it shows in part already. Looked for
        // once the net and the store are let go: a run of the same message holding the
        // set is waited for.
        // A service's threads do not wait for one another's sets (one may hold the set it
        // waits for until its reply goes out): the same message on two connections at once
        // is tried again later.
        bool busy = false;
        delivery = MaildirDelivery::takeOver(inboxPath, digest, syncGroup ? &busy : nullptr);
        if (busy)
            throw ComException(E_FAIL, "the same message is being delivered on another "
                                       "connection");
        if (delivery) {
            delivery->syncWith(syncGroup);
            debugLog("deliver: completing the delivery a killed run began");
            raiseOnFailure(delivery->commit(), *delivery);
            outcome.folders = delivery->folderLabels();
            outcome.files = delivery->files();
            noteDone(outcome);
            return outcome;
        }

        // A forward without a kept copy is delivered nowhere: the sorter removes such a
        // message from the inbox once its forwards are sent.
        if (!paths.empty()) {
            delivery = std::make_unique<MaildirDelivery>(
                paths, outcome.folders, inboxPath, paths.size() > 1 || syncGroup ? digest() : "");
            delivery->syncWith(syncGroup);
            if (syncGroup)
                delivery->recordEvenOne();
            raiseOnFailure(delivery->write(bytes), *delivery);
        }
        outcome.times.write = clock.lap();
        MailSent mail;
        if (decided.forward || decided.answer) {
            // A delivered message has no id in the store yet: its mail is known by its key.
            std::optional<SentMailRecord> record;
            if (!sentMailFile.empty())
                record.emplace(sentMailFile, SentMailRecord::Trim::WhenLong);
            SendingFor sending{record ? &*record : nullptr, 0, false};
            if (decided.forward)
                mail = forwardMessage(message.get(), decided.replyAddress, decided.chosen, sending);
            else
                mail = replyToMessage(message.get(), decided.replyAddress, decided.chosen, sending);
        }
        // A mail that may or may not have gone out (an earlier try was cut off while
        // sending) is not sent again, and its message is not dropped: one that was to go
        // nowhere goes to the inbox, where its owner sees it.
        if (mail.keepMessage()) {
            outcome.done.failure = mail.keep;
            if (!delivery) {
                std::vector<std::string> inbox{inboxPath};
                delivery = syncGroup
                               ? std::make_unique<MaildirDelivery>(
                                     inbox, std::vector<std::string>{"Inbox"}, inboxPath, digest())
                               : std::make_unique<MaildirDelivery>(inbox);
                delivery->syncWith(syncGroup);
                if (syncGroup)
                    delivery->recordEvenOne();
                raiseOnFailure(delivery->write(bytes), *delivery);
                outcome.folders = {"Inbox"};
                outcome.note = mail.keep;
            } else {
                outcome.warning = mail.keep;
            }
        }
        outcome.times.send = clock.lap();
        if (delivery) {
            raiseOnFailure(delivery->commit(), *delivery);
            outcome.times.commit = clock.lap();
            outcome.files = delivery->files();
        }
        noteDone(outcome);
    } catch (const ComException& e) {
        delivery.reset(); // taken back, or (a set taken over) left for the next try
        outcome.failure = e.what();
        std::string reason = resultText(e.hr());
        if (e.hr() != E_FAIL && outcome.failure.find(reason) == std::string::npos)
            outcome.failure += ": " + reason;
        outcome.folders.clear();
        outcome.done.result = FAILED(e.hr()) ? e.hr() : E_FAIL;
        outcome.done.failure = outcome.failure;
    }
    return outcome;
}
