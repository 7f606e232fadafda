#include "platform/mime/TextBody.h"

#include "platform/mime/CharsetText.h"
#include "platform/mime/GObjectRef.h"

#include <cstring>
#include <new>
#include <string_view>

namespace {

// Deeper nesting than this is no message a person wrote.
constexpr int maxDepth = 64;

bool isType(GMimeObject* object, const char* type, const char* subtype) {
    GMimeContentType* contentType = g_mime_object_get_content_type(object);
    return contentType && g_mime_content_type_is_type(contentType, type, subtype);
}

bool isAttachment(GMimeObject* object) {
    const char* disposition = g_mime_object_get_disposition(object);
    return disposition && g_ascii_strcasecmp(disposition, "attachment") == 0;
}

GMimePart* findIn(GMimeObject* object, const char* subtype, bool top, int depth);

// The root of a multipart/related: the part its start parameter names, else the first.
GMimeObject* relatedRoot(GMimeMultipart* multipart) {
    int count = g_mime_multipart_get_count(multipart);
    if (count == 0)
        return nullptr;
    const char* start = g_mime_object_get_content_type_parameter(GMIME_OBJECT(multipart), "start");
    if (start) {
        std::string_view id(start);
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
            id = id.substr(1, id.size() - 2);
        for (int i = 0; i < count; ++i) {
            GMimeObject* child = g_mime_multipart_get_part(multipart, i);
            const char* contentId = g_mime_object_get_content_id(child);
            if (contentId && id == contentId)
                return child;
        }
    }
    return g_mime_multipart_get_part(multipart, 0);
}

GMimePart* findInMultipart(GMimeMultipart* multipart, const char* subtype, int depth) {
    GMimeObject* object = GMIME_OBJECT(multipart);
    int count = g_mime_multipart_get_count(multipart);
    if (isType(object, "multipart", "alternative")) {
        // The alternatives are ordered from plainest to richest; clients show the last.
        for (int i = count - 1; i >= 0; --i)
            if (GMimePart* found =
                    findIn(g_mime_multipart_get_part(multipart, i), subtype, false, depth + 1))
                return found;
        return nullptr;
    }
    if (isType(object, "multipart", "related")) {
        if (GMimeObject* root = relatedRoot(multipart))
            if (GMimePart* found = findIn(root, subtype, false, depth + 1))
                return found;
    }
    for (int i = 0; i < count; ++i)
        if (GMimePart* found =
                findIn(g_mime_multipart_get_part(multipart, i), subtype, false, depth + 1))
            return found;
    return nullptr;
}

GMimePart* findIn(GMimeObject* object, const char* subtype, bool top, int depth) {
    if (!object || depth > maxDepth)
        return nullptr;
    if (GMIME_IS_MULTIPART(object)) {
        // Encrypted content cannot be read, and its parts are no text to show.
        if (GMIME_IS_MULTIPART_ENCRYPTED(object))
            return nullptr;
        return findInMultipart(GMIME_MULTIPART(object), subtype, depth);
    }
    if (!GMIME_IS_PART(object))
        return nullptr; // an attached message
    if (!top && isAttachment(object))
        return nullptr;
    if (!isType(object, "text", subtype))
        return nullptr;
    return GMIME_PART(object);
}

std::string contentBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GObjectRef<GMimeStream> sink(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, sink.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink.get()));
    if (!bytes || bytes->len == 0)
        return {};
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

} // namespace

GMimePart* TextBody::find(GMimeObject* top, bool html) {
    return findIn(top, html ? "html" : "plain", true, 0);
}

std::string TextBody::decodeUtf8(GMimePart* part) {
    std::string bytes = contentBytes(part);
    const char* declared = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    std::string charset = declared ? declared : "";
    if (charset.empty() && isType(GMIME_OBJECT(part), "text", "html"))
        charset = CharsetText::htmlMetaCharset(bytes);
    // A meta tag cannot truly declare UTF-16 (it would be unreadable); browsers take UTF-8.
    if (!declared && g_ascii_strncasecmp(charset.c_str(), "utf-16", 6) == 0)
        charset = "utf-8";
    return CharsetText::withCrLf(CharsetText::toUtf8(bytes, charset));
}

HRESULT TextBody::textUtf8(GMimeObject* top, std::uint32_t txtType, std::string* text) {
    if (!text)
        return E_POINTER;
    text->clear();
    if (txtType != TXT_PLAIN && txtType != TXT_HTML)
        return E_INVALIDARG;
    GMimePart* part = find(top, txtType == TXT_HTML);
    if (!part)
        return MIME_E_NOT_FOUND;
    try {
        *text = decodeUtf8(part);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
