#pragma once

#include <string>
#include <string_view>

// Turns the bytes of a text part into UTF-8 whatever the sender declared.
class CharsetText {
public:
    // Converts from the declared charset. An empty, US-ASCII or unknown charset takes the
    // bytes as UTF-8 when they are valid UTF-8 and as Windows-1252 otherwise (what mail
    // clients show for undeclared 8-bit text). Sequences invalid in the charset become
    // U+FFFD; the conversion itself never fails.
    static std::string toUtf8(std::string_view bytes, const std::string& charset);

    // The charset an HTML text declares in a <meta> tag near its start, else empty.
    static std::string htmlMetaCharset(std::string_view html);

    // CR LF for every line end (LF and lone CR alike); NUL characters dropped.
    static std::string withCrLf(std::string_view text);
};
