#include "platform/profile/ProfileBatch.h"

#include "util/Log.h"
#include "platform/profile/ProfileCache.h"

ProfileBatch::ProfileBatch(std::string fileName) : fileName_(std::move(fileName)) {}

void ProfileBatch::set(std::string section, std::string key, std::string value) {
    changes_.push_back({std::move(section), std::move(key), std::move(value)});
}

void ProfileBatch::deleteKey(std::string section, std::string key) {
    changes_.push_back({std::move(section), std::move(key), std::nullopt});
}

void ProfileBatch::deleteSection(std::string section) {
    changes_.push_back({std::move(section), std::nullopt, std::nullopt});
}

bool ProfileBatch::commit() {
    static const char* const caller = "ProfileBatch::commit";
    error_.clear();
    for (const Change& change : changes_) {
        std::string problem = ProfileDocument::checkWrite(
            change.section.c_str(), change.key ? change.key->c_str() : nullptr,
            change.value ? change.value->c_str() : nullptr);
        if (!problem.empty()) {
            error_ = formatString("cannot write [%s] %s in %s: %s", change.section.c_str(),
                                  change.key ? change.key->c_str() : "", fileName_.c_str(),
                                  problem.c_str());
            debugLog("%s: %s", caller, error_.c_str());
            return false;
        }
    }
    bool written = ProfileCache::instance().update(
        fileName_, caller,
        [this](ProfileDocument& document) {
            bool changed = false;
            for (const Change& change : changes_) {
                if (!change.key)
                    changed |= document.deleteSection(change.section);
                else if (!change.value)
                    changed |= document.deleteKey(change.section, *change.key);
                else
                    changed |= document.set(change.section, *change.key, *change.value);
            }
            return changed;
        },
        &error_);
    if (written)
        changes_.clear();
    return written;
}
