#include "platform/mime/CharsetText.h"

#include "util/CharsetConverter.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

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
    // Eight bytes at a time: it runs over every body.
    std::uint64_t any = 0;
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        any |= word;
    }
    for (; at < bytes.size(); ++at)
        any |= static_cast<unsigned char>(bytes[at]);
    return (any & 0x8080808080808080ULL) == 0;
}

} // namespace

std::string CharsetText::toUtf8(std::string_view bytes, const std::string& charset) {
    std::string lower = asciiLower(charset);
    if ((lower.empty() || isAsciiName(lower) || isUtf8Name(lower) || extendsAscii(lower)) &&
        isAscii(bytes))
        return std::string(bytes);
    if (lower.empty() || isAsciiName(lower))
        return undeclared(bytes);
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
    const char* data = text.data();
    std::size_t size = text.size();
    // Where the next line feed, carriage return and NUL stand (size when there is none),
    // each found by memchr, many bytes at once, and looked for again only once passed.
    constexpr std::size_t unknown = std::size_t(-1);
    std::size_t next[3] = {unknown, unknown, unknown};
    const char special[3] = {'\n', '\r', '\0'};
    std::size_t i = 0;
    while (i < size) {
        std::size_t run = size;
        for (int k = 0; k < 3; ++k) {
            if (next[k] == unknown || next[k] < i) {
                auto* found = static_cast<const char*>(std::memchr(data + i, special[k], size - i));
                next[k] = found ? static_cast<std::size_t>(found - data) : size;
            }
            run = std::min(run, next[k]);
        }
        // Copy the run up to the next special character in one go.
        out.append(data + i, run - i);
        if (run == size)
            break;
        char c = text[run];
        i = run + 1;
        if (c == '\0')
            continue;
        out += "\r\n";
        if (c == '\r' && i < size && text[i] == '\n')
            ++i;
    }
    return out;
}
