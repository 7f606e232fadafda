#pragma once

#include <string>
#include <string_view>

// Converts text between character sets (by their iconv names) over iconv, with one rule
// for input that does not convert, whichever way the text goes:
// - decoding into Unicode, every byte that does not decode (every unit, for a UTF-16 or
//   UTF-32 source) becomes one U+FFFD;
// - encoding out of Unicode, every character the target cannot hold (and every byte that
//   is no UTF-8, every lone UTF-16 surrogate) becomes one "?".
// Nothing is dropped silently and a conversion never stops halfway.
class CharsetConverter {
public:
    // Bytes in charset as UTF-8; false, with *out empty, when iconv does not know charset.
    static bool toUtf8(std::string_view bytes, const std::string& charset, std::string* out);
    // UTF-8 text in charset; false, with *out empty, when iconv does not know charset.
    static bool fromUtf8(std::string_view utf8, const std::string& charset, std::string* out);

    static std::u16string utf8ToUtf16(std::string_view utf8);
    static std::string utf16ToUtf8(std::u16string_view text);

    // Whether bytes are valid UTF-8 (what toUtf8 from "UTF-8" would keep as it is).
    static bool isUtf8(std::string_view bytes);
};
