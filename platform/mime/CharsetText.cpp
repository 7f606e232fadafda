#include "platform/mime/CharsetText.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr char replacementUtf8[] = "\xEF\xBF\xBD";

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

bool validUtf8(std::string_view bytes) {
    return g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr);
}

// Windows-1252 by table: always available, unlike an iconv module.
std::string windows1252ToUtf8(std::string_view bytes) {
    static const char16_t high[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char b : bytes) {
        char16_t c = b < 0x80 ? b : (b < 0xA0 ? high[b - 0x80] : b);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Repairs invalid UTF-8 by replacing each bad byte with U+FFFD.
std::string repairedUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (p < end) {
        const gchar* bad = nullptr;
        if (g_utf8_validate(p, end - p, &bad)) {
            out.append(p, end);
            break;
        }
        out.append(p, bad);
        out += replacementUtf8;
        p = bad + 1;
    }
    return out;
}

std::string undeclared(std::string_view bytes) {
    if (validUtf8(bytes))
        return std::string(bytes);
    return windows1252ToUtf8(bytes);
}

// Converts with iconv; false when the charset is unknown to it.
bool convertWithIconv(std::string_view bytes, const std::string& charset, std::string& out) {
    iconv_t cd = g_mime_iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    out.reserve(bytes.size() + bytes.size() / 4);
    char buffer[8192];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        int error = errno;
        out.append(buffer, outPtr - buffer);
        if (rc != static_cast<std::size_t>(-1) || error == E2BIG)
            continue;
        // An invalid or truncated sequence: mark it and go on with the next byte.
        out += replacementUtf8;
        ++in;
        --inLeft;
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    g_mime_iconv_close(cd);
    return true;
}

} // namespace

std::string CharsetText::toUtf8(std::string_view bytes, const std::string& charset) {
    std::string lower = asciiLower(charset);
    if (lower.empty() || isAsciiName(lower))
        return undeclared(bytes);
    if (isUtf8Name(lower))
        return repairedUtf8(bytes);
    std::string out;
    if (!convertWithIconv(bytes, charset, out))
        return undeclared(bytes);
    return repairedUtf8(out);
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
