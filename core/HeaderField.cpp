#include "core/HeaderField.h"

#include <algorithm>
#include <cctype>

namespace {

// Begins the trailer; the last one in a text counts, so that a body that holds the same
// bytes cannot pass for header fields.
constexpr std::string_view trailerMark{"\0brevalo-fields\0", 16};
constexpr std::string_view headerPrefix = "header:";
constexpr std::size_t maxNameLength = 76;

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isFieldName(const std::string& name) {
    if (name.empty() || name.size() > maxNameLength)
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c > ' ' && c < 127 && c != ':'; });
}

} // namespace

std::string HeaderField::normalize(const std::string& text, bool* valid) {
    if (valid)
        *valid = true;
    std::string key = lower(text);
    if (key.empty() || key == "body")
        return {};
    if (key == "subject" || key == "sender" || key == "recipients" || key == "list")
        return key;
    if (key.compare(0, headerPrefix.size(), headerPrefix) == 0) {
        std::string name = text.substr(headerPrefix.size());
        if (isFieldName(name))
            return std::string(headerPrefix) + name;
    }
    if (valid)
        *valid = false;
    return {};
}

std::vector<std::string> HeaderField::headerNames(const std::string& key) {
    if (key == "subject")
        return {"Subject"};
    if (key == "sender")
        return {"From", "Sender", "Reply-To"};
    if (key == "recipients")
        return {"To", "Cc", "Delivered-To"};
    if (key == "list")
        return {"List-Id"};
    if (key.compare(0, headerPrefix.size(), headerPrefix) == 0)
        return {key.substr(headerPrefix.size())};
    return {};
}

std::string HeaderField::attach(std::string body,
                                const std::vector<std::pair<std::string, std::string>>& fields) {
    body += trailerMark;
    for (const auto& [key, text] : fields) {
        body += key;
        body += '\0';
        std::string value = text.substr(0, maxFieldText);
        std::replace(value.begin(), value.end(), '\0', ' ');
        body += value;
        body += '\0';
    }
    return body;
}

std::string_view HeaderField::split(std::string_view text,
                                    std::map<std::string, std::string>* fields) {
    std::size_t mark = text.rfind(trailerMark);
    if (mark == std::string_view::npos)
        return text;
    if (fields) {
        std::string_view rest = text.substr(mark + trailerMark.size());
        while (!rest.empty()) {
            std::size_t keyEnd = rest.find('\0');
            if (keyEnd == std::string_view::npos)
                break;
            std::size_t valueEnd = rest.find('\0', keyEnd + 1);
            if (valueEnd == std::string_view::npos)
                break;
            (*fields)[std::string(rest.substr(0, keyEnd))] =
                std::string(rest.substr(keyEnd + 1, valueEnd - keyEnd - 1));
            rest.remove_prefix(valueEnd + 1);
        }
    }
    return text.substr(0, mark);
}
