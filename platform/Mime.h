#pragma once

#include "util/DateTime.h"
#include "platform/Unknown.h"
#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A byte stream handed out by the MIME layer.
class IStream : public IUnknown {
public:
    // S_OK with up to size bytes in *read; S_FALSE (or 0 bytes) at the end.
    virtual HRESULT Read(void* buffer, std::uint32_t size, std::uint32_t* read) = 0;
};

// Text body kinds and the encoding asked for.
constexpr std::uint32_t TXT_PLAIN = 1;
constexpr std::uint32_t TXT_HTML = 2;
constexpr std::uint32_t IET_UNICODE = 7; // UTF-16 in host (little-endian) order

// Property numbers of GetProp.
constexpr std::uint32_t PID_HDR_SUBJECT = 5;
constexpr std::uint32_t PID_HDR_FROM = 6;
constexpr std::uint32_t PID_HDR_DATE = 12;     // the Date header (sent time)
constexpr std::uint32_t PID_ATT_RECVTIME = 13; // the store's received time
constexpr std::uint32_t PID_HDR_TO = 25;

// Address types and formats of GetAddressFormat.
constexpr std::uint32_t IAT_FROM = 1;
constexpr std::uint32_t IAT_SENDER = 2;
constexpr std::uint32_t IAT_REPLYTO = 32;
constexpr std::uint32_t AFT_RFC822_EMAIL = 1; // the bare addresses, ", " between

constexpr std::uint16_t VT_EMPTY = 0;
constexpr std::uint16_t VT_LPWSTR = 31;
constexpr std::uint16_t VT_FILETIME = 64;

struct PROPVARIANT {
    std::uint16_t vt = VT_EMPTY; // asked type on the way in, the value's type on the way out
    std::u16string pwszVal;
    FILETIME filetime;
};
HRESULT PropVariantClear(PROPVARIANT* value);

class IMimeAllocator : public IUnknown {
public:
    virtual void Free(void* p) = 0;
};

// The text bodies of a message.
class IMimeBody : public IUnknown {
public:
    // The body of that kind (TXT_HTML, TXT_PLAIN) as UTF-8 with CR LF line ends, the same
    // text IMimeMessage::GetTextBody hands out in UTF-16; MIME_E_NOT_FOUND when there is
    // none.
    virtual HRESULT GetTextBodyUtf8(std::uint32_t txtType, std::string* text) = 0;
};

class IMimeMessage : public IMimeBody {
public:
    // MIME_E_NOT_FOUND when the message has no body of that kind.
    virtual HRESULT GetTextBody(std::uint32_t txtType, std::uint32_t encoding, IStream** stream,
                                void* bodyHandle) = 0;
    // Fails when the property is absent.
    virtual HRESULT GetProp(std::uint32_t propId, std::uint32_t flags, PROPVARIANT* value) = 0;
    // *text is allocated by the layer and freed with IMimeAllocator::Free.
    virtual HRESULT GetAddressFormat(std::uint32_t addressType, std::uint32_t format,
                                     char** text) = 0;
    // A raw header's decoded value (UTF-8, folded lines joined); fails when absent.
    virtual HRESULT GetHeader(const char* name, std::string* value) = 0;
    // Every header of that name (any letter case), decoded as GetHeader does, in the
    // message's order; an empty list when there is none.
    virtual HRESULT GetHeaderValues(const char* name, std::vector<std::string>* values) = 0;
    // The entries of an address field (IAT_FROM, IAT_SENDER, IAT_REPLYTO) in the order the
    // MIME library parsed them from the raw header, in the form of MimeOleParseAddressEntries;
    // an empty list when the field is absent or names nobody.
    virtual HRESULT GetAddressEntries(std::uint32_t addressType,
                                      std::vector<std::string>* entries) = 0;
    // SHA-256 of the message's bytes as they were read, in lowercase hex.
    virtual HRESULT GetContentDigest(std::string* digest) = 0;
    // The message's bytes as they were read.
    virtual HRESULT GetContentBytes(std::string* bytes) = 0;
};

// The entries of an address list as the MIME library parses it: a mailbox as its
// addr-spec with the domain in its ASCII (IDNA) form, a group as an empty text (it
// names no single mailbox). Text that holds no address gives an empty list.
HRESULT MimeOleParseAddressEntries(const std::string& text, std::vector<std::string>* entries);

// SHA-256 of the bytes, in lowercase hex.
std::string MimeOleDigest(const void* data, std::size_t size);
// MimeOleDigest of a message without the header fields a transfer agent may write anew at
// each delivery attempt (Return-Path, Delivered-To, X-Original-To, Envelope-to,
// Delivery-date), so that its retry of the same message has the same digest.
std::string MimeOleDeliveryDigest(const std::string& message);

HRESULT MimeOleGetAllocator(IMimeAllocator** allocator);

// Parses an RFC 822 message held in memory; received is what PID_ATT_RECVTIME answers.
HRESULT MimeOleCreateMessage(const std::string& bytes, const FILETIME& received,
                             IMimeMessage** message);
// The same from a file (the store's way).
HRESULT MimeOleLoadMessageFile(const std::string& path, const FILETIME& received,
                               IMimeMessage** message);
// Parses only what the text bodies of a message in memory need: its MIME structure, not
// the fields of its header (addresses, dates, subject), which take most of a message
// parse and which a classifier never reads. The bodies are those of MimeOleCreateMessage.
HRESULT MimeOleCreateBody(const std::string& bytes, IMimeBody** body);
