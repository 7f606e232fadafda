#pragma once

#include "platform/Mime.h"

#include <gmime/gmime.h>

#include <cstdint>
#include <string>

// The text part a mail client would show, and its decoded text.
class TextBody {
public:
    // The text/html (html) or text/plain part that a mail client shows as the body, below
    // the top part of a message (what g_mime_message_get_mime_part gives): the last fitting
    // alternative of a multipart/alternative, the root of a multipart/related, the first
    // fitting part of any other multipart; attachments and attached messages are not
    // looked into. Null when there is none.
    static GMimePart* find(GMimeObject* top, bool html);

    // The part's text: transfer encoding and charset decoded, CR LF line ends, UTF-8.
    static std::string decodeUtf8(GMimePart* part);

    // GetTextBodyUtf8 below a message's top part: the shown part's text of the kind asked
    // for (TXT_HTML, TXT_PLAIN), MIME_E_NOT_FOUND when there is none.
    static HRESULT textUtf8(GMimeObject* top, std::uint32_t txtType, std::string* text);
};
