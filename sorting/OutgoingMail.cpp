#include "sorting/OutgoingMail.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/DateTime.h"
#include "util/Encoding.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/OEMessage.h"
#include "platform/profile/Loc.h"
#include "core/NeuronOut.h"
#include "mail/HtmlText.h"
#include "mail/MessageText.h"
#include "sorting/SentMailRecord.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::string& command() {
    static std::string current = defaultSendmailCommand();
    return current;
}

std::string row(const std::string& label, const std::string& value) {
    return "<tr><td>" + label + "</td><td>" + value + "</td>";
}

// Text for the plain-text part: LF line ends, as a sent mail's lines are written.
std::string plainLines(const std::string& text) {
    return replaceAll(text, "\r\n", "\n");
}

// The answer blocks of a reply, trimmed, each folder's own or the sentence naming it.
std::vector<std::string> answerBlocks(const RefsPtr& folders) {
    std::vector<std::string> blocks;
    for (int i = 0; i < refsCount(folders); ++i) {
        auto* folder = (*folders)[static_cast<std::size_t>(i)].as<NeuronOut>();
        if (!folder)
            continue;
        std::string answer = folder->getAnswer();
        if (answer.empty())
            answer = locText("mail.answer.folder", folder->getName());
        blocks.push_back(trimText(answer));
    }
    return blocks;
}

std::vector<std::string> headerValues(IMimeMessage* message, const char* name) {
    std::vector<std::string> values;
    if (FAILED(message->GetHeaderValues(name, &values)))
        values.clear();
    return values;
}

std::vector<std::string> addressEntries(IMimeMessage* message, std::uint32_t type) {
    std::vector<std::string> entries;
    if (FAILED(message->GetAddressEntries(type, &entries)))
        entries.clear();
    return entries;
}

// A stranger's text shown in a log line: one line, not too long.
std::string shown(const std::string& text) {
    std::string line = text.substr(0, 200);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f)
            c = '?';
    return line;
}

// A structured header value without its comments ("(...)", nested, with "\" quoting).
std::string withoutComments(const std::string& value) {
    std::string result;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (depth > 0) {
            if (c == '\\')
                ++i;
            else if (c == '(')
                ++depth;
            else if (c == ')')
                --depth;
            continue;
        }
        if (quoted) {
            result += c;
            if (c == '\\' && i + 1 < value.size())
                result += value[++i];
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '(') {
            ++depth;
            result += ' ';
            continue;
        }
        if (c == '"')
            quoted = true;
        result += c;
    }
    return result;
}

bool isAtext(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr);
}

