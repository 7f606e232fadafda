#pragma once

#include "util/DateTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProfileBatch;
class ProfileDocument;

// The value encodings of the net file. Every value, numbers included, is stored as a
// text between two underscores, so the profile functions' dropping of blanks and quotes
// around values cannot touch it; line feeds, carriage returns and tabs are written as
// backslash sequences because a value is one line.

// "_" + text + "_", then LF, CR and tab become "\n", "\r" and "\t".
std::string encodeText(const std::string& text);
// The reverse as a stored value is read: a leading "_" is dropped, a trailing one too
// when the value was longer than one character, then "\n", "\r" and "\t" become LF, CR
// and tab. A backslash is not escaped on writing, so a "\n" typed by the user comes back
// as a line break.
std::string decodeText(const std::string& stored);

// Each double as 16 upper-case hexadecimal digits, the bytes of its IEEE 754 form least
// significant first (1.0 is "000000000000F03F"), joined by "|".
std::string encodeNumbers(const double* values, int count);
// One piece as stored: 16 digits give bytes 0 ... 7 in order; a shorter piece fills the
// first bytes (an odd count gets a leading "0"), the rest stay 0; of a longer piece only
// the last 16 digits count; a pair that is not hexadecimal gives its leading digit's
// value, or 0.
double decodeNumber(std::string_view piece);
// Fills up to count slots from the pieces between "|" and returns how many it filled;
// slots without a piece keep what they held.
int decodeNumbers(std::string_view text, double* slots, int count);
// Why the text is not a list of exactly count finite numbers as encodeNumbers writes
// them (16 hexadecimal digits each, either case), or empty when it is one.
std::string checkNumbers(std::string_view text, int count);

// Addresses joined by ";"; on reading, empty pieces (an empty text, a ";" at either end,
// two adjacent ";") give no address: an empty one is nobody to write to, and could not
// be stored at the end of a list.
std::string joinAddresses(const std::vector<std::string>& addresses);
std::vector<std::string> splitAddresses(const std::string& text);

// A folder or message id stored as decimal text: folder ids are written with "%d" (so
// above 2^31 they read negative) and message ids with "%ld" (up to 2^32 - 1); both give
// the id back. Anything else, -1 included, gives FOLDERID_INVALID.
std::uint32_t storeIdFromText(const std::string& text);

// The net file's primitive operations, one key at a time, through the profile functions.
// Values are read whole (a weight row of a large net is far longer than a profile
// buffer). Three ways to use it:
// - NetFile(fileName): reads and writes the file at once;
// - NetFile::snapshot(fileName): reads answered from one consistent copy of the file as
//   it is now, so a reader of many keys never sees half of another process's save;
// - NetFile(fileName, batch): reads as the first, writes collected in the batch, which
//   replaces the file in one piece when committed.
class NetFile {
public:
    explicit NetFile(std::string fileName);
    NetFile(std::string fileName, ProfileBatch* batch);
    static NetFile snapshot(std::string fileName);
    // A snapshot of the file's text as the caller read it.
    static NetFile ofText(std::string fileName, std::string_view text);

    const std::string& fileName() const { return name; }
    // For a snapshot: why the file as read cannot be trusted whole ("read(<path>) failed:
    // Is a directory", or the line where a file cut off mid-way ends), else empty. A
    // missing file is an empty net, not a damaged one.
    const std::string& damage() const { return damage_; }

    // The decoded value, or nothing when the key (or section, or file) is missing. A key
    // present with an empty value is not missing.
    std::optional<std::string> findText(const std::string& section, const std::string& key) const;
    // The decoded value; the default when the key is missing.
    std::string readText(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
    // The whole decoded text as a decimal integer, else the default.
    int readInt(const std::string& section, const std::string& key, int defaultValue) const;
    // The longest leading real number of the decoded text (full stop), else the default.
    double readReal(const std::string& section, const std::string& key, double defaultValue) const;
    // The 14-digit time stamp; an empty or missing text, or parts that form no real date
    // or time of day, give the default.
    DateTime readDateTime(const std::string& section, const std::string& key,
                          DateTime defaultValue) const;

    // Each returns whether the write reached the file (or the batch).
    bool writeText(const std::string& section, const std::string& key,
                   const std::string& value) const;
    bool writeInt(const std::string& section, const std::string& key, int value) const;
    // "%f": six decimals and a full stop under every locale.
    bool writeReal(const std::string& section, const std::string& key, double value) const;
    bool writeDateTime(const std::string& section, const std::string& key, DateTime value) const;
    bool deleteSection(const std::string& section) const;

private:
    void checkWhole();
    std::optional<std::string> findRaw(const std::string& section, const std::string& key) const;
    bool writeRaw(const std::string& section, const std::string* key,
                  const std::string* value) const;

    std::string name;
    ProfileBatch* batch = nullptr;
    std::shared_ptr<const ProfileDocument> document;
    std::string damage_;
};
