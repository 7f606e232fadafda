#pragma once

#include "platform/OEMessage.h"

#include <string>
#include <utility>
#include <vector>

// The sending component over a sendmail-compatible command: the message is built as
// RFC 5322 with GMime (headers encoded where they need it, the address lists written
// by the MIME library, never pasted), written whole to an unlinked temporary file and
// that file given to the command as its standard input.
class SendmailMessage : public ComObject<IOEMessage> {
public:
    explicit SendmailMessage(std::string command, int timeLimitSeconds = sendmailSecondsDefault);

    HRESULT Create(std::uint32_t flags, std::uint32_t reserved, std::uint32_t* handle) override;
    HRESULT SetBody(std::uint32_t handle, const std::u16string& text, const char* primary,
                    const char* sub, std::uint32_t* result) override;
    HRESULT SetHeader(std::uint32_t handle, std::uint32_t propId, const std::u16string& value,
                      std::uint32_t* result) override;
    HRESULT SetExtraHeader(std::uint32_t handle, const char* name,
                           const std::string& value) override;
    HRESULT AttachMessage(std::uint32_t handle, const std::string& bytes) override;
    HRESULT Send(std::uint32_t handle, std::uint32_t* result) override;
    std::string ErrorText() override { return error; }

    // The whole message as it would be piped (for tests and the log).
    std::string render();

private:
    HRESULT fail(HRESULT hr, std::string text);
    bool validHandle(std::uint32_t handle);

    std::string command;
    int timeLimitSeconds;
    bool created = false;
    std::string bodyType = "text";
    std::string bodySubtype = "html";
    std::string body;
    std::string plainBody; // the plain-text alternative of an HTML body; empty when none
    std::string subject, from, to;
    std::string attached; // an arrived message, whole; empty when none
    std::vector<std::pair<std::string, std::string>> extraHeaders;
    std::string error;
};
