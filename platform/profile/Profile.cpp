#include "platform/profile/Profile.h"

#include "util/Log.h"
#include "platform/profile/ProfileCache.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace {
unsigned copyText(std::string_view text, char* buffer, unsigned size) {
    std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<unsigned>(count);
}

// Names one after another, each null-terminated, the list ended by a second null.
unsigned copyNames(const std::vector<std::string>& names, char* buffer, unsigned size) {
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t at = 0;
    for (const std::string& name : names) {
        // Room for the name, its null and the list's closing null.
        if (at + name.size() + 2 > size) {
            std::size_t room = size - 2 - at;
            std::memcpy(buffer + at, name.data(), room);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + at, name.data(), name.size());
        at += name.size();
        buffer[at++] = '\0';
    }
    buffer[at] = '\0';
    if (at == 0 && size > 1)
        buffer[1] = '\0';
    return static_cast<unsigned>(at);
}

std::string_view withoutTrailingBlanks(const char* text) {
    std::string_view view = text ? text : "";
    while (!view.empty() && (view.back() == ' ' || view.back() == '\t'))
        view.remove_suffix(1);
    return view;
}
} // namespace

unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, unsigned size, const char* fileName) {
    if (!buffer || size == 0)
        return 0;
    std::shared_ptr<const ProfileDocument> document =
        ProfileCache::instance().read(fileName ? fileName : "");
    if (!section)
        return copyNames(document->sectionNames(), buffer, size);
    if (!key)
        return copyNames(document->keyNames(section), buffer, size);
    std::optional<std::string_view> value = document->value(section, key);
    return copyText(value ? *value : withoutTrailingBlanks(defaultValue), buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    static const char* const caller = "WritePrivateProfileStringA";
    // All three null asks to flush a write cache; every write here reaches the disk at once.
    if (!section && !key && !value)
        return true;
    if (!fileName || !*fileName) {
        debugLog("%s: no file name given", caller);
        return false;
    }
    std::string problem = ProfileDocument::checkWrite(section, key, value);
    if (!problem.empty()) {
        debugLog("%s: cannot write [%s] %s in %s: %s", caller, section ? section : "(null)",
                 key ? key : "", fileName, problem.c_str());
        return false;
    }
    return ProfileCache::instance().update(fileName, caller, [&](ProfileDocument& document) {
        if (!key)
            return document.deleteSection(section);
        if (!value)
            return document.deleteKey(section, key);
        return document.set(section, key, value);
    });
}

std::string getProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& fileName) {
    std::shared_ptr<const ProfileDocument> document = ProfileCache::instance().read(fileName);
    std::optional<std::string_view> value = document->value(section, key);
    return value ? std::string(*value) : defaultValue;
}
