#pragma once

#include "platform/Mime.h"
#include "platform/mime/GObjectRef.h"

#include <gmime/gmime.h>

// The MIME structure of a message without its header fields: the top part as the message
// parser makes it (the part a message's g_mime_message_get_mime_part gives), and the
// stream it reads its content from. Used by one thread at a time.
class MimeBody final : public ComObject<IMimeBody> {
public:
    MimeBody(GObjectRef<GMimeObject> top, GObjectRef<GMimeStream> source);

    HRESULT GetTextBodyUtf8(std::uint32_t txtType, std::string* text) override;

private:
    GObjectRef<GMimeObject> top;
    GObjectRef<GMimeStream> source;
};
