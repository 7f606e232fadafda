#include "platform/maildir/MaildirNames.h"

#include "platform/Store.h"

namespace {

const char* const base64Chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == ',')
        return 63;
    return -1;
}

// Next code point of valid UTF-8 (no overlongs, no surrogates); false on invalid input.
bool nextCodePoint(const std::string& text, size_t& pos, char32_t& cp) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char first = byte(pos);
    size_t length = first < 0x80         ? 1
                    : (first >> 5) == 6  ? 2
                    : (first >> 4) == 14 ? 3
                    : (first >> 3) == 30 ? 4
                                         : 0;
    if (length == 0 || pos + length > text.size())
        return false;
    cp = length == 1   ? first
         : length == 2 ? (first & 0x1F)
         : length == 3 ? (first & 0x0F)
                       : (first & 0x07);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    static const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    pos += length;
    return true;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendBase64(std::string& out, const std::u16string& units) {
    std::string bytes;
    for (char16_t unit : units) {
        bytes += static_cast<char>(unit >> 8);
        bytes += static_cast<char>(unit & 0xFF);
    }
    unsigned bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = (bits << 8) | c;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += base64Chars[(bits >> count) & 0x3F];
        }
    }
    if (count > 0)
        out += base64Chars[(bits << (6 - count)) & 0x3F];
}

// Decodes one "&...-" run's base64 into UTF-8; false when it is no valid modified UTF-7.
bool decodeBase64Run(const std::string& run, std::string& out) {
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : run) {
        int value = base64Value(c);
        if (value < 0)
            return false;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    // Leftover bits must be zero padding of less than one byte, and the bytes whole units.
    if (count >= 6 || (bits & ((1u << count) - 1)) != 0 || bytes.size() % 2 != 0)
        return false;
    std::string decoded;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        char32_t unit =
            (static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1]);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= bytes.size())
                return false;
            char32_t low = (static_cast<unsigned char>(bytes[i + 2]) << 8) |
                           static_cast<unsigned char>(bytes[i + 3]);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        } else if (unit >= 0x20 && unit <= 0x7E) {
            // Printable ASCII is never shifted: such a run is not ours to decode.
            return false;
        }
        appendUtf8(decoded, unit);
    }
    out += decoded;
    return true;
}

} // namespace

std::string MaildirNames::encodeUtf7(const std::string& utf8, bool* ok) {
    std::string out;
    std::u16string run;
    auto flush = [&]() {
        if (run.empty())
            return;
        out += '&';
        appendBase64(out, run);
        out += '-';
        run.clear();
    };
    size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp = 0;
        if (!nextCodePoint(utf8, pos, cp)) {
            *ok = false;
            return {};
        }
        if (cp >= 0x20 && cp <= 0x7E) {
            flush();
            out += cp == '&' ? std::string("&-") : std::string(1, static_cast<char>(cp));
            continue;
        }
        if (cp >= 0x10000) {
            run += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            run += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            run += static_cast<char16_t>(cp);
        }
    }
    flush();
    *ok = true;
    return out;
}

std::string MaildirNames::decodeUtf7(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] != '&') {
            out += text[pos++];
            continue;
        }
        size_t end = text.find('-', pos + 1);
        if (end == std::string::npos) {
            out += text.substr(pos);
            break;
        }
        if (end == pos + 1) {
            out += '&';
            pos = end + 1;
            continue;
        }
        if (!decodeBase64Run(text.substr(pos + 1, end - pos - 1), out)) {
            out += '&';
            ++pos;
            continue;
        }
        pos = end + 1;
    }
    return out;
}

std::string MaildirNames::encode(const std::string& name) {
    if (name.empty())
        return {};
    bool ok = false;
    std::string utf7 = encodeUtf7(name, &ok);
    if (!ok)
        return {};
    std::string out;
    for (char c : utf7) {
        if (c == '.')
            out += "\\2e";
        else if (c == '/')
            out += "\\2f";
        else if (c == '\\')
            out += "\\5c";
        else
            out += c;
    }
    return out;
}

std::string MaildirNames::decode(const std::string& component) {
    std::string unescaped;
    for (size_t i = 0; i < component.size(); ++i) {
        if (component[i] == '\\' && i + 2 < component.size()) {
            std::string code = component.substr(i + 1, 2);
            if (code == "2e" || code == "2f" || code == "5c") {
                unescaped += code == "2e" ? '.' : code == "2f" ? '/' : '\\';
                i += 2;
                continue;
            }
        }
        unescaped += component[i];
    }
    return decodeUtf7(unescaped);
}

std::string MaildirNames::childDirName(const std::string& parentDir, const std::string& name) {
    std::string component = encode(name);
    if (component.empty())
        return {};
    return parentDir + "." + component;
}

std::vector<std::string> MaildirNames::components(const std::string& dirName) {
    std::vector<std::string> parts;
    if (dirName.size() < 2 || dirName[0] != '.')
        return parts;
    size_t start = 1;
    while (true) {
        size_t dot = dirName.find('.', start);
        parts.push_back(
            dirName.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return parts;
}

std::int32_t MaildirNames::specialType(const std::string& name, bool topLevel) {
    if (!topLevel)
        return FOLDER_NOTSPECIAL;
    if (name == "Drafts")
        return FOLDER_DRAFT;
    if (name == "Sent")
        return FOLDER_SENT;
    if (name == "Trash")
        return FOLDER_DELETED;
    if (name == "Junk")
        return FOLDER_JUNK;
    return FOLDER_NOTSPECIAL;
}
