#include "platform/sendmail/SendmailMessage.h"

#include "util/Encoding.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/sendmail/ChildProcess.h"

#include <gmime/gmime.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t messageHandle = 1;

struct GObjectFree {
    void operator()(void* p) const {
        if (p)
            g_object_unref(p);
    }
};
template <class T> using GPtr = std::unique_ptr<T, GObjectFree>;

void initGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// Strangers' text must never start a header of its own: line breaks become blanks.
std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

std::vector<std::string> commandWords(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    for (char c : command) {
        if (c == ' ' || c == '\t') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

// Addresses separated by ";" or "," are parsed one by one by the MIME library; what
// does not parse as an address is dropped.
void addAddresses(InternetAddressList* list, const std::string& text) {
    std::string piece;
    bool quoted = false;
    auto flush = [&] {
        std::string trimmed = trimText(piece);
        piece.clear();
        if (trimmed.empty())
            return;
        GPtr<InternetAddressList> parsed(internet_address_list_parse(nullptr, trimmed.c_str()));
        if (!parsed)
            return;
        for (int i = 0; i < internet_address_list_length(parsed.get()); ++i) {
            InternetAddress* address = internet_address_list_get_address(parsed.get(), i);
            if (INTERNET_ADDRESS_IS_MAILBOX(address) &&
                !std::string(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)))
                     .empty())
                internet_address_list_add(list, address);
        }
    };
    for (char c : oneLine(text)) {
        if (c == '"')
            quoted = !quoted;
        if (!quoted && (c == ';' || c == ',')) {
            flush();
            continue;
        }
        piece += c;
    }
    flush();
}

// The transfer encoding that leaves bytes as they are: 7bit for short ASCII lines, 8bit
// with other bytes but no NUL, binary else (a message/rfc822 part may not be encoded).
GMimeContentEncoding identityEncoding(const std::string& bytes) {
    bool eightBit = false;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0)
            return GMIME_CONTENT_ENCODING_BINARY;
        if (c >= 0x80)
            eightBit = true;
        if (c == '\n') {
            if (i - lineStart > 998)
                return GMIME_CONTENT_ENCODING_BINARY;
            lineStart = i + 1;
        }
    }
    if (bytes.size() - lineStart > 998)
        return GMIME_CONTENT_ENCODING_BINARY;
    return eightBit ? GMIME_CONTENT_ENCODING_8BIT : GMIME_CONTENT_ENCODING_7BIT;
}

// An unlinked file holding text, rewound; -1 with the reason in error when it cannot be
// written whole.
int temporaryFileWith(const std::string& text, std::string& error) {
    const char* variable = std::getenv("TMPDIR");
    std::string folder = variable && *variable == '/' ? variable : "/tmp";
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without O_TMPFILE: a named file, unlinked at once.
        std::string name = folder + "/brevalo-mail-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.c_str());
    }
    if (fd < 0) {
        error = "cannot make a temporary file in " + folder + ": " + std::strerror(errno);
        return -1;
    }
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "write(temporary file in " + folder +
                    ") failed: " + std::strerror(n < 0 ? errno : ENOSPC);
            ::close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        error = "lseek(temporary file in " + folder + ") failed: " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int defaultSendmailSeconds(std::string* problem) {
    const char* text = std::getenv("BREVALO_SENDMAIL_TIMEOUT");
    if (!text || !*text)
        return sendmailSecondsDefault;
    char* end = nullptr;
    errno = 0;
    long seconds = std::strtol(text, &end, 10);
    if (errno == 0 && *end == '\0' && seconds >= 1 && seconds <= sendmailSecondsMost)
        return static_cast<int>(seconds);
    if (problem)
        *problem = formatString("BREVALO_SENDMAIL_TIMEOUT '%.40s' is not a number of seconds "
                                "from 1 to %d; the sending command gets %d seconds",
                                text, sendmailSecondsMost, sendmailSecondsDefault);
    return sendmailSecondsDefault;
}

