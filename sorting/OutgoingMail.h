#pragma once

#include "util/Refs.h"
#include "platform/Mime.h"

#include <cstdint>
#include <string>

// The mail the sorter sends of its own: forwards to a folder's relevant persons and
// automatic answers to the sender. Both are HTML with the same in plain text as its
// alternative: the answer text (replies only), a table of the arrived message's header
// fields (times as in a mail's Date field), then its body; a forward carries the arrived
// message itself too, whole, as an attached message/rfc822 part.

// The command the sending component hands each message to; set once at start-up
// (defaultSendmailCommand() unless set).
void setSendmailCommand(const std::string& command);
const std::string& sendmailCommand();

struct ForwardBody {
    std::string subject; // the arrived message's subject, unchanged (UTF-8)
    std::string body;    // the header table followed by the body, HTML (UTF-8)
    std::string text;    // the same as plain text: "label value" lines, "-----", the body
};

// The header table and the arrived message's body (HTML unchanged, plain text
// converted with textToHtml).
ForwardBody composeForwardBody(IMimeMessage* message);
// The localised header, one answer block per chosen folder (each followed by
// "<br><br>"), the localised footer.
std::string composeReplyText(const RefsPtr& folders);
// The same as plain text, each answer block followed by an empty line.
std::string composeReplyPlainText(const RefsPtr& folders);

class SentMailRecord;

// The arrived message the mail is sent for, as the sent-mail record knows it. Without a
// record (null) every mail is sent as it comes.
struct SendingFor {
    SentMailRecord* record = nullptr;
    std::uint32_t messageId = 0;
    // The sorter gives a mail up after its second failure; a delivery leaves that to the
    // transfer agent, which tries the message until it bounces it.
    bool attemptsLimited = true;
};

// What became of the mail sent for an arrived message. A mail counts as sent only when
// its sending command said so (exit status 0); one the record shows handed over without
// that is not sent again, and the message must stay where its owner sees it.
struct MailSent {
    // Why the arrived message must stay in the inbox (a mail that may or may not have
    // gone out, or one given up after its second failure); empty when it need not.
    std::string keep;
    bool keepMessage() const { return !keep.empty(); }
};

// One message per chosen folder that has addresses, to all of them at once (only the
// addresses typed for the folder). A failure to send raises ComException.
MailSent forwardMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders,
                        const SendingFor& sending = {});
// One answer to answerRecipient(), nothing when it refuses.
MailSent replyToMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders,
                        const SendingFor& sending = {});

// The one mailbox an answer goes to: the first entry of Reply-To, else (when that field
// names no address) of Sender, else of From; it must be an addr-spec whose local part
// is a dot-atom not starting with "|" or "/" and whose domain is a host name with a dot,
// and not the reply address (from) itself. Otherwise address is empty and refusal says
// why.
struct AnswerRecipient {
    std::string address;
    std::string refusal;
};
AnswerRecipient answerRecipient(IMimeMessage* message, const std::string& from);

// What the Auto-Submitted header of a sent message says.
enum class AutoSubmitted { Generated, Replied };

// Wraps body into the sent document and sends it, with text as its plain-text
// alternative when not empty and original (the arrived message's bytes) attached when not
// empty; every failure raises ComException whose text says what failed (the command and
// its exit status for sending).
void sendHtmlMail(const std::string& from, const std::string& to, const std::string& subject,
                  const std::string& body, const std::string& text, AutoSubmitted kind,
                  const std::string& original = {});

// Why a message must not be answered automatically, or empty when it may be: it is
// automatic mail itself (an Auto-Submitted header other than "no", Precedence bulk, junk
// or list, a mailing list's List-Id, List-Unsubscribe or List-Post, an empty
// Return-Path, X-Autoreply, X-Autorespond, X-Auto-Response-Suppress with All, AutoReply
// or OOF), its sender is a system mailbox (postmaster, mailer-daemon, noreply, no-reply,
// do-not-reply), or it comes from the reply address (from) itself. Answering such mail
// could make two automatic responders mail each other for ever.
std::string automaticMessageReason(IMimeMessage* message, const std::string& from);
// Whether the first address of From or Sender is the reply address (from): mail the
// sorter sent itself.
bool sentByReplyAddress(IMimeMessage* message, const std::string& from);