// Why an address entry is no mailbox to answer, or empty when it is one.
std::string mailboxRefusal(const std::string& address) {
    if (address.empty())
        return "is a group, not a mailbox";
    if (address.size() > 254)
        return "is too long";
    std::size_t at = address.rfind('@');
    if (at == std::string::npos)
        return "is a bare local name";
    std::string local = address.substr(0, at), domain = address.substr(at + 1);
    if (local.empty() || local.size() > 64)
        return "has no valid local part";
    if (local[0] == '|' || local[0] == '/')
        return "starts with a pipe or a path";
    // A dot-atom only: quoted local parts are where hostile addresses hide.
    if (local.front() == '.' || local.back() == '.' || local.find("..") != std::string::npos ||
        !std::all_of(local.begin(), local.end(), [](char c) { return c == '.' || isAtext(c); }))
        return "has a local part that is not a plain name";
    std::vector<std::string> labels = splitText(domain, ".");
    if (domain.size() > 253 || labels.size() < 2)
        return "has no full domain name";
    for (const std::string& label : labels) {
        bool valid = !label.empty() && label.size() <= 63 && label.front() != '-' &&
                     label.back() != '-' && std::all_of(label.begin(), label.end(), [](char c) {
                         return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '-';
                     });
        if (!valid)
            return "has no valid domain name";
    }
    const std::string& top = labels.back();
    if (std::all_of(top.begin(), top.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "has no valid domain name";
    return {};
}

// The reply address setting as the addresses it names, in lowercase.
std::vector<std::string> ownAddresses(const std::string& from) {
    std::vector<std::string> entries;
    if (FAILED(MimeOleParseAddressEntries(from, &entries)))
        entries.clear();
    std::vector<std::string> own;
    for (const std::string& entry : entries)
        if (!entry.empty())
            own.push_back(lowerText(entry));
    return own;
}

bool isOwn(const std::string& address, const std::vector<std::string>& own) {
    return std::find(own.begin(), own.end(), lowerText(address)) != own.end();
}

// What names the arrived message across runs: its bytes' digest and its Message-ID (a
// different message may carry a used one), so only the same message is known again; the
// fields a transfer agent writes anew at each attempt are left out of the digest.
std::string messageKey(IMimeMessage* message) {
    std::string bytes;
    checkHr(message->GetContentBytes(&bytes), "cannot read the message for its digest");
    std::string key = "content " + MimeOleDeliveryDigest(bytes);
    for (const std::string& id : headerValues(message, "Message-ID")) {
        std::string trimmed = trimText(id);
        if (!trimmed.empty())
            return key + "\nmessage-id " + trimmed;
    }
    return key;
}

// The message id a log line names, when there is one (a delivery's message has none yet).
std::string forMessage(const SendingFor& sending) {
    return sending.messageId ? formatString(" for message %u", sending.messageId) : std::string();
}

// Sends one mail unless the record says it went to the sending command before. The
// message is to be kept when the mail failed twice before and is given up, or when it
// was handed over before without the command's confirmation: then it may or may not
// have gone out, and sending it again could send it twice.
MailSent sendRecorded(const SendingFor& sending, const std::string& key, const std::string& what,
                      const std::string& from, const std::string& to, const std::string& subject,
                      const std::string& body, const std::string& text, AutoSubmitted kind,
                      const std::string& original = {}) {
    if (!sending.record) {
        sendHtmlMail(from, to, subject, body, text, kind, original);
        return {};
    }
    SentMailRecord::Entry entry = sending.record->find(key);
    if (entry.state == SentMailRecord::State::Sent) {
        debugLog("ZELKO: the %s to '%s'%s was sent before, not sending it again", what.c_str(),
                 shown(to).c_str(), forMessage(sending).c_str());
        return {};
    }
    if (entry.state == SentMailRecord::State::Handed) {
        MailSent kept;
        kept.keep = "the " + what + " to '" + shown(to) +
                    "' may or may not have gone out (an earlier attempt was cut off after "
                    "handing it to the sending command and before the command confirmed "
                    "it); it is not sent again";
        if (sending.attemptsLimited) // a delivery says so itself
            warningLog("ZELKO: message %u: %s", sending.messageId, kept.keep.c_str());
        return kept;
    }
    if (sending.attemptsLimited && entry.state == SentMailRecord::State::Failed &&
        entry.attempt >= SentMailRecord::attemptsAllowed) {
        warningLog("ZELKO: sending the mail to '%s'%s failed %d times, not trying "
                   "again; the message stays in the inbox",
                   shown(to).c_str(), forMessage(sending).c_str(), entry.attempt);
        return MailSent{"the " + what + " to '" + shown(to) +
                        "' could not be sent and is given up"};
    }
    int attempt = entry.attempt + 1;
    std::string error;
    if (!sending.record->handing(key, sending.messageId, attempt, error))
        throw ComException(E_FAIL, "cannot record the sending in " + sending.record->fileName() +
                                       ": " + error + "; nothing was sent");
    try {
        sendHtmlMail(from, to, subject, body, text, kind, original);
    } catch (const ComException& e) {
        // Cut off after it had the whole mail: the "handed" line stays the last, so the
        // mail is never sent again, and the message is kept.
        if (e.hr() == SEND_E_OUTCOME_UNKNOWN) {
            MailSent kept;
            kept.keep = "the " + what + " to '" + shown(to) + "' may or may not have gone out (" +
                        e.what() + "); it is not sent again";
            if (sending.attemptsLimited)
                warningLog("ZELKO: message %u: %s", sending.messageId, kept.keep.c_str());
            return kept;
        }
        sending.record->failed(key);
        // A delivery says so itself, and its transfer agent tries again.
        if (sending.attemptsLimited && attempt < SentMailRecord::attemptsAllowed)
            warningLog("ZELKO: sending the mail to '%s'%s failed; it is tried once "
                       "more at the next start",
                       shown(to).c_str(), forMessage(sending).c_str());
        else if (sending.attemptsLimited)
            warningLog("ZELKO: sending the mail to '%s'%s failed again, not trying "
                       "again",
                       shown(to).c_str(), forMessage(sending).c_str());
        throw;
    }
    sending.record->sent(key);
    return {};
}

// Every reason to keep the message.
void join(MailSent& all, const MailSent& one) {
    if (all.keep.empty())
        all.keep = one.keep;
    else if (!one.keep.empty())
        all.keep += "; " + one.keep;
}

// Read at the first mail, so that only a program that sends says a bad value is ignored.
int timeLimit() {
    static int seconds = [] {
        std::string problem;
        int chosen = defaultSendmailSeconds(&problem);
        if (!problem.empty())
            warningLog("%s", problem.c_str());
        return chosen;
    }();
    return seconds;
}

} // namespace

void setSendmailCommand(const std::string& newCommand) {
    command() = newCommand;
}

const std::string& sendmailCommand() {
    return command();
}

ForwardBody composeForwardBody(IMimeMessage* message) {
    MessageBody found = messageBody(message);
    std::string body = found.found ? wideToUtf8(found.text) : std::string();
    // The plain text of an HTML body: its visible text, of as much of it as the
    // classifier reads (the HTML parser needs many bytes per byte of source).
    std::string plainBody = body;
    if (found.isHtml) {
        try {
            plainBody =
                htmlToUtf8Text(wideToUtf8(messageBody(message, maxClassifiedText).text), false);
            // The HTML part and the attached original are whole: the reader sees the cut.
            if (found.text.size() > maxClassifiedText)
                plainBody += "\n[\u2026]";
        } catch (const ComException& e) {
            // The HTML part still carries the body: the mail goes out all the same.
            debugLog("ZELKO: no plain text of the HTML body: %s", e.what());
            plainBody.clear();
        }
    } else {
        body = textToHtml(body);
    }

    ForwardBody result;
    result.subject = headerText(message, PID_HDR_SUBJECT);
    std::string table = "<table>", lines;
    auto add = [&](const std::string& label, const std::string& value) {
        table += row(label, escapeHtml(value));
        lines += label + " " + value + "\n";
    };
    add(locText("mail.from"), headerText(message, PID_HDR_FROM));
    add(locText("mail.to"), headerText(message, PID_HDR_TO));
    FILETIME time;
    if (headerTime(message, PID_ATT_RECVTIME, &time))
        add(locText("mail.received"), formatMailDate(time));
    if (headerTime(message, PID_HDR_DATE, &time))
        add(locText("mail.sent"), formatMailDate(time));
    table += "<tr><td colspan=2>-----</td>";
    table += "</table>";
    result.body = table + body;
    result.text = plainLines(lines + "-----\n" + plainBody);
    return result;
}

std::string composeReplyText(const RefsPtr& folders) {
    std::string text = textToHtml(locText("mail.answer.header"));
    for (const std::string& answer : answerBlocks(folders))
        text += textToHtml(answer) + "<br><br>";
    text += textToHtml(locText("mail.answer.footer"));
    return text;
}

std::string composeReplyPlainText(const RefsPtr& folders) {
    std::string text = locText("mail.answer.header");
    for (const std::string& answer : answerBlocks(folders))
        text += answer + "\r\n\r\n";
    text += locText("mail.answer.footer");
    return plainLines(text);
}

MailSent forwardMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders,
                        const SendingFor& sending) {
    ForwardBody forward = composeForwardBody(message);
    std::string original;
    checkHr(message->GetContentBytes(&original), "cannot read the message to forward it");
    std::string key = sending.record ? messageKey(message) : std::string();
    MailSent all;
    for (int i = 0; i < refsCount(folders); ++i) {
        auto* folder = (*folders)[static_cast<std::size_t>(i)].as<NeuronOut>();
        if (!folder)
            continue;
        std::string to = joinTexts(folder->getEmails(), ";");
        if (to.empty())
            continue;
        join(all, sendRecorded(sending, SentMailRecord::key(key, "forward\n" + to), "forward", from,
                               to, forward.subject, forward.body, forward.text,
                               AutoSubmitted::Generated, original));
    }
    return all;
}

