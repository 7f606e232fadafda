#include "sorting/OutgoingMail.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/Encoding.h"
#include "util/Text.h"
#include "platform/OEMessage.h"
#include "platform/profile/Loc.h"
#include "core/NeuronOut.h"
#include "mail/MessageText.h"

#include <ctime>

namespace {

std::string& command() {
    static std::string current = defaultSendmailCommand();
    return current;
}

// Date and time of day of the FILETIME without time-zone conversion, in the locale's
// short date and long time.
std::string timeText(const FILETIME& time) {
    DateTimeParts p = decodeDateTime(fileTimeToDateTime(time));
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    char buffer[128];
    std::size_t n = std::strftime(buffer, sizeof buffer, "%x %X", &tm);
    return std::string(buffer, n);
}

std::string row(const std::string& label, const std::string& value) {
    return "<tr><td>" + label + "</td><td>" + value + "</td>";
}

std::string localPart(const std::string& address) {
    std::string trimmed = trimText(address);
    std::size_t at = trimmed.find('@');
    return lowerText(at == std::string::npos ? trimmed : trimmed.substr(0, at));
}

std::string replyRecipient(IMimeMessage* message) {
    std::string to = addressText(message, IAT_REPLYTO, AFT_RFC822_EMAIL);
    if (to.empty())
        to = addressText(message, IAT_SENDER, AFT_RFC822_EMAIL);
    if (to.empty())
        to = addressText(message, IAT_FROM, AFT_RFC822_EMAIL);
    return to;
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
    if (!found.isHtml)
        body = textToHtml(body);

    ForwardBody result;
    result.subject = headerText(message, PID_HDR_SUBJECT);
    std::string table = "<table>";
    table += row(locText("mail.from"), escapeHtml(headerText(message, PID_HDR_FROM)));
    table += row(locText("mail.to"), escapeHtml(headerText(message, PID_HDR_TO)));
    FILETIME time;
    if (headerTime(message, PID_ATT_RECVTIME, &time))
        table += row(locText("mail.received"), timeText(time));
    if (headerTime(message, PID_HDR_DATE, &time))
        table += row(locText("mail.sent"), timeText(time));
    table += "<tr><td colspan=2>-----</td>";
    table += "</table>";
    result.body = table + body;
    return result;
}

std::string composeReplyText(const RefsPtr& folders) {
    std::string text = textToHtml(locText("mail.answer.header"));
    for (int i = 0; i < refsCount(folders); ++i) {
        auto* folder = (*folders)[static_cast<std::size_t>(i)].as<NeuronOut>();
        if (!folder)
            continue;
        std::string answer = folder->getAnswer();
        if (answer.empty())
            answer = locText("mail.answer.folder", folder->getName());
        text += textToHtml(trimText(answer)) + "<br><br>";
    }
    text += textToHtml(locText("mail.answer.footer"));
    return text;
}

void forwardMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders) {
    ForwardBody forward = composeForwardBody(message);
    for (int i = 0; i < refsCount(folders); ++i) {
        auto* folder = (*folders)[static_cast<std::size_t>(i)].as<NeuronOut>();
        if (!folder)
            continue;
        std::string to = joinTexts(folder->getEmails(), ";");
        if (to.empty())
            continue;
        sendHtmlMail(from, to, forward.subject, forward.body, AutoSubmitted::Generated);
    }
}

void replyToMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders) {
    ForwardBody forward = composeForwardBody(message);
    std::string reply = composeReplyText(folders);
    std::string to = replyRecipient(message);
    sendHtmlMail(from, to, forward.subject, "<p>" + reply + "</p>" + forward.body,
                 AutoSubmitted::Replied);
}

void sendHtmlMail(const std::string& from, const std::string& to, const std::string& subject,
                  const std::string& body, AutoSubmitted kind) {
    std::string document = "<HTML><HEAD>"
                           "<META http-equiv=Content-Type content='text/html; charset=UTF-8'>"
                           "</HEAD><BODY>" +
                           body + "</BODY></HTML>";
    com_ptr<IOEMessage> sender;
    checkHr(createOEMessage(command(), sender.out()), "CoCreateInstance error");
    std::uint32_t handle = 0, result = 0;
    auto check = [&sender](HRESULT hr) {
        if (FAILED(hr))
            throw ComException(hr, sender->ErrorText());
    };
    check(sender->Create(0, 0, &handle));
    check(sender->SetBody(handle, utf8ToWide(document), "text", "html", &result));
    check(sender->SetHeader(handle, PID_HDR_SUBJECT, utf8ToWide(subject), &result));
    check(sender->SetHeader(handle, PID_HDR_FROM, utf8ToWide(from), &result));
    check(sender->SetHeader(handle, PID_HDR_TO, utf8ToWide(to), &result));
    check(
        sender->SetExtraHeader(handle, "Auto-Submitted",
                               kind == AutoSubmitted::Replied ? "auto-replied" : "auto-generated"));
    check(sender->Send(handle, &result));
}

std::string automaticMessageReason(IMimeMessage* message) {
    // The keyword may be followed by parameters or a comment ("no; x=y", "no (person)"):
    // only the keyword says whether a person sent it.
    std::string autoSubmitted = lowerText(trimText(namedHeaderText(message, "Auto-Submitted")));
    autoSubmitted = trimText(autoSubmitted.substr(0, autoSubmitted.find_first_of(";(")));
    if (!autoSubmitted.empty() && autoSubmitted != "no")
        return "Auto-Submitted: " + autoSubmitted;
    std::string precedence = lowerText(trimText(namedHeaderText(message, "Precedence")));
    if (precedence == "bulk" || precedence == "junk" || precedence == "list")
        return "Precedence: " + precedence;
    std::string to = replyRecipient(message);
    if (trimText(to).empty())
        return "no sender address";
    for (const std::string& address : splitText(to, ","))
        if (localPart(address) == "mailer-daemon")
            return "sender " + trimText(address);
    return {};
}
