// INI files: whatever a file holds, writing it and reading it back gives the same
// sections, keys and values, and a second write gives the same text. A change the writer
// accepts reads back exactly as given and leaves every other value as it was.
//
// Input: the file's text, optionally followed by "\0\0" and changes, each four fields
// ended by "\0": the operation (its first byte modulo 3: set, delete the key, delete the
// section), the section, the key and the value.
#include "platform/profile/ProfileDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

// Section and key as a reader names them: blanks dropped, case ignored.
using Name = std::pair<std::string, std::string>;
Name nameOf(std::string_view section, std::string_view key) {
    return {lowered(trimmed(section)), lowered(trimmed(key))};
}

// Everything a reader can see: section names in order, and per section its key names
// in order with the value each name reads as.
struct Contents {
    std::vector<std::string> sections;
    std::vector<std::vector<std::string>> keys;
    std::map<Name, std::string> values;
    bool operator==(const Contents&) const = default;
};

Contents contentsOf(const ProfileDocument& document) {
    Contents contents;
    contents.sections = document.sectionNames();
    for (const std::string& section : contents.sections) {
        contents.keys.push_back(document.keyNames(section));
        for (const std::string& key : contents.keys.back()) {
            std::optional<std::string_view> value = document.value(section, key);
            if (!value)
                std::abort(); // a listed key must be found
            contents.values.try_emplace(nameOf(section, key), *value);
        }
    }
    return contents;
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

// Written text read back shows the same, and writing it again changes nothing.
void checkRoundTrip(const ProfileDocument& document) {
    std::string text = document.text();
    ProfileDocument reread = ProfileDocument::parse(text);
    check(contentsOf(reread) == contentsOf(document));
    check(reread.text() == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find(std::string_view("\0\0", 2));
    std::string_view fileText = input.substr(0, split);
    std::string_view script = split == input.npos ? std::string_view() : input.substr(split + 2);

    ProfileDocument document = ProfileDocument::parse(fileText);
    // Writing adds at most a line break per line: memory stays in proportion to the file.
    check(document.text().size() <= 2 * fileText.size() + 2);
    checkRoundTrip(document);
    Contents before = contentsOf(document);

    std::vector<std::string> fields;
    for (std::size_t at = 0; at < script.size();) {
        std::size_t end = script.find('\0', at);
        if (end == script.npos)
            break;
        fields.emplace_back(script.substr(at, end - at));
        at = end + 1;
    }
    std::map<Name, std::optional<std::string>> changed; // none: deleted
    std::vector<std::string> deletedSections;
    for (std::size_t f = 0; f + 3 < fields.size(); f += 4) {
        int operation = fields[f].empty() ? 0 : static_cast<unsigned char>(fields[f][0]) % 3;
        const std::string& section = fields[f + 1];
        const std::string& key = fields[f + 2];
        const std::string& value = fields[f + 3];
        const char* keyArg = operation == 2 ? nullptr : key.c_str();
        const char* valueArg = operation == 0 ? value.c_str() : nullptr;
        if (!ProfileDocument::checkWrite(section.c_str(), keyArg, valueArg).empty())
            continue;
        if (operation == 0) {
            document.set(section, key, value);
            check(document.value(section, key) == std::optional<std::string_view>(value));
            changed[nameOf(section, key)] = value;
        } else if (operation == 1) {
            document.deleteKey(section, key);
            check(!document.value(section, key));
            changed[nameOf(section, key)] = std::nullopt;
        } else {
            document.deleteSection(section);
            check(!document.value(section, key));
            std::string name = lowered(trimmed(section));
            deletedSections.push_back(name);
            std::erase_if(changed, [&](const auto& entry) { return entry.first.first == name; });
        }
    }
    checkRoundTrip(document);

    // The last change of each name holds; names no change touched keep their values.
    ProfileDocument reread = ProfileDocument::parse(document.text());
    for (const auto& [name, value] : changed) {
        std::optional<std::string_view> read = reread.value(name.first, name.second);
        check(value ? read == std::optional<std::string_view>(*value) : !read);
    }
    for (const auto& [name, value] : before.values) {
        if (changed.count(name))
            continue;
        bool sectionGone = false;
        for (const std::string& gone : deletedSections)
            sectionGone |= gone == name.first;
        std::optional<std::string_view> read = reread.value(name.first, name.second);
        check(sectionGone ? !read : read == std::optional<std::string_view>(value));
    }
    return 0;
}
