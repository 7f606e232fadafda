#pragma once

#include "platform/Mime.h"
#include "platform/mime/GObjectRef.h"

#include <gmime/gmime.h>

// A parsed message. Used by one thread at a time (GMime objects are not shared).
class MimeMessage final : public ComObject<IMimeMessage> {
public:
    MimeMessage(GObjectRef<GMimeMessage> message, const FILETIME& received);

    HRESULT GetTextBody(std::uint32_t txtType, std::uint32_t encoding, IStream** stream,
                        void* bodyHandle) override;
    HRESULT GetProp(std::uint32_t propId, std::uint32_t flags, PROPVARIANT* value) override;
    HRESULT GetAddressFormat(std::uint32_t addressType, std::uint32_t format, char** text) override;
    HRESULT GetHeader(const char* name, std::string* value) override;

private:
    HRESULT textProp(const char* header, PROPVARIANT* value);
    HRESULT timeProp(const FILETIME& time, PROPVARIANT* value);

    GObjectRef<GMimeMessage> message;
    FILETIME received;
};
