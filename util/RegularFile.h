#pragma once

#include <cstddef>
#include <string>

// Reads a whole file that must be a regular file of at most `limit` bytes: a named pipe,
// a device or a file that keeps growing (another user's home may hold any of them where
// a net is looked for) is refused at once rather than read without end. False with errno
// set (EISDIR a folder, EINVAL another file that is not a regular one, EFBIG too large) when it
// cannot be read.
bool readRegularFile(const std::string& path, std::size_t limit, std::string* text);
