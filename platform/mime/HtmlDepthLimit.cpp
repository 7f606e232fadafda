#include "platform/mime/HtmlDepthLimit.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

namespace {

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNameChar(char c) {
    return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':';
}

// Tag names of interest are short; longer ones are kept as they are (and nest).
constexpr std::size_t maxName = 15;

struct TagName {
    char text[maxName + 1];
    std::size_t length;
    std::string_view view() const { return {text, length}; }
};

TagName lowerName(std::string_view name) {
    TagName out{};
    out.length = std::min(name.size(), maxName);
    for (std::size_t i = 0; i < out.length; ++i) {
        char c = name[i];
        out.text[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

// Elements that never hold children, or whose end tags are left out so commonly that
// they do not nest in practice (the parser closes them implicitly).
bool doesNotNest(std::string_view name) {
    static const std::unordered_set<std::string_view> names = {
        "area",     "base",    "basefont", "bgsound", "br",   "col",   "embed", "frame",
        "hr",       "img",     "input",    "keygen",  "link", "meta",  "param", "source",
        "track",    "wbr",     "li",       "p",       "td",   "th",    "tr",    "option",
        "optgroup", "dt",      "dd",       "rt",      "rp",   "tbody", "thead", "tfoot",
        "colgroup", "caption", "html",     "head",    "body"};
    return names.count(name) > 0;
}

bool isRawText(std::string_view name) {
    static const std::unordered_set<std::string_view> names = {
        "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "noscript"};
    return names.count(name) > 0;
}

// The end of a tag starting at from ('<'), past its '>' (quotes respected), or npos.
std::size_t tagEnd(const std::string& html, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from + 1; i < html.size(); ++i) {
        char c = html[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string::npos;
}

// Where the raw text of element name ends: at its end tag, else the end of the text.
std::size_t rawTextEnd(const std::string& html, std::size_t from, std::string_view name) {
    std::size_t at = from;
    while ((at = html.find("</", at)) != std::string::npos) {
        if (lowerName(std::string_view(html).substr(at + 2, name.size())).view() == name)
            return at;
        at += 2;
    }
    return html.size();
}

} // namespace

std::string HtmlDepthLimit::limited(std::string html, int maxDepth) {
    std::string out;
    bool changed = false;
    std::size_t copied = 0; // html[copied, at) still has to go to out
    int depth = 0, dropped = 0;
    std::size_t at = 0;
    auto drop = [&](std::size_t begin, std::size_t end) {
        if (!changed) {
            out.reserve(html.size());
            changed = true;
        }
        out.append(html, copied, begin - copied);
        copied = end;
    };
    while ((at = html.find('<', at)) != std::string::npos && at + 1 < html.size()) {
        char next = html[at + 1];
        if (next == '!') {
            std::size_t end =
                html.compare(at, 4, "<!--") == 0 ? html.find("-->", at + 4) : html.find('>', at);
            if (end == std::string::npos)
                break;
            at = end + 1;
            continue;
        }
        bool closing = next == '/';
        std::size_t nameStart = at + (closing ? 2 : 1);
        if (nameStart >= html.size() || !isAsciiLetter(html[nameStart])) {
            ++at;
            continue;
        }
        std::size_t nameEnd = nameStart;
        while (nameEnd < html.size() && isNameChar(html[nameEnd]))
            ++nameEnd;
        TagName tag = lowerName(std::string_view(html).substr(nameStart, nameEnd - nameStart));
        // A cut name matches nothing: treat it as an ordinary element.
        std::string_view name = nameEnd - nameStart > maxName ? std::string_view() : tag.view();
        std::size_t end = tagEnd(html, at);
        if (end == std::string::npos)
            break;
        if (name == "plaintext" && !closing)
            break; // the rest is text
        bool selfClosing = html[end - 2] == '/';
        if (!closing && isRawText(name)) {
            at = rawTextEnd(html, end, name);
            continue;
        }
        if ((!name.empty() && doesNotNest(name)) || (selfClosing && !closing)) {
            at = end;
            continue;
        }
        if (closing) {
            if (dropped > 0) {
                --dropped;
                drop(at, end);
            } else if (depth > 0) {
                --depth;
            }
        } else if (depth >= maxDepth) {
            ++dropped;
            drop(at, end);
        } else {
            ++depth;
        }
        at = end;
    }
    if (!changed)
        return html;
    out.append(html, copied, std::string::npos);
    return out;
}
