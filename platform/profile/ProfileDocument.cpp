#include "platform/profile/ProfileDocument.h"

#include <cstring>
#include <unordered_set>
#include <utility>

namespace {
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

std::string_view unquoted(std::string_view value) {
    if (value.size() < 2)
        return value;
    char first = value.front();
    if ((first != '"' && first != '\'') || value.back() != first)
        return value;
    return value.substr(1, value.size() - 2);
}

// The name inside "[name]" (a missing "]" ends the name at the line's end), or
// nothing when the line is not a section header.
std::optional<std::string_view> headerName(std::string_view line) {
    std::string_view trimmed = trimBlanks(line);
    if (trimmed.empty() || trimmed.front() != '[')
        return std::nullopt;
    trimmed.remove_prefix(1);
    std::size_t close = trimmed.find(']');
    if (close != std::string_view::npos)
        trimmed = trimmed.substr(0, close);
    return trimBlanks(trimmed);
}

// A value as written after "key=": one that reading would change (blanks at either end,
// or a pair of matching quotes around it) goes inside double quotes, which reading drops.
std::string storedValue(std::string_view value) {
    if (!value.empty() &&
        (isBlank(value.front()) || isBlank(value.back()) || unquoted(value).size() != value.size()))
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The eight bytes with A to Z made a to z, all at once: each byte's 7 low bits plus an
// offset set its high bit when above "Z" or from "A" on, without a carry into the next.
std::uint64_t foldedWord(std::uint64_t word) {
    const std::uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
    std::uint64_t low = word & ~high;
    std::uint64_t aboveZ = low + ones * (0x7F - 'Z');
    std::uint64_t fromA = low + ones * (0x80 - 'A');
    std::uint64_t upper = fromA & ~aboveZ & ~word & high;
    return word | (upper >> 2);
}

// Of the key without regard to case (A to Z), so no lower-cased copy is made to hash it;
// eight bytes a step.
std::uint64_t hashOf(std::string_view key) {
    constexpr std::uint64_t k1 = 0x9E3779B97F4A7C15ull, k2 = 0xC2B2AE3D27D4EB4Full;
    std::uint64_t hash = key.size() * k1;
    auto mix = [&hash](std::uint64_t word) {
        hash = (hash ^ (foldedWord(word) * k2)) * k1;
        hash ^= hash >> 29;
    };
    std::size_t at = 0;
    for (; at + 8 <= key.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, key.data() + at, 8);
        mix(word);
    }
    std::uint64_t tail = 0;
    for (std::size_t i = at; i < key.size(); ++i)
        tail |= std::uint64_t{static_cast<unsigned char>(key[i])} << (8 * (i - at));
    mix(tail);
    return hash;
}

// Whether the key part of a line, blanks dropped, is `key` (trimmed) regardless of case.
bool sameKey(std::string_view keyPart, std::string_view key) {
    keyPart = trimBlanks(keyPart);
    if (keyPart.size() != key.size())
        return false;
    for (std::size_t i = 0; i < keyPart.size(); ++i)
        if (folded(keyPart[i]) != folded(key[i]))
            return false;
    return true;
}

// The key of a key line: the trimmed text before its "=".
std::string_view keyOf(std::string_view line, std::size_t equals) {
    return trimBlanks(line.substr(0, equals));
}

// Where the "=" of a key line is: not in a blank line or a comment.
std::size_t equalsOf(std::string_view line) {
    std::string_view trimmed = trimBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';')
        return std::string_view::npos;
    return line.find('=');
}
} // namespace

