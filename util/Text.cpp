#include "util/Text.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

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
