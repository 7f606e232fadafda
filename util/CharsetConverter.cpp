#include "util/CharsetConverter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

#include <iconv.h>
#include <strings.h>

namespace {

// UTF-16 in the order of char16_t in memory.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char* utf16 = "UTF-16LE";
constexpr char replacementUtf16[] = "\xFD\xFF";
#else
constexpr const char* utf16 = "UTF-16BE";
constexpr char replacementUtf16[] = "\xFF\xFD";
#endif
constexpr std::string_view replacementUtf8 = "\xEF\xBF\xBD";
constexpr std::string_view questionMark = "?";

const iconv_t noConverter = reinterpret_cast<iconv_t>(-1);

// The descriptors this thread opened, kept for the next conversion the same way (an
// iconv_open costs far more than converting a header).
class Converters {
public:
    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters() {
        for (auto& [key, cd] : open)
            if (cd != noConverter)
                iconv_close(cd);
    }

    // Reset to its initial shift state; noConverter when iconv knows either name not.
    iconv_t get(const char* to, const std::string& from) {
        std::string key = std::string(to) + '\n' + from;
        auto found = open.find(key);
        if (found == open.end())
            found = open.emplace(key, iconv_open(to, from.c_str())).first;
        if (found->second != noConverter)
            iconv(found->second, nullptr, nullptr, nullptr, nullptr);
        return found->second;
    }

private:
    std::map<std::string, iconv_t> open;
};

Converters& converters() {
    thread_local Converters perThread;
    return perThread;
}

std::size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// How many bytes one unit of a charset's input has, for skipping one that does not decode.
std::size_t unitSize(const std::string& charset) {
    auto starts = [&](const char* prefix) {
        return strncasecmp(charset.c_str(), prefix, std::strlen(prefix)) == 0;
    };
    if (starts("UTF-16") || starts("UTF16") || starts("UCS-2") || starts("UCS2"))
        return 2;
    if (starts("UTF-32") || starts("UTF32") || starts("UCS-4") || starts("UCS4"))
        return 4;
    return 1;
}

// Converts all of the input with cd; at input that does not convert, appends replacement
// and skips what skip() says. Returns the number of replacements.
template <class Skip>
std::size_t run(iconv_t cd, std::string_view input, std::string& out, std::string_view replacement,
                Skip skip) {
    std::size_t replaced = 0;
    char buffer[8192];
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        int error = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1) || error == E2BIG)
            continue;
        // EILSEQ (does not convert) or EINVAL (cut off at the end).
        out.append(replacement);
        ++replaced;
        std::size_t skipped = std::min(std::max<std::size_t>(skip(in, inLeft), 1), inLeft);
        in += skipped;
        inLeft -= skipped;
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    return replaced;
}

// Decoding: one unit of the source at a time.
std::size_t decode(iconv_t cd, std::string_view input, std::size_t unit, std::string& out,
                   std::string_view replacement) {
    return run(cd, input, out, replacement, [unit](const char*, std::size_t) { return unit; });
}

// Encoding from UTF-8: the whole character the target lacks, or one byte that is no UTF-8.
void encodeUtf8(iconv_t cd, std::string_view input, std::string& out) {
    iconv_t check = converters().get("UTF-8", "UTF-8");
    run(cd, input, out, questionMark, [check](const char* at, std::size_t left) {
        std::size_t length = std::min(utf8Length(static_cast<unsigned char>(*at)), left);
        char buffer[8];
        char* in = const_cast<char*>(at);
        std::size_t inLeft = length, outLeft = sizeof buffer;
        char* outPtr = buffer;
        iconv(check, nullptr, nullptr, nullptr, nullptr);
        bool character =
            iconv(check, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
        return character ? length : 1;
    });
}

// Text is mostly ASCII, which UTF-8 and UTF-16 write alike: only the runs of other units
// go through iconv. An ASCII unit is always a character boundary in both, so the runs
// convert (and their bad units are replaced) exactly as the whole would.
bool isAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

bool isAscii(char16_t c) {
    return c < 0x80;
}

template <class Unit, class Ascii, class Other>
void byRuns(std::basic_string_view<Unit> text, Ascii ascii, Other other) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < text.size() && isAscii(text[end]))
            ++end;
        if (end > at)
            ascii(text.substr(at, end - at));
        at = end;
        while (end < text.size() && !isAscii(text[end]))
            ++end;
        if (end > at)
            other(text.substr(at, end - at));
        at = end;
    }
}

bool isUtf8Name(const std::string& charset) {
    return strcasecmp(charset.c_str(), "UTF-8") == 0 || strcasecmp(charset.c_str(), "UTF8") == 0;
}

