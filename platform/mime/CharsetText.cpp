#include "platform/mime/CharsetText.h"

#include "util/CharsetConverter.h"

#include <gmime/gmime.h>

#include <algorithm>

namespace {

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isAsciiName(const std::string& lower) {
    return lower == "us-ascii" || lower == "ascii" || lower == "ansi_x3.4-1968" ||
           lower == "iso646-us" || lower == "us";
}

bool isUtf8Name(const std::string& lower) {
    return lower == "utf-8" || lower == "utf8";
}

// Undeclared 8-bit text is what mail programs write in Windows-1252.
std::string undeclared(std::string_view bytes) {
    if (CharsetConverter::isUtf8(bytes))
        return std::string(bytes);
    std::string out;
    CharsetConverter::toUtf8(bytes, "WINDOWS-1252", &out);
    return out;
}

// Charsets whose first 128 codes are ASCII's, one byte each: text of those bytes only
// reads the same in them and in UTF-8, so the converter is not needed for it (most mail).
bool extendsAscii(const std::string& lower) {
    return lower.rfind("iso-8859-", 0) == 0 || lower.rfind("windows-125", 0) == 0;
}

bool isAscii(std::string_view bytes) {
    unsigned char any = 0;
    for (char c : bytes)
        any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

} // namespace

std::string CharsetText::toUtf8(std::string_view bytes, const std::string& charset) {
    std::string lower = asciiLower(charset);
    if (lower.empty() || isAsciiName(lower))
        return undeclared(bytes);
    if (extendsAscii(lower) && isAscii(bytes))
        return std::string(bytes);
    // The MIME library knows the names mail programs use for a charset besides iconv's.
    std::string out;
    const char* name = isUtf8Name(lower) ? "UTF-8" : g_mime_charset_iconv_name(charset.c_str());
    if (!CharsetConverter::toUtf8(bytes, name ? name : charset, &out))
        return undeclared(bytes);
    return out;
}

std::string CharsetText::htmlMetaCharset(std::string_view html) {
    std::string head = asciiLower(html.substr(0, std::min<std::size_t>(html.size(), 4096)));
    std::size_t meta = head.find("<meta");
    while (meta != std::string::npos) {
        std::size_t close = head.find('>', meta);
        std::string tag =
            head.substr(meta, close == std::string::npos ? std::string::npos : close - meta);
        std::size_t at = tag.find("charset");
        if (at != std::string::npos) {
            at += 7;
            while (at < tag.size() && (tag[at] == ' ' || tag[at] == '='))
                ++at;
            while (at < tag.size() && (tag[at] == '"' || tag[at] == '\''))
                ++at;
            std::size_t end = tag.find_first_of("\"'; />\t\r\n", at);
            std::string name = tag.substr(at, end == std::string::npos ? end : end - at);
            if (!name.empty())
                return name;
        }
        meta = head.find("<meta", meta + 5);
    }
    return {};
}

std::string CharsetText::withCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    std::size_t i = 0;
    while (i < text.size()) {
        // Copy the run up to the next special character in one go.
        std::size_t run = i;
        while (run < text.size() && text[run] != '\r' && text[run] != '\n' && text[run] != '\0')
            ++run;
        out.append(text.data() + i, run - i);
        if (run == text.size())
            break;
        char c = text[run];
        i = run + 1;
        if (c == '\0')
            continue;
        out += "\r\n";
        if (c == '\r' && i < text.size() && text[i] == '\n')
            ++i;
    }
    return out;
}
