#pragma once

#include "platform/Mime.h"
#include "platform/Result.h"
#include "platform/Unknown.h"

#include <cstdint>
#include <string>

// The sending component: one instance per sent message. The operations are called in
// this order: Create, SetBody (once per type), SetHeader (subject, from, to),
// AttachMessage (optional), Send.
class IOEMessage : public IUnknown {
public:
    virtual HRESULT Create(std::uint32_t flags, std::uint32_t reserved, std::uint32_t* handle) = 0;
    // text is the whole body; primary/sub the MIME type ("text", "html"). Called for
    // "html" and for "plain" the mail carries both as alternatives, the plain text first.
    virtual HRESULT SetBody(std::uint32_t handle, const std::u16string& text, const char* primary,
                            const char* sub, std::uint32_t* result) = 0;
    // propId: the MIME layer's PID_HDR_SUBJECT, PID_HDR_FROM or PID_HDR_TO. "to" takes
    // addresses separated by ";" or ",".
    virtual HRESULT SetHeader(std::uint32_t handle, std::uint32_t propId,
                              const std::u16string& value, std::uint32_t* result) = 0;
    // Any other header (e.g. Auto-Submitted); line breaks in the value are dropped.
    virtual HRESULT SetExtraHeader(std::uint32_t handle, const char* name,
                                   const std::string& value) = 0;
    // A whole message (its bytes as they arrived) attached after the body as a
    // message/rfc822 part, unchanged; the mail becomes multipart/mixed.
    virtual HRESULT AttachMessage(std::uint32_t handle, const std::string& bytes) = 0;
    // Hands the whole mail to the command: written in full to an unlinked temporary file
    // first, which is the command's standard input, so that the command never reads a
    // mail cut off by the sender's end. Counts as sent only when the command exits 0
    // within the time limit; past it the command's process group is killed.
    virtual HRESULT Send(std::uint32_t handle, std::uint32_t* result) = 0;
    // Why the last failing call failed, naming the command and its exit status.
    virtual std::string ErrorText() = 0;
};

// $BREVALO_SENDMAIL when set, else "/usr/sbin/sendmail -t -oi".
std::string defaultSendmailCommand();

// How long the sending command may take for one mail, in seconds.
constexpr int sendmailSecondsDefault = 60;
constexpr int sendmailSecondsMost = 24 * 3600;
// $BREVALO_SENDMAIL_TIMEOUT when it is a whole number from 1 to sendmailSecondsMost, else
// sendmailSecondsDefault; a value that is not such a number is said in problem.
int defaultSendmailSeconds(std::string* problem = nullptr);

// A component that hands the message to command (split into words at blanks, no shell),
// killing it after timeLimitSeconds.
HRESULT createOEMessage(const std::string& command, IOEMessage** message,
                        int timeLimitSeconds = sendmailSecondsDefault);
