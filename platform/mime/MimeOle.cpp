// The MIME layer's free functions of platform/Mime.h.
#include "platform/Mime.h"

#include "platform/mime/GMimeLibrary.h"
#include "platform/mime/GObjectRef.h"
#include "platform/mime/MimeAllocator.h"
#include "platform/mime/MimeMessage.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

GObjectRef<GMimeMessage> parse(GMimeStream* stream) {
    GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    return GObjectRef<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

// Takes over a g_malloc'ed buffer.
HRESULT createMessage(guint8* data, std::size_t size, const FILETIME& received,
                      IMimeMessage** message) {
    GMimeLibrary::initialise();
    GByteArray* array = g_byte_array_new_take(data, size);
    GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(array));
    GObjectRef<GMimeMessage> parsed = parse(stream.get());
    if (!parsed) {
        // No header block GMime accepts (binary garbage, an empty file, a first line
        // without a colon): keep the bytes as the body of a message without headers,
        // as a mail client shows such a file, rather than losing the message.
        g_mime_stream_reset(stream.get());
        GObjectRef<GMimeStream> joined(g_mime_stream_cat_new());
        GObjectRef<GMimeStream> blank(g_mime_stream_mem_new_with_buffer("\n", 1));
        g_mime_stream_cat_add_source(GMIME_STREAM_CAT(joined.get()), blank.get());
        g_mime_stream_cat_add_source(GMIME_STREAM_CAT(joined.get()), stream.get());
        parsed = parse(joined.get());
    }
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

std::string MimeOleDigest(const void* data, std::size_t size) {
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, static_cast<const guchar*>(data),
                                             static_cast<gsize>(size));
    std::string digest = hex ? hex : "";
    g_free(hex);
    return digest;
}