ProfileDocument ProfileDocument::parse(std::string_view text) {
    ProfileDocument document;
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark) {
        document.byteOrderMark_ = true;
        text.remove_prefix(byteOrderMark.size());
    }
    std::size_t firstBreak = text.find('\n');
    if (firstBreak != text.npos && firstBreak > 0 && text[firstBreak - 1] == '\r')
        document.newline_ = "\r\n";

    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        std::size_t next = end == text.npos ? text.size() : end + 1;
        if (end == text.npos)
            end = text.size();
        std::string_view line = text.substr(from, end - from);
        from = next;
        // Every carriage return before the line feed belongs to the line break: were one
        // kept in the line, writing it back would end it in CR LF, which reads as a break.
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        if (std::optional<std::string_view> name = headerName(line)) {
            Section section;
            section.name = std::string(*name);
            section.header = std::string(line);
            document.index_[lowered(*name)].push_back(document.sections_.size());
            document.sections_.push_back(std::move(section));
            continue;
        }
        Section& section = document.sections_.back();
        section.lines.push_back(Line{std::string(line)});
        if (document.sections_.size() > 1)
            section.lines.back().equals = equalsOf(line);
    }
    // Indexed once each section is whole: a table sized for all its keys at once.
    for (std::size_t s = 1; s < document.sections_.size(); ++s)
        rebuildSlots(document.sections_[s]);
    if (!text.empty() && text.back() != '\n') {
        // Bounded: the file may be anything.
        auto shown = [](std::string_view name) { return std::string(name.substr(0, 40)); };
        const Section& last = document.sections_.back();
        std::string_view line = last.lines.empty() ? std::string_view(last.header)
                                                   : std::string_view(last.lines.back().text);
        std::string_view trimmed = trimBlanks(line);
        bool header = last.lines.empty() && document.sections_.size() > 1;
        bool whole =
            header ? trimmed.find(']') != trimmed.npos : trimmed.empty() || trimmed.front() == ';';
        if (!whole) {
            document.unfinished_ = "[" + shown(last.name) + "]";
            std::size_t equals = line.find('=');
            if (!header)
                document.unfinished_ += " " + shown(trimBlanks(line.substr(0, equals)));
            if (!header && equals != line.npos)
                document.unfinishedValue_ =
                    std::string(unquoted(trimBlanks(line.substr(equals + 1))));
        }
    }
    return document;
}

void ProfileDocument::indexLine(Section& section, std::size_t at) {
    Line& line = section.lines[at];
    line.equals = equalsOf(line.text);
    if (line.equals == std::string::npos)
        return;
    // At most half full, so probes stay short and always meet an empty slot.
    if ((section.usedSlots + 1) * 2 > section.slots.size()) {
        rebuildSlots(section);
        return;
    }
    std::string_view key = keyOf(line.text, line.equals);
    std::uint64_t hash = hashOf(key);
    if (findKey(section, key, hash) != noLine) {
        section.duplicateKeys = true;
        return;
    }
    addSlot(section, hash, at);
}

void ProfileDocument::rebuildSlots(Section& section) {
    std::size_t keys = 0;
    for (const Line& line : section.lines)
        keys += !line.deleted && line.equals != std::string::npos;
    std::size_t size = 16;
    while (size < keys * 4)
        size *= 2;
    section.slots.assign(size, Slot{});
    section.usedSlots = 0;
    for (std::size_t at = 0; at < section.lines.size(); ++at) {
        const Line& line = section.lines[at];
        if (line.deleted || line.equals == std::string::npos)
            continue;
        std::string_view key = keyOf(line.text, line.equals);
        std::uint64_t hash = hashOf(key);
        // Lines come in file order, so the first of two equal keys keeps the slot.
        if (findKey(section, key, hash) != noLine) {
            section.duplicateKeys = true;
            continue;
        }
        addSlot(section, hash, at);
    }
}

std::size_t ProfileDocument::findKey(const Section& section, std::string_view key,
                                     std::uint64_t hash) {
    if (section.slots.empty())
        return noLine;
    std::size_t mask = section.slots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = section.slots[at];
        if (slot.line == noLine)
            return noLine;
        if (slot.hash != hash || slot.line >= section.lines.size())
            continue;
        // Slots of deleted lines, or of lines moved by an insertion, are skipped here.
        const Line& line = section.lines[slot.line];
        if (!line.deleted && line.equals != std::string::npos &&
            sameKey(std::string_view(line.text).substr(0, line.equals), key))
            return slot.line;
    }
}

void ProfileDocument::addSlot(Section& section, std::uint64_t hash, std::size_t line) {
    std::size_t mask = section.slots.size() - 1;
    std::size_t at = hash & mask;
    while (section.slots[at].line != noLine)
        at = (at + 1) & mask;
    section.slots[at] = Slot{hash, line};
    ++section.usedSlots;
}

std::string ProfileDocument::text() const {
    std::string result;
    if (byteOrderMark_)
        result += byteOrderMark;
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        if (section.deleted)
            continue;
        if (s > 0) {
            result += section.header;
            result += newline_;
        }
        for (const Line& line : section.lines) {
            if (line.deleted)
                continue;
            result += line.text;
            result += newline_;
        }
    }
    return result;
}

const ProfileDocument::Section* ProfileDocument::findSection(std::string_view section) const {
    auto found = index_.find(lowered(trimBlanks(section)));
    if (found == index_.end() || found->second.empty())
        return nullptr;
    return &sections_[found->second.front()];
}

