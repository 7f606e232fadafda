#pragma once

#include "util/ComPtr.h"
#include "util/DateTime.h"
#include "util/Encoding.h"
#include "platform/Mime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A message's body text and header values as the program uses them. Failures of the
// MIME layer raise ComException unless a function says otherwise.

struct MessageBody {
    bool found = false;  // false: the message has neither an HTML nor a plain-text body
    bool isHtml = false; // the text is the HTML body (else the plain-text body)
    WideString text;     // CR LF line ends
};

// The HTML body when there is one, else the plain-text body; at most maxUnits UTF-16
// units of it (the rest is not read).
MessageBody messageBody(IMimeMessage* message, std::size_t maxUnits = std::size_t(-1));

// The most characters of a body (HTML source or plain text) that messageText reads; the
// rest of a larger body is not read.
constexpr std::size_t maxClassifiedText = std::size_t(4) << 20;

// The text the classifier reads: the HTML body turned into its visible text, else the
// plain-text body unchanged; in the system code page (characters it lacks become "?").
// Only the first maxClassifiedText characters of the body count, ending before a word
// the limit would cut. Empty for a message
// without a body.
std::string messageText(IMimeBody* message);

// The text of a stimulation's header field (a HeaderField key): the decoded values of
// the fields it reads, one per line, each cut to HeaderField::maxFieldText bytes.
std::string headerFieldText(IMimeMessage* message, const std::string& key);

// What the classifier reads of a message: messageText, with the texts of the header
// fields named by `fields` (HeaderField keys) attached; messageText alone without fields.
std::string classifiedText(IMimeMessage* message, const std::vector<std::string>& fields);

// A header's decoded value as UTF-8 (PID_HDR_SUBJECT, PID_HDR_FROM, PID_HDR_TO); empty
// when absent.
std::string headerText(IMimeMessage* message, std::uint32_t header);

// A header time (PID_ATT_RECVTIME, PID_HDR_DATE); false when absent.
bool headerTime(IMimeMessage* message, std::uint32_t header, FILETIME* time);

// The addresses of one type (IAT_REPLYTO, IAT_SENDER, IAT_FROM) in the format asked
// (AFT_RFC822_EMAIL: bare addresses, ", " between), as the MIME layer gives them (UTF-8);
// empty when absent.
std::string addressText(IMimeMessage* message, std::uint32_t type, std::uint32_t format);

// Any header's decoded value by name (Auto-Submitted, Precedence, ...); empty when absent.
std::string namedHeaderText(IMimeMessage* message, const char* name);

// The MIME layer's allocator; a failure raises.
com_ptr<IMimeAllocator> mimeAllocator();
