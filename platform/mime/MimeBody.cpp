#include "platform/mime/MimeBody.h"

#include "platform/mime/TextBody.h"

#include <string>

MimeBody::MimeBody(GObjectRef<GMimeObject> top, GObjectRef<GMimeStream> source)
    : top(std::move(top)), source(std::move(source)) {}

HRESULT MimeBody::GetTextBodyUtf8(std::uint32_t txtType, std::string* text) {
    return TextBody::textUtf8(top.get(), txtType, text);
}
