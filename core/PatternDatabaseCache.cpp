#include "core/PatternDatabaseCache.h"

#include "util/Log.h"
#include "util/RegularFile.h"
#include "core/NetSnapshot.h"

#include <hs.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Far beyond the compiled patterns of any net people make.
constexpr std::size_t maxFileBytes = std::size_t{256} << 20;

// Format 1 summed a byte at a time, as much as a delivery's own matching cost.
constexpr std::string_view magic = "brevalo-pattern-cache 2\n";

std::uint64_t checksum(std::string_view bytes) {
    return NetSnapshot::digest(bytes);
}

void putNumber(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// Reads a number at `at` and moves past it; false when the bytes end first.
bool takeNumber(std::string_view bytes, std::size_t& at, std::uint64_t& value) {
    if (bytes.size() - at < 8)
        return false;
    value = 0;
    for (int i = 0; i < 8; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    at += 8;
    return true;
}

bool takeBytes(std::string_view bytes, std::size_t& at, std::string& value) {
    std::uint64_t length = 0;
    if (!takeNumber(bytes, at, length) || length > bytes.size() - at)
        return false;
    value.assign(bytes.substr(at, length));
    at += length;
    return true;
}

std::string header() {
    return std::string(magic) + hs_version() + "\n";
}

// The entries of a cache file, or why it is not used.
const char* parse(std::string_view bytes, std::map<std::string, std::string>& entries) {
    std::string expected = header();
    if (bytes.substr(0, magic.size()) != magic)
        return "not a pattern cache of this format";
    if (bytes.substr(0, expected.size()) != expected)
        return "written with another vectorscan version";
    if (bytes.size() < expected.size() + 8)
        return "cut short";
    std::string_view body = bytes.substr(0, bytes.size() - 8);
    std::size_t at = body.size();
    std::uint64_t sum = 0;
    takeNumber(bytes, at, sum);
    if (sum != checksum(body))
        return "cut short or changed (its checksum does not match)";
    at = expected.size();
    while (at < body.size()) {
        std::string key, database;
        if (!takeBytes(body, at, key) || !takeBytes(body, at, database))
            return "cut short";
        entries[key] = database;
    }
    return nullptr;
}

} // namespace

PatternDatabaseCache::PatternDatabaseCache(std::string fileName) : file(std::move(fileName)) {}

void PatternDatabaseCache::readFile() {
    read = true;
    std::string bytes;
    if (!readRegularFile(file, maxFileBytes, &bytes) && errno == ENOENT)
        return; // none yet
    if (const char* why = parse(bytes, kept)) {
        kept.clear();
        debugLog("pattern cache %s: %s; compiled afresh", file.c_str(), why);
    }
}

hs_database* PatternDatabaseCache::load(const std::string& key) {
    std::lock_guard<std::mutex> guard(mutex);
    if (!read)
        readFile();
    auto entry = kept.find(key);
    if (entry == kept.end())
        return nullptr;
    hs_database_t* database = nullptr;
    if (hs_deserialize_database(entry->second.data(), entry->second.size(), &database) !=
        HS_SUCCESS) {
        debugLog("pattern cache %s: vectorscan refuses a database; compiled afresh", file.c_str());
        return nullptr;
    }
    used[key] = entry->second;
    ++found;
    return database;
}

void PatternDatabaseCache::save(const std::string& key, const hs_database* database) {
    char* bytes = nullptr;
    std::size_t length = 0;
    if (hs_serialize_database(database, &bytes, &length) != HS_SUCCESS)
        return;
    std::lock_guard<std::mutex> guard(mutex);
    used[key].assign(bytes, length);
    std::free(bytes);
    writeFile();
}

void PatternDatabaseCache::writeFile() const {
    std::string bytes = header();
    for (const auto& [key, database] : used) {
        putNumber(bytes, key.size());
        bytes += key;
        putNumber(bytes, database.size());
        bytes += database;
    }
    putNumber(bytes, checksum(bytes));
    // Readers see the old file or the new one whole. No fsync: a file a crash cuts short
    // fails its checksum and is compiled afresh.
    if (!replaceFileUnsynced(file, bytes))
        debugLog("pattern cache %s: cannot write it (%s)", file.c_str(), std::strerror(errno));
}
