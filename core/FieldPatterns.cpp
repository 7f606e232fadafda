#include "core/FieldPatterns.h"

#include "core/HeaderField.h"
#include "core/Stimulation.h"

#include <algorithm>
#include <map>

FieldPatterns::FieldPatterns(const std::vector<std::vector<std::string>>& texts,
                             const std::vector<std::string>& fields)
    : inputs(static_cast<int>(texts.size())) {
    auto fieldOf = [&fields](std::size_t input) {
        return input < fields.size() ? fields[input] : std::string();
    };
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::string key = fieldOf(i);
        if (!key.empty() &&
            std::find(headerKeys.begin(), headerKeys.end(), key) == headerKeys.end())
            headerKeys.push_back(key);
    }
    std::sort(headerKeys.begin(), headerKeys.end());
    std::vector<std::string> keys{std::string()};
    keys.insert(keys.end(), headerKeys.begin(), headerKeys.end());
    // The other fields' inputs keep their place with no patterns: ids, and so compiled
    // databases kept between processes, stay those of a net of body stimulations alone.
    for (const std::string& key : keys) {
        std::vector<std::vector<std::string>> own(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (fieldOf(i) == key)
                own[i] = texts[i];
        }
        groups.push_back({key, std::make_unique<const PatternSet>(own)});
    }
}

std::vector<std::string> FieldPatterns::groupTexts(const std::string& text) const {
    std::vector<std::string> out;
    if (headerKeys.empty()) {
        out.push_back(normalizeText(text));
        return out;
    }
    std::map<std::string, std::string> fields;
    out.push_back(normalizeText(std::string(HeaderField::split(text, &fields))));
    for (std::size_t g = 1; g < groups.size(); ++g)
        out.push_back(normalizeText(fields[groups[g].field]));
    return out;
}

std::vector<char> FieldPatterns::matchingInputs(const std::string& text,
                                                MatchBudget& budget) const {
    std::vector<std::string> own = groupTexts(text);
    std::vector<char> matched = groups[0].set->matchingInputs(own[0], budget);
    for (std::size_t g = 1; g < groups.size(); ++g) {
        std::vector<char> more = groups[g].set->matchingInputs(own[g], budget);
        for (int i = 0; i < inputs; ++i)
            matched[i] = matched[i] || more[i];
    }
    return matched;
}

bool FieldPatterns::anyMatches(const std::string& text, MatchBudget& budget) const {
    std::vector<std::string> own = groupTexts(text);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (groups[g].set->anyMatches(own[g], budget))
            return true;
    }
    return false;
}
