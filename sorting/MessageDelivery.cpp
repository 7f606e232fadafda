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
    if (bytes.substr(0, 5) != "From ")
        return bytes;
    std::size_t end = bytes.find('\n');
    return end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
}

bool isFieldName(std::string_view name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (c < 33 || c > 126)
            return false;
    return true;
}

// What the sorter's rules do with the message (its decision), as far as delivery needs it.
struct Plan {
    bool toFolders = false; // else the inbox
    RefsPtr chosen;
    bool forward = false;
    bool answer = false;
    std::string from; // the reply address, for forwards and answers
};

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

Plan decide(Net* net, IMimeMessage* message, MessageDelivery::Outcome::Times& times,
            Stopwatch& clock) {
    Plan plan;
    if (!net || net->getEnabled() == 0 || !net->isLearned())
        return plan;
    if (net->getEnabledPeriod() != 0) {
        DateTime now = nowLocal();
        if (now < net->getPeriodFrom() || now > net->getPeriodTo())
            return plan;
    }
    std::string subject;
    message->GetHeader("Subject", &subject);
    std::string text = messageText(message);
    times.parse += clock.lap();
    net->patternSet(); // built now only to tell its time from the matching's
    times.patterns = clock.lap();
    MatchBudget budget(subject);
    Classification result = net->classification(text, budget);
    times.classify = clock.lap();
    if (result.hasResult() && !result.hasEvidence())
        return plan;
    plan.chosen = net->chosenFolders(result, net->getThreshold());
    if (refsCount(plan.chosen) == 0)
        return plan;
    int variant = net->getJobVariant();
    plan.from = net->getFrom();
    if (variant == 1) {
        plan.toFolders = true;
        return plan;
    }
    if ((variant != 2 && variant != 3) || plan.from.empty())
        return plan;
    if (variant == 2) {
        plan.toFolders = net->getStoreMail() != 0;
        plan.forward = !sentByReplyAddress(message, plan.from);
        return plan;
    }
    plan.toFolders = true;
    plan.answer = automaticMessageReason(message, plan.from).empty() &&
                  !answerRecipient(message, plan.from).address.empty();
    return plan;
}

void raiseOnFailure(HRESULT hr, const MaildirDelivery& delivery) {
    if (FAILED(hr))
        throw ComException(hr, delivery.failure());
}

} // namespace

MessageDelivery::MessageDelivery(IStoreNamespace* store, Net* net) : store(store), net(net) {}

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
        if (line[0] != ' ' && line[0] != '\t')
            dropping = lowerText(std::string(line.substr(0, 12))) == "return-path:";
        if (!dropping)
            text.append(line);
        at = end;
    }
    return text;
}

MessageDelivery::Outcome MessageDelivery::deliver(const std::string& bytes) {
    Outcome outcome;
    Stopwatch clock;
    try {
        com_ptr<IMimeMessage> message;
        HRESULT parsed =
            MimeOleCreateMessage(bytes, fileTimeFromUnix(std::time(nullptr)), message.out());
        if (FAILED(parsed))
            outcome.note = "the message cannot be read (" + resultText(parsed) + ")";
        outcome.times.parse = clock.lap();
        Plan plan = SUCCEEDED(parsed) ? decide(net, message.get(), outcome.times, clock) : Plan();
        if (!net)
            outcome.note = "the net cannot be loaded";

        std::vector<std::string> paths;
        if (plan.toFolders) {
            STOREFOLDERID root = rootTargetFolderId(net);
            for (int i = 0; i < refsCount(plan.chosen); ++i) {
                auto* folder = (*plan.chosen)[static_cast<std::size_t>(i)].as<NeuronOut>();
                std::string name = folder ? trimText(folder->getName()) : std::string();
                if (name.empty())
                    continue;
                STOREFOLDERID id = findOrCreateFolder(store, root, name, true);
                std::string path;
                if (id == FOLDERID_INVALID || FAILED(storeFolderPath(store, id, &path)))
                    throw ComException(E_FAIL,
                                       formatString("cannot create folder '%s' in the root target "
                                                    "folder %u (does it exist?)",
                                                    name.c_str(), root));
                paths.push_back(path);
                outcome.folders.push_back(name);
            }
            // Every chosen folder has a blank name: the sorter leaves such a message too.
            plan.toFolders = !paths.empty();
        }
        if (!plan.toFolders && !plan.forward) {
            com_ptr<IStoreFolder> inbox = openInbox(store);
            std::string path;
            if (!inbox || FAILED(storeFolderPath(store, folderIdOf(inbox.get()), &path)))
                throw ComException(E_FAIL, "no inbox in the mail store");
            paths = {path};
            outcome.folders = {"Inbox"};
        }

        outcome.times.folders = clock.lap();
        // A forward without a kept copy is delivered nowhere: the sorter removes such a
        // message from the inbox once its forwards are sent.
        std::optional<MaildirDelivery> delivery;
        if (!paths.empty()) {
            delivery.emplace(paths);
            raiseOnFailure(delivery->write(bytes), *delivery);
        }
        outcome.times.write = clock.lap();
        if (plan.forward)
            forwardMessage(message.get(), plan.from, plan.chosen);
        if (plan.answer)
            replyToMessage(message.get(), plan.from, plan.chosen);
        outcome.times.send = clock.lap();
        if (delivery) {
            raiseOnFailure(delivery->commit(), *delivery);
            outcome.times.commit = clock.lap();
            outcome.files = delivery->files();
        }
        outcome.delivered = true;
    } catch (const ComException& e) {
        outcome.failure = e.what();
        std::string reason = resultText(e.hr());
        if (e.hr() != E_FAIL && outcome.failure.find(reason) == std::string::npos)
            outcome.failure += ": " + reason;
        outcome.folders.clear();
    }
    return outcome;
}
