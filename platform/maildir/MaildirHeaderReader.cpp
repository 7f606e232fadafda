#include "platform/maildir/MaildirHeaderReader.h"

#include "util/Log.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <gmime/gmime.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

constexpr size_t headerLimit = 256 * 1024;

void initialiseGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// The end of the header block: the first empty line (LF LF or CR LF CR LF), or npos.
size_t headerEnd(const std::string& text, size_t from) {
    if (text.rfind("\r\n", 0) == 0)
        return 0;
    size_t start = from > 3 ? from - 3 : 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] != '\n')
            continue;
        if (i == 0)
            return 0;
        if (i + 1 < text.size() && text[i + 1] == '\n')
            return i + 1;
        if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n')
            return i + 1;
    }
    return std::string::npos;
}

// The unfolded raw value of the first header of that name, or false.
bool headerValue(const std::string& block, const char* name, std::string* value) {
    size_t nameLength = std::strlen(name);
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find('\n', pos);
        if (end == std::string::npos)
            end = block.size();
        if (end - pos > nameLength && block[pos + nameLength] == ':' &&
            strncasecmp(block.c_str() + pos, name, nameLength) == 0) {
            std::string raw = block.substr(pos + nameLength + 1, end - pos - nameLength - 1);
            // Continuation lines start with white space.
            while (end + 1 < block.size() && (block[end + 1] == ' ' || block[end + 1] == '\t')) {
                size_t next = block.find('\n', end + 1);
                if (next == std::string::npos)
                    next = block.size();
                raw += block.substr(end + 1, next - end - 1);
                end = next;
            }
            raw.erase(std::remove(raw.begin(), raw.end(), '\r'), raw.end());
            size_t first = raw.find_first_not_of(" \t");
            *value = first == std::string::npos ? std::string() : raw.substr(first);
            return true;
        }
        pos = end + 1;
    }
    return false;
}

std::string takeString(char* text) {
    if (!text)
        return {};
    std::string result = text;
    g_free(text);
    return result;
}

} // namespace

void MaildirHeaderReader::parse(const std::string& headerBlock, std::string* subject,
                                std::string* from) {
    initialiseGMime();
    subject->clear();
    from->clear();
    GMimeParserOptions* options = g_mime_parser_options_new();
    std::string raw;
    if (headerValue(headerBlock, "Subject", &raw))
        *subject = takeString(g_mime_utils_header_decode_text(options, raw.c_str()));
    if (headerValue(headerBlock, "From", &raw)) {
        InternetAddressList* list = internet_address_list_parse(options, raw.c_str());
        InternetAddress* address = nullptr;
        if (list && internet_address_list_length(list) > 0)
            address = internet_address_list_get_address(list, 0);
        // A group ("Team: a@b, c@d;") shows its name, else its first member.
        while (address) {
            const char* name = internet_address_get_name(address);
            if (name && *name) {
                *from = name;
                break;
            }
            if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
                *from = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
                break;
            }
            InternetAddressList* members =
                internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address));
            address = members && internet_address_list_length(members) > 0
                          ? internet_address_list_get_address(members, 0)
                          : nullptr;
        }
        if (from->empty())
            *from = takeString(g_mime_utils_header_decode_text(options, raw.c_str()));
        if (list)
            g_object_unref(list);
    }
    g_mime_parser_options_free(options);
}

HRESULT MaildirHeaderReader::read(const std::string& path, MESSAGEPROPS* props) {
    // Only a regular file is read: a FIFO would block the opening, a symbolic link lead
    // out of the store.
    int fd = sysCalls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0);
    if (fd < 0) {
        return sysError("open(" + path + ")");
    }
    struct stat st {};
    if (sysCalls().fstat(fd, &st) != 0) {
        int error = errno;
        debugLog("%s", sysFailure("fstat(" + path + ")", error).c_str());
        sysCalls().close(fd);
        return hresultFromErrno(error);
    }
    if (!S_ISREG(st.st_mode)) {
        debugLog("not reading %s: not a regular file", path.c_str());
        sysCalls().close(fd);
        return hresultFromErrno(EINVAL);
    }
    std::string block;
    size_t end = std::string::npos;
    // Small pieces: most header blocks end within the first.
    if (readPieces(fd, -1, 8192, [&](const char* data, size_t size) {
            size_t before = block.size();
            block.append(data, size);
            end = headerEnd(block, before);
            return end == std::string::npos && block.size() < headerLimit;
        }) != 0) {
        int error = errno;
        debugLog("%s", sysFailure("read(" + path + ")", error).c_str());
        sysCalls().close(fd);
        return hresultFromErrno(error);
    }
    sysCalls().close(fd);
    if (end != std::string::npos)
        block.resize(end);
    parse(block, &props->pszSubject, &props->pszDisplayFrom);
    props->ftReceived = fileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return S_OK;
}
