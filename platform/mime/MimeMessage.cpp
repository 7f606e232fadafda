#include "platform/mime/MimeMessage.h"

#include "util/Encoding.h"
#include "platform/mime/TextBody.h"
#include "platform/mime/WideStream.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Ticks between 1 January 1601 and 1 January 1970.
constexpr std::int64_t unixEpochTicks = 116444736000000000LL;

void collectAddresses(InternetAddressList* list, std::string& out, int depth) {
    if (!list || depth > 8)
        return;
    int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            collectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)),
                             out, depth + 1);
            continue;
        }
        if (!INTERNET_ADDRESS_IS_MAILBOX(address))
            continue;
        const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
        if (!addr || !*addr)
            continue;
        if (!out.empty())
            out += ", ";
        out += addr;
    }
}

} // namespace

MimeMessage::MimeMessage(GObjectRef<GMimeMessage> message, const FILETIME& received,
                         GObjectRef<GMimeStream> source)
    : message(std::move(message)), received(received), source(std::move(source)) {}

HRESULT MimeMessage::GetTextBody(std::uint32_t txtType, std::uint32_t encoding, IStream** stream,
                                 void*) {
    if (!stream)
        return E_POINTER;
    *stream = nullptr;
    if (encoding != IET_UNICODE)
        return E_INVALIDARG;
    // The UTF-8 text, handed out in UTF-16.
    std::string text;
    if (HRESULT hr = GetTextBodyUtf8(txtType, &text); FAILED(hr))
        return hr;
    try {
        *stream = new WideStream(utf8ToWide(text));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT MimeMessage::GetTextBodyUtf8(std::uint32_t txtType, std::string* text) {
    // A message without a top part has no text bodies.
    return TextBody::textUtf8(message ? g_mime_message_get_mime_part(message.get()) : nullptr,
                              txtType, text);
}

HRESULT MimeMessage::GetProp(std::uint32_t propId, std::uint32_t, PROPVARIANT* value) {
    if (!value)
        return E_POINTER;
    switch (propId) {
    case PID_HDR_SUBJECT:
        return textProp("Subject", value);
    case PID_HDR_FROM:
        return textProp("From", value);
    case PID_HDR_TO:
        return textProp("To", value);
    case PID_ATT_RECVTIME:
        return timeProp(received, value);
    case PID_HDR_DATE: {
        GDateTime* date = g_mime_message_get_date(message.get());
        if (!date)
            return MIME_E_NOT_FOUND;
        std::int64_t seconds = g_date_time_to_unix(date);
        // Dates before 1601 have no FILETIME.
        if (seconds < -unixEpochTicks / 10000000)
            return MIME_E_NOT_FOUND;
        return timeProp(fileTimeFromUnix(seconds, g_date_time_get_microsecond(date) * 1000LL),
                        value);
    }
    default:
        return E_INVALIDARG;
    }
}

HRESULT MimeMessage::textProp(const char* header, PROPVARIANT* value) {
    if (value->vt != VT_LPWSTR && value->vt != VT_EMPTY)
        return E_INVALIDARG;
    const char* text = g_mime_object_get_header(GMIME_OBJECT(message.get()), header);
    if (!text)
        return MIME_E_NOT_FOUND;
    value->vt = VT_LPWSTR;
    value->pwszVal = utf8ToWide(text);
    return S_OK;
}

HRESULT MimeMessage::timeProp(const FILETIME& time, PROPVARIANT* value) {
    if (value->vt != VT_FILETIME && value->vt != VT_EMPTY)
        return E_INVALIDARG;
    value->vt = VT_FILETIME;
    value->filetime = time;
    return S_OK;
}

HRESULT MimeMessage::GetAddressFormat(std::uint32_t addressType, std::uint32_t format,
                                      char** text) {
    if (!text)
        return E_POINTER;
    *text = nullptr;
    if (format != AFT_RFC822_EMAIL)
        return E_INVALIDARG;
    InternetAddressList* list = addressList(addressType);
    if (!list)
        return E_INVALIDARG;
    std::string joined;
    collectAddresses(list, joined, 0);
    if (joined.empty())
        return MIME_E_NOT_FOUND;
    *text = static_cast<char*>(std::malloc(joined.size() + 1));
    if (!*text)
        return E_OUTOFMEMORY;
    std::memcpy(*text, joined.c_str(), joined.size() + 1);
    return S_OK;
}

HRESULT MimeMessage::GetHeader(const char* name, std::string* value) {
    if (!name || !value)
        return E_POINTER;
    const char* text = g_mime_object_get_header(GMIME_OBJECT(message.get()), name);
    if (!text)
        return MIME_E_NOT_FOUND;
    *value = text;
    return S_OK;
}

HRESULT MimeMessage::GetHeaderValues(const char* name, std::vector<std::string>* values) {
    if (!name || !values)
        return E_POINTER;
    values->clear();
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message.get()));
    int count = headers ? g_mime_header_list_get_count(headers) : 0;
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* headerName = header ? g_mime_header_get_name(header) : nullptr;
        if (!headerName || g_ascii_strcasecmp(headerName, name) != 0)
            continue;
        const char* value = g_mime_header_get_value(header);
        values->emplace_back(value ? value : "");
    }
    return S_OK;
}

InternetAddressList* MimeMessage::addressList(std::uint32_t addressType) {
    switch (addressType) {
    case IAT_FROM:
        return g_mime_message_get_from(message.get());
    case IAT_SENDER:
        return g_mime_message_get_sender(message.get());
    case IAT_REPLYTO:
        return g_mime_message_get_reply_to(message.get());
    default:
        return nullptr;
    }
}

void MimeMessage::listEntries(InternetAddressList* list, std::vector<std::string>& entries) {
    int count = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (!INTERNET_ADDRESS_IS_MAILBOX(address)) {
            entries.emplace_back();
            continue;
        }
        // The ASCII form: what the sending command gets and what a check can read.
        const char* addr = internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(address));
        entries.emplace_back(addr ? addr : "");
    }
}

HRESULT MimeMessage::GetAddressEntries(std::uint32_t addressType,
                                       std::vector<std::string>* entries) {
    if (!entries)
        return E_POINTER;
    entries->clear();
    InternetAddressList* list = addressList(addressType);
    if (!list)
        return E_INVALIDARG;
    listEntries(list, *entries);
    return S_OK;
}

HRESULT MimeMessage::GetContentDigest(std::string* digest) {
    if (!digest)
        return E_POINTER;
    GByteArray* bytes =
        source ? g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(source.get())) : nullptr;
    if (!bytes)
        return E_FAIL;
    *digest = MimeOleDigest(bytes->data, bytes->len);
    return S_OK;
}

HRESULT MimeMessage::GetContentBytes(std::string* text) {
    if (!text)
        return E_POINTER;
    GByteArray* bytes =
        source ? g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(source.get())) : nullptr;
    if (!bytes)
        return E_FAIL;
    text->assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
    return S_OK;
}
