#include "platform/profile/Loc.h"

#include "util/Text.h"
#include "platform/profile/Profile.h"

#include <mutex>
#include <optional>

namespace {
const char* const language = "en";
constexpr unsigned valueSize = 2048;
constexpr std::size_t textLimit = 4095;
// Widths and precisions beyond the text limit can only be typing errors.
constexpr std::size_t largestWidth = textLimit;

std::mutex pathMutex;
std::optional<std::string> openPath;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the digits at `at`; false when the number exceeds the largest width.
bool readNumber(const std::string& text, std::size_t& at, std::size_t& number) {
    number = 0;
    while (at < text.size() && isDigit(text[at])) {
        number = number * 10 + static_cast<std::size_t>(text[at] - '0');
        if (number > largestWidth)
            return false;
        ++at;
    }
    return true;
}

// The printf rules for "%s" ("-" flag, width, precision in bytes) and "%%". False
// when the value holds any other conversion or its "%s" count differs from the
// argument count: such a value is not formatted at all.
bool formatValue(const std::string& value, std::initializer_list<std::string_view> arguments,
                 std::string& result) {
    auto argument = arguments.begin();
    std::size_t at = 0;
    while (at < value.size()) {
        std::size_t percent = value.find('%', at);
        if (percent == std::string::npos) {
            result.append(value, at, std::string::npos);
            break;
        }
        result.append(value, at, percent - at);
        at = percent + 1;
        if (at < value.size() && value[at] == '%') {
            result += '%';
            ++at;
            continue;
        }
        bool left = false;
        while (at < value.size() && value[at] == '-') {
            left = true;
            ++at;
        }
        std::size_t width = 0;
        if (!readNumber(value, at, width))
            return false;
        std::optional<std::size_t> precision;
        if (at < value.size() && value[at] == '.') {
            ++at;
            std::size_t digits = 0;
            if (!readNumber(value, at, digits))
                return false;
            precision = digits;
        }
        if (at >= value.size() || value[at] != 's' || argument == arguments.end())
            return false;
        ++at;
        std::string_view text = *argument++;
        if (precision && text.size() > *precision)
            text = text.substr(0, *precision);
        std::size_t padding = width > text.size() ? width - text.size() : 0;
        if (!left)
            result.append(padding, ' ');
        result += text;
        if (left)
            result.append(padding, ' ');
    }
    return argument == arguments.end();
}

// Cut at the limit, moved back to the start of a UTF-8 character.
void limit(std::string& text) {
    if (text.size() <= textLimit)
        return;
    std::size_t cut = textLimit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
}
} // namespace

void locOpen(const std::string& path) {
    std::lock_guard<std::mutex> lock(pathMutex);
    openPath = path;
}

void locClose() {
    std::lock_guard<std::mutex> lock(pathMutex);
    openPath.reset();
}

std::string locTextWith(std::string_view key, std::initializer_list<std::string_view> arguments) {
    std::optional<std::string> path;
    {
        std::lock_guard<std::mutex> lock(pathMutex);
        path = openPath;
    }
    std::string keyText(key);
    if (!path)
        return keyText;
    char buffer[valueSize];
    if (GetPrivateProfileStringA(language, keyText.c_str(), "", buffer, valueSize, path->c_str()) ==
        0)
        return keyText;
    std::string value = replaceAll(replaceAll(buffer, "\\r", "\r"), "\\n", "\n");
    std::string result;
    if (!formatValue(value, arguments, result))
        result = replaceAll(value, "%%", "%");
    limit(result);
    return result;
}