std::string defaultSendmailCommand() {
    const char* command = std::getenv("BREVALO_SENDMAIL");
    if (command && *command)
        return command;
    return "/usr/sbin/sendmail -t -oi";
}

HRESULT createOEMessage(const std::string& command, IOEMessage** message, int timeLimitSeconds) {
    if (!message)
        return E_POINTER;
    *message = new SendmailMessage(command, timeLimitSeconds);
    return S_OK;
}

SendmailMessage::SendmailMessage(std::string command, int timeLimitSeconds)
    : command(std::move(command)), timeLimitSeconds(timeLimitSeconds) {
    initGMime();
}

HRESULT SendmailMessage::fail(HRESULT hr, std::string text) {
    error = std::move(text);
    debugLog("%s", error.c_str());
    return hr;
}

bool SendmailMessage::validHandle(std::uint32_t handle) {
    return created && handle == messageHandle;
}

HRESULT SendmailMessage::Create(std::uint32_t, std::uint32_t, std::uint32_t* handle) {
    if (!handle)
        return E_POINTER;
    created = true;
    *handle = messageHandle;
    return S_OK;
}

HRESULT SendmailMessage::SetBody(std::uint32_t handle, const std::u16string& text,
                                 const char* primary, const char* sub, std::uint32_t* result) {
    if (!validHandle(handle))
        return fail(E_INVALIDARG, "SetBody: no message created");
    std::string type = primary ? primary : "text", subtype = sub ? sub : "plain";
    // A plain text beside an HTML body is its alternative, in whichever order they come.
    bool alternative = type == "text" && (subtype == "plain" || subtype == "html") &&
                       bodyType == "text" && bodySubtype != subtype && !body.empty();
    if (alternative && subtype == "plain") {
        plainBody = wideToUtf8(text);
    } else {
        if (alternative)
            plainBody = std::move(body);
        else
            plainBody.clear();
        body = wideToUtf8(text);
        bodyType = type;
        bodySubtype = subtype;
    }
    if (result)
        *result = 0;
    return S_OK;
}

HRESULT SendmailMessage::SetHeader(std::uint32_t handle, std::uint32_t propId,
                                   const std::u16string& value, std::uint32_t* result) {
    if (!validHandle(handle))
        return fail(E_INVALIDARG, "SetHeader: no message created");
    std::string text = wideToUtf8(value);
    switch (propId) {
    case PID_HDR_SUBJECT:
        subject = oneLine(text);
        break;
    case PID_HDR_FROM:
        from = text;
        break;
    case PID_HDR_TO:
        to = text;
        break;
    default:
        return fail(E_INVALIDARG, formatString("SetHeader: unknown header %u", propId));
    }
    if (result)
        *result = 0;
    return S_OK;
}

HRESULT SendmailMessage::SetExtraHeader(std::uint32_t handle, const char* name,
                                        const std::string& value) {
    if (!validHandle(handle) || !name || !*name)
        return fail(E_INVALIDARG, "SetExtraHeader: no message created");
    extraHeaders.emplace_back(oneLine(name), oneLine(value));
    return S_OK;
}

HRESULT SendmailMessage::AttachMessage(std::uint32_t handle, const std::string& bytes) {
    if (!validHandle(handle))
        return fail(E_INVALIDARG, "AttachMessage: no message created");
    attached = bytes;
    return S_OK;
}

