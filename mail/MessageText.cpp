#include "mail/MessageText.h"

#include "util/ComException.h"
#include "util/Log.h"
#include "core/HeaderField.h"
#include "mail/HtmlText.h"

#include <cstring>

namespace {

// Reading in 2046-byte chunks keeps every chunk a whole number of UTF-16 units.
constexpr std::uint32_t chunkBytes = 2046;

// The bytes of the longest whole-character start of text that is at most units UTF-16
// units long: characters past U+FFFF count two, as they do in UTF-16.
std::size_t utf8PrefixOfUnits(const std::string& text, std::size_t units) {
    if (text.size() <= units)
        return text.size(); // never more units than bytes
    std::size_t counted = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        auto byte = static_cast<unsigned char>(text[at]);
        if ((byte & 0xC0) == 0x80)
            continue; // inside a character
        std::size_t width = byte >= 0xF0 ? 2 : 1;
        if (counted + width > units)
            return at;
        counted += width;
    }
    return text.size();
}

} // namespace

MessageBody messageBody(IMimeMessage* message, std::size_t maxUnits) {
    MessageBody body;
    com_ptr<IStream> stream;
    HRESULT hr = message->GetTextBody(TXT_HTML, IET_UNICODE, stream.out(), nullptr);
    body.isHtml = SUCCEEDED(hr);
    if (hr == MIME_E_NOT_FOUND)
        hr = message->GetTextBody(TXT_PLAIN, IET_UNICODE, stream.out(), nullptr);
    if (hr == MIME_E_NOT_FOUND)
        return body;
    checkHr(hr, "open the text body of the message");
    body.found = true;
    char16_t buffer[1024];
    while (body.text.size() < maxUnits) {
        std::uint32_t read = 0;
        hr = checkHr(stream->Read(buffer, chunkBytes, &read), "read the text body of the message");
        body.text.append(buffer, read / 2);
        if (hr != S_OK || read == 0)
            break;
    }
    if (body.text.size() > maxUnits)
        body.text.resize(maxUnits);
    return body;
}

std::string messageText(IMimeBody* message) {
    // The text stays in UTF-8 from the MIME layer through the HTML parser to the
    // classifier: converted once, at the end, and only when the code page is not UTF-8.
    std::string text;
    HRESULT hr = message->GetTextBodyUtf8(TXT_HTML, &text);
    bool isHtml = SUCCEEDED(hr);
    if (hr == MIME_E_NOT_FOUND)
        hr = message->GetTextBodyUtf8(TXT_PLAIN, &text);
    if (hr == MIME_E_NOT_FOUND)
        return {};
    checkHr(hr, "read the text body of the message");
    // The HTML parser needs some forty bytes per character of source and the classifier
    // several bytes per character of text: a body of hundreds of megabytes would take
    // gigabytes, and a sorter that runs out of memory on it would meet the same message
    // again at every start. Its first millions of characters classify it as well.
    std::size_t cut = utf8PrefixOfUnits(text, maxClassifiedText);
    // At a blank or a tag's end near the limit, not inside a word: the first letters of a
    // word ("invo" of "invoice") would count as a word of their own.
    const char* const separators = " \t\r\n<>";
    if (cut < text.size() && !std::strchr(separators, text[cut])) {
        std::size_t separator = text.find_last_of(separators, cut - 1);
        if (separator != std::string::npos && cut - separator <= 1024)
            cut = separator + 1;
    }
    if (cut < text.size()) {
        debugLog("messageText: %s body read up to %zu characters", isHtml ? "HTML" : "plain",
                 maxClassifiedText);
        text.resize(cut);
    }
    if (isHtml)
        text = htmlToUtf8Text(text, false);
    return utf8ToBytes(std::move(text), CP_ACP);
}

std::string headerText(IMimeMessage* message, std::uint32_t header) {
    PROPVARIANT value;
    value.vt = VT_LPWSTR;
    std::string text;
    if (SUCCEEDED(message->GetProp(header, 0, &value)) && value.vt == VT_LPWSTR)
        text = wideToUtf8(value.pwszVal);
    PropVariantClear(&value);
    return text;
}

bool headerTime(IMimeMessage* message, std::uint32_t header, FILETIME* time) {
    PROPVARIANT value;
    value.vt = VT_FILETIME;
    bool found = SUCCEEDED(message->GetProp(header, 0, &value)) && value.vt == VT_FILETIME;
    if (found && time)
        *time = value.filetime;
    PropVariantClear(&value);
    return found;
}

std::string addressText(IMimeMessage* message, std::uint32_t type, std::uint32_t format) {
    char* text = nullptr;
    if (FAILED(message->GetAddressFormat(type, format, &text)) || !text)
        return {};
    std::string result = text;
    mimeAllocator()->Free(text);
    return result;
}

std::string namedHeaderText(IMimeMessage* message, const char* name) {
    std::string value;
    if (FAILED(message->GetHeader(name, &value)))
        return {};
    return value;
}

com_ptr<IMimeAllocator> mimeAllocator() {
    com_ptr<IMimeAllocator> allocator;
    checkHr(MimeOleGetAllocator(allocator.out()), "get the MIME allocator");
    return allocator;
}

std::string headerFieldText(IMimeMessage* message, const std::string& key) {
    std::string text;
    for (const std::string& name : HeaderField::headerNames(key)) {
        std::string value = namedHeaderText(message, name.c_str());
        if (value.empty())
            continue;
        if (!text.empty())
            text += '\n';
        text += value.substr(0, HeaderField::maxFieldText);
    }
    return text.substr(0, HeaderField::maxFieldText);
}

std::string classifiedText(IMimeMessage* message, const std::vector<std::string>& fields) {
    if (fields.empty())
        return messageText(message);
    std::vector<std::pair<std::string, std::string>> texts;
    for (const std::string& key : fields)
        texts.emplace_back(key, headerFieldText(message, key));
    return HeaderField::attach(messageText(message), texts);
}
