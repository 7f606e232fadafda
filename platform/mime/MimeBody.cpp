#include "platform/mime/MimeBody.h"

#include "platform/mime/TextBody.h"

#include <new>
#include <string>

MimeBody::MimeBody(GObjectRef<GMimeObject> top, GObjectRef<GMimeStream> source)
    : top(std::move(top)), source(std::move(source)) {}

HRESULT MimeBody::GetTextBodyUtf8(std::uint32_t txtType, std::string* text) {
    if (!text)
        return E_POINTER;
    text->clear();
    if (txtType != TXT_PLAIN && txtType != TXT_HTML)
        return E_INVALIDARG;
    GMimePart* part = TextBody::find(top.get(), txtType == TXT_HTML);
    if (!part)
        return MIME_E_NOT_FOUND;
    try {
        *text = TextBody::decodeUtf8(part);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
