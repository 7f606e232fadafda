#include "util/Encoding.h"

#include "util/CharsetConverter.h"

#include <langinfo.h>
#include <locale.h>

namespace {

bool isUtf8Name(const std::string& name) {
    return name == "UTF-8" || name == "utf-8" || name == "UTF8" || name == "utf8";
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
    std::string utf8 = CharsetConverter::utf16ToUtf8(text);
    if (isUtf8Name(charset))
        return utf8;
    // Through UTF-8 so that a character missing from the target is one "?" whatever
    // its UTF-16 length.
    std::string bytes;
    CharsetConverter::fromUtf8(utf8, charset, &bytes);
    return bytes;
}

std::string utf8ToBytes(std::string text, unsigned codePage) {
    std::string charset = codePageCharset(codePage);
    if (text.empty() || isUtf8Name(charset))
        return text;
    std::string bytes;
    CharsetConverter::fromUtf8(text, charset, &bytes);
    return bytes;
}

WideString bytesToWide(const std::string& text, unsigned codePage) {
    if (text.empty())
        return {};
    std::string charset = codePageCharset(codePage);
    if (isUtf8Name(charset))
        return CharsetConverter::utf8ToUtf16(text);
    std::string utf8;
    CharsetConverter::toUtf8(text, charset, &utf8);
    return CharsetConverter::utf8ToUtf16(utf8);
}

std::string wideToUtf8(const WideString& text) {
    return CharsetConverter::utf16ToUtf8(text);
}

WideString utf8ToWide(const std::string& text) {
    return CharsetConverter::utf8ToUtf16(text);
}
