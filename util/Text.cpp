#include "util/Text.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <wchar.h>

std::string replaceAll(const std::string& text, const std::string& pattern,
                       const std::string& replacement) {
    if (pattern.empty())
        return text;
    std::string result;
    result.reserve(text.size());
    std::size_t from = 0;
    for (;;) {
        std::size_t at = text.find(pattern, from);
        if (at == std::string::npos)
            break;
        result.append(text, from, at - from);
        result += replacement;
        from = at + pattern.size();
    }
    result.append(text, from, std::string::npos);
    return result;
}

std::vector<std::string> splitText(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        if (!text.empty())
            pieces.push_back(text);
        return pieces;
    }
    std::size_t from = 0;
    for (;;) {
        std::size_t at = text.find(separator, from);
        if (at == std::string::npos)
            break;
        pieces.push_back(text.substr(from, at - from));
        from = at + separator.size();
    }
    if (from < text.size())
        pieces.push_back(text.substr(from));
    return pieces;
}

std::string joinTexts(const std::vector<std::string>& pieces, const std::string& separator) {
    std::string result;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i)
            result += separator;
        result += pieces[i];
    }
    return result;
}

std::string trimText(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.substr(begin, end - begin);
}

std::string lowerText(const std::string& text) {
    std::string result = text;
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

int toInt(const std::string& text, int defaultValue) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    // from_chars rejects a leading '+', which the platform's conversion accepts.
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    int value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end)
        return defaultValue;
    return value;
}

namespace {
locale_t cLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}
} // namespace

double toReal(const std::string& text, double defaultValue) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double value = strtod_l(begin, &end, cLocale());
    if (end == begin)
        return defaultValue;
    return value;
}

std::string formatReal(double value) {
    char buffer[512];
    locale_t previous = uselocale(cLocale());
    std::snprintf(buffer, sizeof buffer, "%f", value);
    uselocale(previous);
    return buffer;
}

std::string escapeHtml(const std::string& text) {
    return replaceAll(replaceAll(text, "<", "&lt;"), ">", "&gt;");
}

std::string textToHtml(const std::string& text) {
    return replaceAll(escapeHtml(text), "\r\n", "<br>");
}

namespace {

// Decodes the UTF-8 character at text[at]; its length goes to length. A byte that starts
// no well-formed character gives -1 with a length of 1.
long decodeUtf8(const std::string& text, std::size_t at, std::size_t& length) {
    unsigned char first = static_cast<unsigned char>(text[at]);
    length = 1;
    if (first < 0x80)
        return first;
    std::size_t need = first >= 0xc2 && first < 0xe0   ? 2
                       : first >= 0xe0 && first < 0xf0 ? 3
                       : first >= 0xf0 && first < 0xf5 ? 4
                                                       : 0;
    if (need == 0 || at + need > text.size())
        return -1;
    long code = first & (0x7f >> need);
    for (std::size_t i = 1; i < need; ++i) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80)
            return -1;
        code = (code << 6) | (next & 0x3f);
    }
    static constexpr long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[need] || code > 0x10ffff || (code >= 0xd800 && code < 0xe000))
        return -1; // overlong, beyond Unicode, or a surrogate
    length = need;
    return code;
}

// Columns of one printable character; the table answers where the locale cannot (the C
// locale knows no character above 127).
int characterWidth(long code) {
    int width = ::wcwidth(static_cast<wchar_t>(code));
    if (width >= 0)
        return width;
    struct Range {
        long from, to;
    };
    static constexpr Range combining[] = {{0x300, 0x36f},   {0x483, 0x489},   {0x591, 0x5bd},
                                          {0x610, 0x61a},   {0x64b, 0x65f},   {0x200b, 0x200f},
                                          {0x20d0, 0x20ff}, {0xfe00, 0xfe0f}, {0xfe20, 0xfe2f}};
    static constexpr Range wide[] = {{0x1100, 0x115f},   {0x2e80, 0x303e},  {0x3041, 0x33ff},
                                     {0x3400, 0x4dbf},   {0x4e00, 0x9fff},  {0xa000, 0xa4cf},
                                     {0xac00, 0xd7a3},   {0xf900, 0xfaff},  {0xfe30, 0xfe4f},
                                     {0xff00, 0xff60},   {0xffe0, 0xffe6},  {0x1f300, 0x1f64f},
                                     {0x1f900, 0x1f9ff}, {0x20000, 0x3fffd}};
    for (const Range& range : combining)
        if (code >= range.from && code <= range.to)
            return 0;
    for (const Range& range : wide)
        if (code >= range.from && code <= range.to)
            return 2;
    return 1;
}

bool isControl(long code) {
    return code < 0x20 || (code >= 0x7f && code < 0xa0);
}

} // namespace

std::size_t displayWidth(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t at = 0, length = 1; at < text.size(); at += length) {
        long code = decodeUtf8(text, at, length);
        width += code < 0 || isControl(code) ? 1 : static_cast<std::size_t>(characterWidth(code));
    }
    return width;
}

std::string fitToWidth(const std::string& text, std::size_t width, bool alignRight) {
    bool fits = displayWidth(text) <= width;
    std::size_t room = fits || width == 0 ? width : width - 1; // a column for the "~"
    std::string fitted;
    std::size_t used = 0;
    for (std::size_t at = 0, length = 1; at < text.size(); at += length) {
        long code = decodeUtf8(text, at, length);
        bool blank = code >= 0 && isControl(code);
        std::size_t columns =
            code < 0 || blank ? 1 : static_cast<std::size_t>(characterWidth(code));
        if (used + columns > room)
            break;
        fitted += code < 0 ? std::string("?") : blank ? std::string(" ") : text.substr(at, length);
        used += columns;
    }
    if (!fits && width > 0) {
        fitted += "~";
        ++used;
    }
    std::string padding(width > used ? width - used : 0, ' ');
    return alignRight ? padding + fitted : fitted + padding;
}
