#pragma once

#include <cstddef>
#include <string>

// Each byte in memory order as two upper-case hexadecimal digits.
std::string bytesToHex(const void* bytes, std::size_t count);

// Zeroes the buffer, then decodes digit pairs from the end of the text backwards into
// bytes n-1 down to 0 (n = half the text length, a remainder dropped). With more pairs
// than the buffer holds only the last ones are used; with fewer and an odd length a
// "0" is put in front. Non-hexadecimal digits count as 0.
void hexToBytes(const std::string& text, void* buffer, std::size_t size);
