#include "util/Hex.h"

#include <cstring>

std::string bytesToHex(const void* bytes, std::size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::string text(count * 2, '0');
    for (std::size_t i = 0; i < count; ++i) {
        text[2 * i] = digits[p[i] >> 4];
        text[2 * i + 1] = digits[p[i] & 0x0F];
    }
    return text;
}

namespace {
unsigned digitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}
} // namespace

void hexToBytes(const std::string& text, void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::memset(out, 0, size);
    std::string digits = text;
    std::size_t n = digits.size() / 2;
    if (n > size) {
        n = size;
    } else if (n < size && digits.size() % 2 == 1) {
        digits.insert(digits.begin(), '0');
        ++n;
    }
    // Pairs taken from the end: byte i gets the pair that ends (n-1-i)*2 digits before
    // the text's end.
    std::size_t end = digits.size();
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t at = end - 2 * (k + 1);
        out[n - 1 - k] =
            static_cast<unsigned char>((digitValue(digits[at]) << 4) | digitValue(digits[at + 1]));
    }
}