MailSent replyToMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders,
                        const SendingFor& sending) {
    AnswerRecipient recipient = answerRecipient(message, from);
    if (recipient.address.empty())
        return {};
    ForwardBody forward = composeForwardBody(message);
    std::string reply = composeReplyText(folders);
    std::string key = sending.record ? messageKey(message) : std::string();
    return sendRecorded(
        sending, SentMailRecord::key(key, "answer\n" + recipient.address), "answer", from,
        recipient.address, forward.subject, "<p>" + reply + "</p>" + forward.body,
        composeReplyPlainText(folders) + "\n\n" + forward.text, AutoSubmitted::Replied);
}

AnswerRecipient answerRecipient(IMimeMessage* message, const std::string& from) {
    struct Field {
        const char* name;
        std::uint32_t type;
    };
    for (Field field :
         {Field{"Reply-To", IAT_REPLYTO}, Field{"Sender", IAT_SENDER}, Field{"From", IAT_FROM}}) {
        // A field that names nobody (absent, blank, or nothing the MIME library reads as
        // an address) passes the choice on; the chosen field's first entry decides.
        std::vector<std::string> entries = addressEntries(message, field.type);
        if (entries.empty())
            continue;
        AnswerRecipient result;
        std::string refusal = mailboxRefusal(entries[0]);
        if (refusal.empty() && isOwn(entries[0], ownAddresses(from)))
            refusal = "is the reply address itself";
        if (!refusal.empty()) {
            result.refusal =
                std::string(field.name) + " address '" + shown(entries[0]) + "' " + refusal;
            return result;
        }
        result.address = entries[0];
        return result;
    }
    return AnswerRecipient{{}, "no sender address"};
}

