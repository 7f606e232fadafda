#include "core/NetFile.h"

#include "util/Log.h"
#include "util/Text.h"
#include "platform/Store.h"
#include "platform/profile/Profile.h"
#include "platform/profile/ProfileBatch.h"
#include "platform/profile/ProfileCache.h"
#include "platform/profile/ProfileDocument.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

// No stored value can hold a line feed (a value is one line), so this default tells a
// missing key from one that is present.
const std::string missingKey = "\n";

// The value of each byte as a hexadecimal digit, -1 for anything else.
struct HexTable {
    signed char value[256];
    constexpr HexTable() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                       : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                       : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                                              : -1;
    }
};
constexpr HexTable hexTable;

int hexDigit(char c) {
    return hexTable.value[static_cast<unsigned char>(c)];
}

// A pair as "%2x" reads it: both digits, the leading one alone, or 0.
unsigned pairValue(char high, char low) {
    int h = hexDigit(high);
    if (h < 0)
        return 0;
    int l = hexDigit(low);
    if (l < 0)
        return static_cast<unsigned>(h);
    return static_cast<unsigned>(h * 16 + l);
}

// Every value is written between two underscores: a last line without its closing one was
// cut short, while one that has it only lacks its line break (as a file saved by hand may).
bool wholeValue(const std::optional<std::string>& value) {
    return value && value->size() >= 2 && value->front() == '_' && value->back() == '_';
}

} // namespace

std::string encodeText(const std::string& text) {
    std::string stored = "_" + text + "_";
    // Weight rows run to many kilobytes and never hold these: spare them the passes.
    if (text.find_first_of("\n\r\t") == std::string::npos)
        return stored;
    stored = replaceAll(stored, "\n", "\\n");
    stored = replaceAll(stored, "\r", "\\r");
    return replaceAll(stored, "\t", "\\t");
}

std::string decodeText(const std::string& stored) {
    std::string text = stored;
    if (!text.empty() && text.front() == '_')
        text.erase(0, 1);
    if (stored.size() > 1 && !text.empty() && text.back() == '_')
        text.pop_back();
    if (text.find('\\') == std::string::npos)
        return text;
    text = replaceAll(text, "\\n", "\n");
    text = replaceAll(text, "\\r", "\r");
    return replaceAll(text, "\\t", "\t");
}

std::string encodeNumbers(const double* values, int count) {
    static const char digits[] = "0123456789ABCDEF";
    if (count <= 0)
        return {};
    std::string text(static_cast<std::size_t>(count) * 17 - 1, '|');
    char* out = text.data();
    for (int i = 0; i < count; ++i, out += 17) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &values[i], sizeof bits);
        for (int b = 0; b < 8; ++b) {
            unsigned byte = static_cast<unsigned>(bits >> (8 * b)) & 0xFF;
            out[2 * b] = digits[byte >> 4];
            out[2 * b + 1] = digits[byte & 0x0F];
        }
    }
    return text;
}

double decodeNumber(std::string_view piece) {
    if (piece.size() > 16)
        piece.remove_prefix(piece.size() - 16);
    // An odd count gets a leading "0": the first byte is then the first digit alone.
    std::size_t at = 0;
    int byte = 0;
    std::uint64_t bits = 0;
    if (piece.size() % 2) {
        bits = static_cast<std::uint64_t>(pairValue('0', piece[0]));
        at = 1;
        byte = 1;
    }
    for (; at + 1 < piece.size(); at += 2, ++byte)
        bits |= static_cast<std::uint64_t>(pairValue(piece[at], piece[at + 1])) << (8 * byte);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int decodeNumbers(std::string_view text, double* slots, int count) {
    int filled = 0;
    std::size_t at = 0;
    while (filled < count && at < text.size()) {
        std::size_t bar = text.find('|', at);
        std::size_t end = bar == std::string_view::npos ? text.size() : bar;
        slots[filled++] = decodeNumber(text.substr(at, end - at));
        at = end + 1;
    }
    return filled;
}

std::string checkNumbers(std::string_view text, int count) {
    int found = 0;
    std::size_t at = 0;
    while (at <= text.size() && !text.empty()) {
        std::size_t bar = text.find('|', at);
        std::size_t end = bar == std::string_view::npos ? text.size() : bar;
        std::string_view piece = text.substr(at, end - at);
        ++found;
        if (found <= count) {
            bool digits = piece.size() == 16;
            for (std::size_t i = 0; digits && i < piece.size(); ++i)
                digits = hexDigit(piece[i]) >= 0;
            if (!digits)
                return formatString("number %d is not 16 hexadecimal digits", found);
            if (!std::isfinite(decodeNumber(piece)))
                return formatString("number %d is not finite", found);
        }
        at = end + 1;
    }
    if (found != count)
        return formatString("holds %d numbers instead of %d", found, count);
    return {};
}

std::string joinAddresses(const std::vector<std::string>& addresses) {
    return joinTexts(addresses, ";");
}

std::vector<std::string> splitAddresses(const std::string& text) {
    std::vector<std::string> addresses = splitText(text, ";");
    std::erase_if(addresses, [](const std::string& address) { return address.empty(); });
    return addresses;
}

std::uint32_t storeIdFromText(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < INT32_MIN ||
        value > static_cast<long long>(UINT32_MAX))
        return FOLDERID_INVALID;
    return static_cast<std::uint32_t>(value);
}

