#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One INI file held in memory: every line as it was read, so lines nobody touches
// (comments, blank lines, unknown sections) are written back unchanged, plus a hashed
// index by lower-cased section and key so a lookup costs the same in any file size.
//
// Rules: "[name]" opens a section; a line whose first non-blank is ";" is a comment;
// "key=value" splits at the first "="; names match without regard to case (A to Z);
// blanks (space, tab) around names and values are dropped; a value enclosed in a pair
// of matching single or double quotes loses them. The first of two equal sections or
// keys is the one read. Lines before the first section are kept but never read.
// Carriage returns before a line feed (or the end of the file) belong to the line break.
// Writing gives back what was read: a value with blanks at either end or in a pair of
// quotes is written inside double quotes.
class ProfileDocument {
public:
    static ProfileDocument parse(std::string_view text);
    // The file's text; line endings follow the first line ending of the parsed text.
    std::string text() const;

    // The value of `key` in `section` (blanks and quotes dropped), or nothing when
    // the section or key is missing. The view lives as long as the document is unchanged.
    std::optional<std::string_view> value(std::string_view section, std::string_view key) const;
    // Where the text ended without a line break after a line that may be cut short (a key
    // line, or a header without its "]"; not a comment or a whole header): "[section] key"
    // (the line's start when it holds no "="), with the value as read when it holds one.
    // Empty when the text is empty or ends with a line break, as every text written here
    // does (an edit clears it). A file cut off mid-way ends inside a line.
    const std::string& unfinishedLine() const { return unfinished_; }
    const std::optional<std::string>& unfinishedValue() const { return unfinishedValue_; }
    // Section names (as spelt in the file) in file order, each name once.
    std::vector<std::string> sectionNames() const;
    // Key names of the section in file order (none when it is missing).
    std::vector<std::string> keyNames(std::string_view section) const;

    // Each returns whether the text of the file changed. `set` adds the section at the
    // end of the file and the key after the section's last entry when they are missing.
    bool set(std::string_view section, std::string_view key, std::string_view value);
    // Deletes every occurrence of the key in the section.
    bool deleteKey(std::string_view section, std::string_view key);
    // Deletes every section of that name with all its lines.
    bool deleteSection(std::string_view section);

    // Why a write of these names could not be read back as written (a line break,
    // a "]" in a section name, an "=" in a key, ...), or empty when it can. A null
    // key or value stands for a deletion and is always fine.
    static std::string checkWrite(const char* section, const char* key, const char* value);

private:
    struct Line {
        std::string text;
        std::size_t equals = std::string::npos; // set only on key lines inside a section
        bool deleted = false;
    };
    struct Slot {
        std::uint64_t hash = 0;
        std::size_t line = noLine;
    };
    static constexpr std::size_t noLine = static_cast<std::size_t>(-1);
    struct Section {
        std::string name; // trimmed, as spelt in the file; empty for the lines before any section
        std::string header;
        std::vector<Line> lines;
        // Open-addressing index of the key lines: one probe finds a key in most
        // lookups, which keeps the cost per key flat even in files of 100,000 keys.
        std::vector<Slot> slots;   // size a power of two, or empty
        std::size_t usedSlots = 0; // slots of deleted lines included
        bool duplicateKeys = false;
        bool deleted = false;
    };

    const Section* findSection(std::string_view section) const;
    Section* findSection(std::string_view section);
    static void indexLine(Section& section, std::size_t at);
    // The first live line holding the key (trimmed; any case), or noLine.
    static std::size_t findKey(const Section& section, std::string_view key, std::uint64_t hash);
    static void addSlot(Section& section, std::uint64_t hash, std::size_t line);
    static void rebuildSlots(Section& section);

    std::vector<Section> sections_{1};
    std::unordered_map<std::string, std::vector<std::size_t>> index_;
    std::string newline_ = "\n";
    bool byteOrderMark_ = false;
    std::string unfinished_;
    std::optional<std::string> unfinishedValue_;
};
