#include "util/Encoding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

namespace {

bool isUtf8Name(const std::string& name) {
    return name == "UTF-8" || name == "utf-8" || name == "UTF8" || name == "utf8";
}

// Straight UTF-16 <-> UTF-8 without iconv: the common case on every normal system.
std::string utf16ToUtf8(const WideString& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += '?';
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

WideString utf8ToUtf16(const std::string& text) {
    WideString out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size(), i = 0;
    while (i < n) {
        unsigned char b = s[i];
        char32_t c;
        std::size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool valid = i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (s[i + k] & 0x3F);
        }
        static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || c < least[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

std::string systemCharset() {
    // nl_langinfo answers for the locale the program set (the windows call setlocale);
    // a program that never did runs under "C" and gets UTF-8 below.
    const char* name = nl_langinfo(CODESET);
    std::string charset = name ? name : "";
    if (charset.empty() || charset == "ANSI_X3.4-1968" || charset == "ASCII" ||
        charset == "US-ASCII")
        return "UTF-8";
    return charset;
}

std::size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// One iconv pass; unitSize 0 means the input is UTF-8 (skip whole characters).
std::string convert(const char* from, const char* to, const char* data, std::size_t size,
                    std::size_t unitSize, const char* replacement, std::size_t replacementSize) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string out;
    char buffer[4096];
    char* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: replace one input character and go on.
            out.append(replacement, replacementSize);
            std::size_t skip = unitSize ? unitSize : utf8Length(static_cast<unsigned char>(*in));
            skip = std::min(skip, inLeft);
            in += skip;
            inLeft -= skip;
        }
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    iconv_close(cd);
    return out;
}

} // namespace

std::string codePageCharset(unsigned codePage) {
    switch (codePage) {
    case CP_ACP:
        return systemCharset();
    case CP_UTF8:
        return "UTF-8";
    case 1200:
        return "UTF-16LE";
    case 20127:
        return "ASCII";
    case 28591:
        return "ISO-8859-1";
    case 28592:
        return "ISO-8859-2";
    case 28605:
        return "ISO-8859-15";
    default:
        return "CP" + std::to_string(codePage);
    }
}

std::string wideToBytes(const WideString& text, unsigned codePage) {
    if (text.empty())
        return {};
    std::string charset = codePageCharset(codePage);
    if (isUtf8Name(charset))
        return utf16ToUtf8(text);
    // Through UTF-8 so that a character missing from the target is one "?" whatever
    // its UTF-16 length.
    std::string utf8 = utf16ToUtf8(text);
    return convert("UTF-8", charset.c_str(), utf8.data(), utf8.size(), 0, "?", 1);
}

WideString bytesToWide(const std::string& text, unsigned codePage) {
    if (text.empty())
        return {};
    std::string charset = codePageCharset(codePage);
    if (isUtf8Name(charset))
        return utf8ToUtf16(text);
    const char replacement[] = "\xEF\xBF\xBD";
    std::string utf8 =
        convert(charset.c_str(), "UTF-8", text.data(), text.size(), 1, replacement, 3);
    return utf8ToUtf16(utf8);
}

std::string wideToUtf8(const WideString& text) {
    return utf16ToUtf8(text);
}

WideString utf8ToWide(const std::string& text) {
    return utf8ToUtf16(text);
}
