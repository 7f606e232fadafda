#pragma once

#include "util/Refs.h"
#include "platform/Mime.h"

#include <string>

// The mail the sorter sends of its own: forwards to a folder's relevant persons and
// automatic answers to the sender. Both are HTML: the answer text (replies only), a
// table of the arrived message's header fields, then its body.

// The command the sending component pipes each message to; set once at start-up
// (defaultSendmailCommand() unless set).
void setSendmailCommand(const std::string& command);
const std::string& sendmailCommand();

struct ForwardBody {
    std::string subject; // the arrived message's subject, unchanged (UTF-8)
    std::string body;    // the header table followed by the body, HTML (UTF-8)
};

// The header table and the arrived message's body (HTML unchanged, plain text
// converted with textToHtml).
ForwardBody composeForwardBody(IMimeMessage* message);
// The localised header, one answer block per chosen folder (each followed by
// "<br><br>"), the localised footer.
std::string composeReplyText(const RefsPtr& folders);

// One message per chosen folder that has addresses, to all of them at once.
void forwardMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders);
// One answer to Reply-To, else Sender, else From.
void replyToMessage(IMimeMessage* message, const std::string& from, const RefsPtr& folders);

// What the Auto-Submitted header of a sent message says.
enum class AutoSubmitted { Generated, Replied };

// Wraps body into the sent document and sends it; every failure raises ComException
// whose text says what failed (the command and its exit status for sending).
void sendHtmlMail(const std::string& from, const std::string& to, const std::string& subject,
                  const std::string& body, AutoSubmitted kind);

// Why a message must not be answered automatically (an automatic message itself: an
// Auto-Submitted header other than "no", Precedence bulk/junk/list, an empty or
// mailer-daemon sender), or empty when it may be. Answering such mail could make two
// automatic responders mail each other for ever.
std::string automaticMessageReason(IMimeMessage* message);