bool isLatin1Name(const std::string& charset) {
    return strcasecmp(charset.c_str(), "ISO-8859-1") == 0 ||
           strcasecmp(charset.c_str(), "ISO8859-1") == 0 ||
           strcasecmp(charset.c_str(), "LATIN1") == 0;
}

// Each byte is the code point of its value: what iconv gives, without its passes through
// 32-bit characters (a tenth of a delivery of a message in Latin-1).
void latin1ToUtf8(std::string_view bytes, std::string& out) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t run = at;
        while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80)
            ++run;
        out.append(bytes.data() + at, run - at);
        if (run == bytes.size())
            break;
        auto c = static_cast<unsigned char>(bytes[run]);
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
        at = run + 1;
    }
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF. Text this
// accepts iconv keeps as it is, so most text skips iconv entirely; what it refuses goes the
// long way and comes out as before.
bool isStrictUtf8(std::string_view bytes) {
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* end = at + bytes.size();
    while (at < end) {
        // Eight ASCII bytes at a time: most mail is ASCII.
        while (end - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, at, 8);
            if (word & 0x8080808080808080ull)
                break;
            at += 8;
        }
        if (at == end)
            break;
        unsigned char lead = *at;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || static_cast<std::size_t>(end - at) < length)
            return false;
        unsigned char second = at[1];
        unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        if (second < low || second > high)
            return false;
        for (std::size_t i = 2; i < length; ++i)
            if ((at[i] & 0xC0) != 0x80)
                return false;
        at += length;
    }
    return true;
}

// UTF-8 with every byte that does not decode replaced; the number of replacements.
std::size_t repairUtf8(std::string_view bytes, std::string& out) {
    if (isStrictUtf8(bytes)) {
        out.append(bytes);
        return 0;
    }
    iconv_t cd = converters().get("UTF-8", "UTF-8");
    std::size_t replaced = 0;
    byRuns(
        bytes, [&](std::string_view run) { out.append(run); },
        [&](std::string_view run) { replaced += decode(cd, run, 1, out, replacementUtf8); });
    return replaced;
}

} // namespace

bool CharsetConverter::toUtf8(std::string_view bytes, const std::string& charset,
                              std::string* out) {
    out->clear();
    out->reserve(bytes.size() + bytes.size() / 4);
    if (isUtf8Name(charset)) {
        repairUtf8(bytes, *out);
        return true;
    }
    if (isLatin1Name(charset)) {
        latin1ToUtf8(bytes, *out);
        return true;
    }
    iconv_t cd = converters().get("UTF-8", charset);
    if (cd == noConverter)
        return false;
    decode(cd, bytes, unitSize(charset), *out, replacementUtf8);
    return true;
}

bool CharsetConverter::fromUtf8(std::string_view utf8, const std::string& charset,
                                std::string* out) {
    out->clear();
    iconv_t cd = converters().get(charset.c_str(), "UTF-8");
    if (cd == noConverter)
        return false;
    out->reserve(utf8.size());
    encodeUtf8(cd, utf8, *out);
    return true;
}

std::u16string CharsetConverter::utf8ToUtf16(std::string_view utf8) {
    std::u16string text;
    text.reserve(utf8.size());
    // Opened at the first non-ASCII run: ASCII text (most of it) never loads the converter.
    iconv_t cd = noConverter;
    std::string bytes;
    byRuns(
        utf8, [&](std::string_view run) { text.append(run.begin(), run.end()); },
        [&](std::string_view run) {
            if (cd == noConverter)
                cd = converters().get(utf16, "UTF-8");
            bytes.clear();
            decode(cd, run, 1, bytes, std::string_view(replacementUtf16, 2));
            std::size_t at = text.size();
            text.resize(at + bytes.size() / 2);
            std::memcpy(text.data() + at, bytes.data(), bytes.size() / 2 * 2);
        });
    return text;
}

std::string CharsetConverter::utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    iconv_t cd = noConverter;
    byRuns(
        text,
        [&](std::u16string_view run) {
            for (char16_t c : run)
                out += static_cast<char>(c);
        },
        [&](std::u16string_view run) {
            if (cd == noConverter)
                cd = converters().get("UTF-8", utf16);
            // A lone surrogate is no character: encoding, it becomes "?".
            decode(cd, std::string_view(reinterpret_cast<const char*>(run.data()), 2 * run.size()),
                   2, out, questionMark);
        });
    return out;
}

bool CharsetConverter::isUtf8(std::string_view bytes) {
    if (isStrictUtf8(bytes))
        return true;
    std::string scratch;
    std::size_t replaced = 0;
    iconv_t cd = converters().get("UTF-8", "UTF-8");
    byRuns(
        bytes, [](std::string_view) {},
        [&](std::string_view run) {
            scratch.clear();
            replaced += decode(cd, run, 1, scratch, replacementUtf8);
        });
    return replaced == 0;
}
