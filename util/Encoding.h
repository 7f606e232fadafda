#pragma once

#include <string>

// UTF-16 text at the mail layer's boundary.
using WideString = std::u16string;

// Code pages by their number; 0 is the system code page: the character set of the
// user's locale, and UTF-8 under the plain C/POSIX locale (which would otherwise turn
// every accented letter into "?").
constexpr unsigned CP_ACP = 0;
constexpr unsigned CP_UTF8 = 65001;

// Characters without an equivalent in the code page become "?". Invalid UTF-16
// (a lone surrogate) becomes "?" as well.
std::string wideToBytes(const WideString& text, unsigned codePage = CP_ACP);
// Bytes that do not decode in the code page become U+FFFD.
WideString bytesToWide(const std::string& text, unsigned codePage = CP_ACP);

// UTF-8 text in the code page, as wideToBytes would give it from the same text in UTF-16;
// returned as it is when the code page is UTF-8.
std::string utf8ToBytes(std::string text, unsigned codePage = CP_ACP);

std::string wideToUtf8(const WideString& text);
WideString utf8ToWide(const std::string& text);

// The iconv name of a code page ("UTF-8", "ISO-8859-1", ...).
std::string codePageCharset(unsigned codePage);