NetFile::NetFile(std::string fileName) : name(std::move(fileName)) {}

NetFile::NetFile(std::string fileName, ProfileBatch* batch)
    : name(std::move(fileName)), batch(batch) {}

NetFile NetFile::snapshot(std::string fileName) {
    NetFile file(std::move(fileName));
    std::string failure;
    file.document = ProfileCache::instance().read(file.name, &failure);
    if (!failure.empty())
        file.damage_ = "cannot be read: " + failure;
    else
        file.checkWhole();
    return file;
}

NetFile NetFile::ofText(std::string fileName, std::string_view text) {
    NetFile file(std::move(fileName));
    file.document = std::make_shared<const ProfileDocument>(ProfileDocument::parse(text));
    file.checkWhole();
    return file;
}

void NetFile::checkWhole() {
    if (!document->unfinishedLine().empty() && !wholeValue(document->unfinishedValue()))
        damage_ = "it ends inside the line " + document->unfinishedLine() +
                  ", as a file cut off there does";
}

std::optional<std::string> NetFile::findRaw(const std::string& section,
                                            const std::string& key) const {
    if (document) {
        std::optional<std::string_view> value = document->value(section, key);
        if (!value)
            return std::nullopt;
        return std::string(*value);
    }
    std::string value = getProfileString(section, key, missingKey, name);
    if (value == missingKey)
        return std::nullopt;
    return value;
}

std::optional<std::string> NetFile::findText(const std::string& section,
                                             const std::string& key) const {
    std::optional<std::string> raw = findRaw(section, key);
    if (!raw)
        return std::nullopt;
    return decodeText(*raw);
}

std::string NetFile::readText(const std::string& section, const std::string& key,
                              const std::string& defaultValue) const {
    std::optional<std::string> text = findText(section, key);
    return text ? *text : defaultValue;
}

int NetFile::readInt(const std::string& section, const std::string& key, int defaultValue) const {
    std::optional<std::string> text = findText(section, key);
    return text ? toInt(*text, defaultValue) : defaultValue;
}

double NetFile::readReal(const std::string& section, const std::string& key,
                         double defaultValue) const {
    std::optional<std::string> text = findText(section, key);
    return text ? toReal(*text, defaultValue) : defaultValue;
}

DateTime NetFile::readDateTime(const std::string& section, const std::string& key,
                               DateTime defaultValue) const {
    std::optional<std::string> text = findText(section, key);
    return text ? parseTimeStamp(*text, defaultValue) : defaultValue;
}

bool NetFile::writeRaw(const std::string& section, const std::string* key,
                       const std::string* value) const {
    if (batch) {
        if (!key)
            batch->deleteSection(section);
        else if (!value)
            batch->deleteKey(section, *key);
        else
            batch->set(section, *key, *value);
        return true;
    }
    return WritePrivateProfileStringA(section.c_str(), key ? key->c_str() : nullptr,
                                      value ? value->c_str() : nullptr, name.c_str());
}

bool NetFile::writeText(const std::string& section, const std::string& key,
                        const std::string& value) const {
    std::string stored = encodeText(value);
    return writeRaw(section, &key, &stored);
}

bool NetFile::writeInt(const std::string& section, const std::string& key, int value) const {
    return writeText(section, key, formatString("%d", value));
}

bool NetFile::writeReal(const std::string& section, const std::string& key, double value) const {
    return writeText(section, key, formatReal(value));
}

bool NetFile::writeDateTime(const std::string& section, const std::string& key,
                            DateTime value) const {
    return writeText(section, key, formatTimeStamp(value));
}

bool NetFile::deleteSection(const std::string& section) const {
    return writeRaw(section, nullptr, nullptr);
}
