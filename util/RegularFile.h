#pragma once

#include <cstddef>
#include <string>

// Reads a whole file that must be a regular file of at most `limit` bytes: a named pipe,
// a device or a file that keeps growing (another user's home may hold any of them where
// a net is looked for) is refused at once rather than read without end. False with errno
// set (EISDIR a folder, EINVAL another file that is not a regular one, EFBIG too large) when it
// cannot be read.
bool readRegularFile(const std::string& path, std::size_t limit, std::string* text);
// Replaces a file whole (mode 0600): written under a temporary name beside it, then renamed
// over it, so readers see the old file or the new one. Not synced: for a cache that checks
// what it reads, whose loss costs only its making again. False with errno set.
bool replaceFileUnsynced(const std::string& path, const std::string& bytes);
