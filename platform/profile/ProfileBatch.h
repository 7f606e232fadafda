#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Many writes to one profile file applied together: the changes are collected, then
// `commit` applies them in order under one lock and replaces the file once, so
// writing thousands of keys costs one rewrite, and a crash leaves either the file of
// before the batch or the one after it.
class ProfileBatch {
public:
    explicit ProfileBatch(std::string fileName);

    void set(std::string section, std::string key, std::string value);
    void deleteKey(std::string section, std::string key);
    void deleteSection(std::string section);

    // Applies every collected change and replaces the file once. On success the batch
    // is emptied and true returned. On failure (the file cannot be written, or a name
    // or value cannot be stored as given, see WritePrivateProfileStringA) nothing is
    // written, a debugLog line names "ProfileBatch::commit", the path and the reason,
    // the changes stay collected, the result is false and error() holds the reason.
    bool commit();
    // Why the last commit failed ("write(<path>) failed: No space left on device").
    const std::string& error() const { return error_; }

    std::size_t size() const { return changes_.size(); }
    const std::string& fileName() const { return fileName_; }

private:
    struct Change {
        std::string section;
        std::optional<std::string> key;   // none: delete the section
        std::optional<std::string> value; // none: delete the key
    };

    std::string fileName_;
    std::vector<Change> changes_;
    std::string error_;
};
