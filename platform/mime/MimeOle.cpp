// The MIME layer's free functions of platform/Mime.h.
#include "platform/Mime.h"

#include "platform/mime/GMimeLibrary.h"
#include "platform/mime/GObjectRef.h"
#include "platform/mime/MimeAllocator.h"
#include "platform/mime/MimeBody.h"
#include "platform/mime/MimeMessage.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

GObjectRef<GMimeMessage> parse(GMimeStream* stream) {
    GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    return GObjectRef<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

// The top part of a message as the message parser makes it, for a header block of
// Content- fields only (what withContentFieldsOnly leaves); null when the parser finds
// none.
GObjectRef<GMimeObject> parseTop(GMimeStream* stream) {
    GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    return GObjectRef<GMimeObject>(g_mime_parser_construct_part(parser.get(), nullptr));
}

// Parses the stream with parse; when it finds no header block GMime accepts (binary
// garbage, an empty file, a first line without a colon), parses the bytes again as the
// body of a message without headers, as a mail client shows such a file, rather than
// losing the message.
GObjectRef<GMimeMessage> parseOrKeepAsBody(GMimeStream* stream) {
    GObjectRef<GMimeMessage> parsed = parse(stream);
    if (!parsed) {
        g_mime_stream_reset(stream);
        GObjectRef<GMimeStream> joined(g_mime_stream_cat_new());
        GObjectRef<GMimeStream> blank(g_mime_stream_mem_new_with_buffer("\n", 1));
        g_mime_stream_cat_add_source(GMIME_STREAM_CAT(joined.get()), blank.get());
        g_mime_stream_cat_add_source(GMIME_STREAM_CAT(joined.get()), stream);
        parsed = parse(joined.get());
    }
    return parsed;
}

// A stream over a copy of the bytes; null when there is no memory for it.
GObjectRef<GMimeStream> streamOf(std::string_view bytes) {
    auto* data = static_cast<guint8*>(g_try_malloc(bytes.size() + 1));
    if (!data)
        return {};
    std::memcpy(data, bytes.data(), bytes.size());
    return GObjectRef<GMimeStream>(
        g_mime_stream_mem_new_with_byte_array(g_byte_array_new_take(data, bytes.size())));
}

// The length of the field name at the start of the line when a colon follows it at once
// (printable characters other than the colon); 0 when the line is no such field.
std::size_t fieldNameLength(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && line[at] > ' ' && line[at] < 0x7f && line[at] != ':')
        ++at;
    return at < line.size() && line[at] == ':' ? at : 0;
}

// The message with only the Content- fields of its own header (and their folded lines)
// kept: the parser turns every field into an object, some thirty per message, and the top
// part's text needs none but those. Empty when the header block is not plainly formed
// (every line a field or a folded line, no NUL, ended by an empty line): then the parser
// must see the message as it is.
std::string withContentFieldsOnly(std::string_view bytes) {
    std::string kept;
    kept.reserve(bytes.size());
    bool keeping = false;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos)
            return {}; // no end of the header block
        std::string_view line = bytes.substr(at, end + 1 - at);
        if (line.find('\0') != std::string_view::npos)
            return {};
        if (line == "\n" || line == "\r\n") {
            if (at == 0)
                return {}; // no header at all
            kept.append(bytes.substr(at));
            return kept;
        }
        if (line.find_first_not_of(" \t\r\n") == std::string_view::npos)
            return {}; // a blank line of spaces: parsers differ on it
        if (line[0] == ' ' || line[0] == '\t') {
            if (at == 0)
                return {};
        } else {
            std::size_t name = fieldNameLength(line);
            if (name == 0)
                return {};
            keeping = name >= 8 && g_ascii_strncasecmp(line.data(), "Content-", 8) == 0;
        }
        if (keeping)
            kept.append(line);
        at = end + 1;
    }
    return {};
}

// Takes over a g_malloc'ed buffer.
HRESULT createMessage(guint8* data, std::size_t size, const FILETIME& received,
                      IMimeMessage** message) {
    GMimeLibrary::initialise();
    GByteArray* array = g_byte_array_new_take(data, size);
    GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(array));
    GObjectRef<GMimeMessage> parsed = parseOrKeepAsBody(stream.get());
    if (!parsed)
        return E_FAIL;
    *message = new MimeMessage(std::move(parsed), received, std::move(stream));
    return S_OK;
}

} // namespace

HRESULT PropVariantClear(PROPVARIANT* value) {
    if (!value)
        return E_POINTER;
    value->vt = VT_EMPTY;
    value->pwszVal.clear();
    value->pwszVal.shrink_to_fit();
    value->filetime = FILETIME{};
    return S_OK;
}