void sendHtmlMail(const std::string& from, const std::string& to, const std::string& subject,
                  const std::string& body, const std::string& text, AutoSubmitted kind,
                  const std::string& original) {
    std::string document = "<HTML><HEAD>"
                           "<META http-equiv=Content-Type content='text/html; charset=UTF-8'>"
                           "</HEAD><BODY>" +
                           body + "</BODY></HTML>";
    com_ptr<IOEMessage> sender;
    checkHr(createOEMessage(command(), sender.out(), timeLimit()),
            "cannot make the sending component");
    std::uint32_t handle = 0, result = 0;
    auto check = [&sender](HRESULT hr) {
        if (FAILED(hr))
            throw ComException(hr, sender->ErrorText());
    };
    check(sender->Create(0, 0, &handle));
    check(sender->SetBody(handle, utf8ToWide(document), "text", "html", &result));
    if (!text.empty())
        check(sender->SetBody(handle, utf8ToWide(text), "text", "plain", &result));
    check(sender->SetHeader(handle, PID_HDR_SUBJECT, utf8ToWide(subject), &result));
    check(sender->SetHeader(handle, PID_HDR_FROM, utf8ToWide(from), &result));
    check(sender->SetHeader(handle, PID_HDR_TO, utf8ToWide(to), &result));
    check(
        sender->SetExtraHeader(handle, "Auto-Submitted",
                               kind == AutoSubmitted::Replied ? "auto-replied" : "auto-generated"));
    if (!original.empty())
        check(sender->AttachMessage(handle, original));
    check(sender->Send(handle, &result));
}

std::string automaticMessageReason(IMimeMessage* message, const std::string& from) {
    // Several Auto-Submitted headers count one by one; a comment may stand anywhere and
    // parameters follow the keyword ("no; owner=x"): only the keyword says whether a
    // person sent it.
    for (const std::string& value : headerValues(message, "Auto-Submitted")) {
        std::string keyword = withoutComments(value);
        keyword = lowerText(trimText(keyword.substr(0, keyword.find(';'))));
        if (keyword != "no")
            return "Auto-Submitted: " + shown(keyword);
    }
    for (const std::string& value : headerValues(message, "Precedence")) {
        std::string precedence = lowerText(trimText(withoutComments(value)));
        if (precedence == "bulk" || precedence == "junk" || precedence == "list")
            return "Precedence: " + precedence;
    }
    for (const char* name :
         {"List-Id", "List-Unsubscribe", "List-Post", "X-Autoreply", "X-Autorespond"})
        if (!headerValues(message, name).empty())
            return std::string(name) + " header";
    for (const std::string& value : headerValues(message, "X-Auto-Response-Suppress"))
        for (const std::string& word : splitText(value, ",")) {
            std::string suppressed = lowerText(trimText(word));
            if (suppressed == "all" || suppressed == "autoreply" || suppressed == "oof")
                return "X-Auto-Response-Suppress: " + suppressed;
        }
    for (const std::string& value : headerValues(message, "Return-Path")) {
        std::string path = withoutComments(value);
        path.erase(std::remove_if(path.begin(), path.end(),
                                  [](unsigned char c) { return std::isspace(c); }),
                   path.end());
        if (path == "<>")
            return "empty Return-Path";
    }
    // The first mailbox of each sender field: who wrote it, who sent it, who wants the
    // answers (the answer's own checks refuse the rest of a hostile list).
    bool anyAddress = false;
    for (std::uint32_t type : {IAT_FROM, IAT_SENDER, IAT_REPLYTO}) {
        std::vector<std::string> entries = addressEntries(message, type);
        if (entries.empty() || entries[0].empty())
            continue;
        anyAddress = true;
        const std::string& address = entries[0];
        std::string local = lowerText(address.substr(0, address.rfind('@')));
        if (local == "postmaster" || local == "mailer-daemon" || local == "noreply" ||
            local == "no-reply" || local == "do-not-reply")
            return "sender " + shown(address);
    }
    // Our own mail coming back (a forward or an answer that reached the inbox).
    if (sentByReplyAddress(message, from))
        return "sent by the reply address itself";
    if (!anyAddress)
        return "no sender address";
    return {};
}

bool sentByReplyAddress(IMimeMessage* message, const std::string& from) {
    std::vector<std::string> own = ownAddresses(from);
    for (std::uint32_t type : {IAT_FROM, IAT_SENDER}) {
        std::vector<std::string> entries = addressEntries(message, type);
        if (!entries.empty() && !entries[0].empty() && isOwn(entries[0], own))
            return true;
    }
    return false;
}