ProfileDocument::Section* ProfileDocument::findSection(std::string_view section) {
    return const_cast<Section*>(std::as_const(*this).findSection(section));
}

std::optional<std::string_view> ProfileDocument::value(std::string_view section,
                                                       std::string_view key) const {
    const Section* found = findSection(section);
    if (!found)
        return std::nullopt;
    std::string_view wanted = trimBlanks(key);
    std::size_t line = findKey(*found, wanted, hashOf(wanted));
    if (line == noLine)
        return std::nullopt;
    const Line& entry = found->lines[line];
    return unquoted(trimBlanks(std::string_view(entry.text).substr(entry.equals + 1)));
}

std::vector<std::string> ProfileDocument::sectionNames() const {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (std::size_t s = 1; s < sections_.size(); ++s) {
        if (!sections_[s].deleted && seen.insert(lowered(sections_[s].name)).second)
            names.push_back(sections_[s].name);
    }
    return names;
}

std::vector<std::string> ProfileDocument::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    const Section* found = findSection(section);
    if (!found)
        return names;
    for (const Line& line : found->lines) {
        if (!line.deleted && line.equals != std::string::npos)
            names.emplace_back(trimBlanks(std::string_view(line.text).substr(0, line.equals)));
    }
    return names;
}

bool ProfileDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    unfinished_.clear();
    unfinishedValue_.reset();
    section = trimBlanks(section);
    key = trimBlanks(key);
    Section* target = findSection(section);
    if (!target) {
        Section added;
        added.name = std::string(section);
        added.header = "[" + added.name + "]";
        index_[lowered(section)].push_back(sections_.size());
        sections_.push_back(std::move(added));
        target = &sections_.back();
    }
    std::string lowKey = lowered(key);
    std::size_t found = findKey(*target, lowKey, hashOf(lowKey));
    if (found != noLine) {
        Line& line = target->lines[found];
        std::string text = line.text.substr(0, line.equals + 1);
        text += storedValue(value);
        if (text == line.text)
            return false;
        line.text = std::move(text);
        return true;
    }
    // After the last line that is neither blank nor deleted, so the blank lines that
    // part this section from the next one stay at its end.
    std::size_t at = target->lines.size();
    while (at > 0 &&
           (target->lines[at - 1].deleted || trimBlanks(target->lines[at - 1].text).empty()))
        --at;
    std::string text(key);
    text += '=';
    text += storedValue(value);
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(at),
                         Line{std::move(text)});
    indexLine(*target, at);
    return true;
}

bool ProfileDocument::deleteKey(std::string_view section, std::string_view key) {
    unfinished_.clear();
    unfinishedValue_.reset();
    Section* target = findSection(section);
    if (!target)
        return false;
    std::string lowKey = lowered(trimBlanks(key));
    std::size_t found = findKey(*target, lowKey, hashOf(lowKey));
    if (found == noLine)
        return false;
    target->lines[found].deleted = true;
    if (!target->duplicateKeys)
        return true;
    for (Line& line : target->lines) {
        if (line.deleted || line.equals == std::string::npos)
            continue;
        if (lowered(trimBlanks(std::string_view(line.text).substr(0, line.equals))) == lowKey)
            line.deleted = true;
    }
    return true;
}

bool ProfileDocument::deleteSection(std::string_view section) {
    unfinished_.clear();
    unfinishedValue_.reset();
    auto found = index_.find(lowered(trimBlanks(section)));
    if (found == index_.end())
        return false;
    for (std::size_t s : found->second)
        sections_[s].deleted = true;
    index_.erase(found);
    return true;
}

std::string ProfileDocument::checkWrite(const char* section, const char* key, const char* value) {
    if (!section)
        return "no section given";
    std::string_view name = trimBlanks(section);
    if (hasLineBreak(name))
        return "line break in section name";
    if (name.find(']') != name.npos)
        return "\"]\" in section name";
    if (!key)
        return {};
    std::string_view keyName = trimBlanks(key);
    if (hasLineBreak(keyName))
        return "line break in key";
    if (keyName.find('=') != keyName.npos)
        return "\"=\" in key";
    if (!keyName.empty() && (keyName.front() == '[' || keyName.front() == ';'))
        return "key starts with \"[\" or \";\"";
    if (value && hasLineBreak(value))
        return "line break in value";
    return {};
}
