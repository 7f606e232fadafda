#pragma once

#include "platform/Mime.h"
#include "platform/mime/GObjectRef.h"

#include <gmime/gmime.h>

// A parsed message. Used by one thread at a time (GMime objects are not shared).
class MimeMessage final : public ComObject<IMimeMessage> {
public:
    // source holds the bytes the message was parsed from (for the digest).
    MimeMessage(GObjectRef<GMimeMessage> message, const FILETIME& received,
                GObjectRef<GMimeStream> source = {});

    HRESULT GetTextBody(std::uint32_t txtType, std::uint32_t encoding, IStream** stream,
                        void* bodyHandle) override;
    HRESULT GetTextBodyUtf8(std::uint32_t txtType, std::string* text) override;
    HRESULT GetProp(std::uint32_t propId, std::uint32_t flags, PROPVARIANT* value) override;
    HRESULT GetAddressFormat(std::uint32_t addressType, std::uint32_t format, char** text) override;
    HRESULT GetHeader(const char* name, std::string* value) override;
    HRESULT GetHeaderValues(const char* name, std::vector<std::string>* values) override;
    HRESULT GetAddressEntries(std::uint32_t addressType,
                              std::vector<std::string>* entries) override;
    HRESULT GetContentDigest(std::string* digest) override;
    HRESULT GetContentBytes(std::string* bytes) override;

    // The entries of a parsed address list, in the form GetAddressEntries gives them.
    static void listEntries(InternetAddressList* list, std::vector<std::string>& entries);

private:
    HRESULT textProp(const char* header, PROPVARIANT* value);
    HRESULT timeProp(const FILETIME& time, PROPVARIANT* value);

    InternetAddressList* addressList(std::uint32_t addressType);

    GObjectRef<GMimeMessage> message;
    FILETIME received;
    GObjectRef<GMimeStream> source;
};