std::string SendmailMessage::render() {
    GPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    addAddresses(g_mime_message_get_from(message.get()), from);
    addAddresses(g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_TO), to);
    g_mime_message_set_subject(message.get(), subject.c_str(), "utf-8");
    GDateTime* now = g_date_time_new_now_local();
    g_mime_message_set_date(message.get(), now);
    g_date_time_unref(now);
    char host[256] = "localhost";
    gethostname(host, sizeof host - 1);
    char* id = g_mime_utils_generate_message_id(host);
    g_mime_message_set_message_id(message.get(), id);
    g_free(id);
    for (const auto& [name, value] : extraHeaders)
        g_mime_object_set_header(GMIME_OBJECT(message.get()), name.c_str(), value.c_str(), "utf-8");

    auto textPart = [](const char* subtype, const std::string& text) {
        GPtr<GMimeTextPart> part(g_mime_text_part_new_with_subtype(subtype));
        g_mime_text_part_set_text(part.get(), text.c_str());
        g_mime_text_part_set_charset(part.get(), "utf-8");
        g_mime_object_encode(GMIME_OBJECT(part.get()), GMIME_ENCODING_CONSTRAINT_7BIT);
        return GPtr<GMimeObject>(GMIME_OBJECT(part.release()));
    };
    GPtr<GMimeObject> part = textPart(bodySubtype.c_str(), body);
    if (!plainBody.empty()) {
        // The plain text first: a reader shows the last alternative it can.
        GPtr<GMimeMultipart> alternative(g_mime_multipart_new_with_subtype("alternative"));
        g_mime_multipart_add(alternative.get(), textPart("plain", plainBody).get());
        g_mime_multipart_add(alternative.get(), part.get());
        part.reset(GMIME_OBJECT(alternative.release()));
    }
    if (attached.empty()) {
        g_mime_message_set_mime_part(message.get(), part.get());
    } else {
        // The arrived message as its bytes, not parsed and written again: what arrives
        // is what was forwarded, attachments and all.
        GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), part.get());
        GPtr<GMimePart> original(g_mime_part_new_with_type("message", "rfc822"));
        GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
            reinterpret_cast<const char*>(attached.data()), attached.size()));
        GPtr<GMimeDataWrapper> content(
            g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
        g_mime_part_set_content(original.get(), content.get());
        g_mime_part_set_content_encoding(original.get(), identityEncoding(attached));
        g_mime_object_set_disposition(GMIME_OBJECT(original.get()), "inline");
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(original.get()));
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }

    char* text = g_mime_object_to_string(GMIME_OBJECT(message.get()), nullptr);
    std::string rendered = text ? text : "";
    g_free(text);
    return rendered;
}

HRESULT SendmailMessage::Send(std::uint32_t handle, std::uint32_t* result) {
    if (!validHandle(handle))
        return fail(E_INVALIDARG, "Send: no message created");
    if (result)
        *result = 0;
    {
        GPtr<InternetAddressList> recipients(internet_address_list_new());
        addAddresses(recipients.get(), to);
        if (internet_address_list_length(recipients.get()) == 0)
            return fail(E_INVALIDARG, "sendmail: no recipient address in '" + oneLine(to) + "'");
    }
    std::vector<std::string> argv = commandWords(command);
    std::string written;
    int input = temporaryFileWith(render(), written);
    if (input < 0)
        return fail(E_FAIL, "the mail was not handed to '" + command + "': " + written);
    ChildProcess::Result run = ChildProcess::run(argv, input, timeLimitSeconds);
    ::close(input);
    if (!run.started)
        return fail(E_FAIL,
                    "sendmail command '" + command + "' could not be started: " + run.failure);
    if (run.timedOut)
        return fail(SEND_E_OUTCOME_UNKNOWN,
                    formatString("sendmail command '%s' did not end within %d seconds "
                                 "and was killed: %s",
                                 command.c_str(), timeLimitSeconds,
                                 trimText(run.errorOutput).c_str()));
    if (run.signal)
        return fail(SEND_E_OUTCOME_UNKNOWN,
                    formatString("sendmail command '%s' was killed by signal %d: %s",
                                 command.c_str(), run.signal, trimText(run.errorOutput).c_str()));
    if (run.statusUnknown)
        return fail(SEND_E_OUTCOME_UNKNOWN,
                    formatString("sendmail command '%s' ended without telling how (SIGCHLD is "
                                 "ignored): %s",
                                 command.c_str(), trimText(run.errorOutput).c_str()));
    if (run.exitStatus != 0)
        return fail(E_FAIL,
                    formatString("sendmail command '%s' exited with status %d: %s", command.c_str(),
                                 run.exitStatus, trimText(run.errorOutput).c_str()));
    return S_OK;
}