HRESULT MimeOleGetAllocator(IMimeAllocator** allocator) {
    if (!allocator)
        return E_POINTER;
    *allocator = MimeAllocator::instance();
    return S_OK;
}

HRESULT MimeOleCreateMessage(const std::string& bytes, const FILETIME& received,
                             IMimeMessage** message) {
    if (!message)
        return E_POINTER;
    *message = nullptr;
    auto* data = static_cast<guint8*>(g_try_malloc(bytes.size() + 1));
    if (!data)
        return E_OUTOFMEMORY;
    std::memcpy(data, bytes.data(), bytes.size());
    return createMessage(data, bytes.size(), received, message);
}

HRESULT MimeOleCreateBody(const std::string& bytes, IMimeBody** body) {
    if (!body)
        return E_POINTER;
    *body = nullptr;
    GMimeLibrary::initialise();
    GObjectRef<GMimeStream> stream;
    GObjectRef<GMimeObject> top;
    std::string reduced = withContentFieldsOnly(bytes);
    if (!reduced.empty()) {
        stream = streamOf(reduced);
        if (!stream)
            return E_OUTOFMEMORY;
        top = parseTop(stream.get());
    }
    if (!top) {
        // A header block that is not plainly formed gets the whole parse: the message
        // parser has ways of its own with it (it skips a mailbox's "From " line, keeps
        // garbage as the body). A message without a top part has no text bodies.
        stream = streamOf(bytes);
        if (!stream)
            return E_OUTOFMEMORY;
        GObjectRef<GMimeMessage> message = parseOrKeepAsBody(stream.get());
        if (!message)
            return E_FAIL;
        top = GObjectRef<GMimeObject>::share(g_mime_message_get_mime_part(message.get()));
    }
    *body = new MimeBody(std::move(top), std::move(stream));
    return S_OK;
}

HRESULT MimeOleLoadMessageFile(const std::string& path, const FILETIME& received,
                               IMimeMessage** message) {
    if (!message)
        return E_POINTER;
    *message = nullptr;
    // Only a regular file is read: a FIFO would block the opening, a symbolic link lead
    // out of the store.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return hresultFromErrno(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        int error = S_ISDIR(info.st_mode) ? EISDIR : info.st_mode ? EINVAL : errno;
        ::close(fd);
        return hresultFromErrno(error);
    }
    // The size is a hint only: the file may change while it is read.
    std::size_t capacity = static_cast<std::size_t>(info.st_size) + 1;
    auto* data = static_cast<guint8*>(g_try_malloc(capacity));
    if (!data) {
        ::close(fd);
        return E_OUTOFMEMORY;
    }
    std::size_t size = 0;
    for (;;) {
        if (size == capacity) {
            capacity *= 2;
            auto* grown = static_cast<guint8*>(g_try_realloc(data, capacity));
            if (!grown) {
                g_free(data);
                ::close(fd);
                return E_OUTOFMEMORY;
            }
            data = grown;
        }
        ssize_t n = ::read(fd, data + size, capacity - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            g_free(data);
            ::close(fd);
            return hresultFromErrno(error);
        }
        if (n == 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return createMessage(data, size, received, message);
}

HRESULT MimeOleParseAddressEntries(const std::string& text, std::vector<std::string>* entries) {
    if (!entries)
        return E_POINTER;
    entries->clear();
    GMimeLibrary::initialise();
    GObjectRef<InternetAddressList> list(internet_address_list_parse(nullptr, text.c_str()));
    MimeMessage::listEntries(list.get(), *entries);
    return S_OK;
}

std::string MimeOleDeliveryDigest(const std::string& message) {
    static const std::string_view traces[] = {"return-path", "delivered-to", "x-original-to",
                                              "envelope-to", "delivery-date"};
    std::string kept;
    kept.reserve(message.size());
    bool dropping = false;
    std::size_t at = 0;
    while (at < message.size()) {
        std::size_t end = message.find('\n', at);
        end = end == std::string::npos ? message.size() : end + 1;
        std::string_view line(message.data() + at, end - at);
        if (line == "\n" || line == "\r\n") {
            kept.append(message, at, std::string::npos); // the body, as it is
            break;
        }
        if (line[0] != ' ' && line[0] != '\t') {
            std::string name(line.substr(0, std::min(line.find(':'), line.size())));
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
                name.pop_back();
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            dropping = std::find(std::begin(traces), std::end(traces), name) != std::end(traces);
        }
        if (!dropping)
            kept.append(line);
        at = end;
    }
    return MimeOleDigest(kept.data(), kept.size());
}

std::string MimeOleDigest(const void* data, std::size_t size) {
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, static_cast<const guchar*>(data),
                                             static_cast<gsize>(size));
    std::string digest = hex ? hex : "";
    g_free(hex);
    return digest;
}
