#include "shell/SortedTally.h"

#include "util/Text.h"

#include <algorithm>
#include <set>

void SortedTally::add(const std::vector<std::string>& folders) {
    ++count;
    // Two chosen folders of one name are one folder of the store: one copy lies there.
    std::set<std::string> names;
    for (const std::string& folder : folders) {
        std::string name = trimText(folder);
        if (!name.empty() && names.insert(name).second)
            ++perFolder[name];
    }
}

void SortedTally::clear() {
    count = 0;
    perFolder.clear();
}

std::string SortedTally::folderSummary() const {
    std::vector<std::pair<std::string, int>> folders(perFolder.begin(), perFolder.end());
    // Stable: the map's name order stays among folders of the same count.
    std::stable_sort(folders.begin(), folders.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string summary;
    for (const auto& [name, messages] : folders) {
        if (!summary.empty())
            summary += ", ";
        summary += name + " " + std::to_string(messages);
    }
    return summary;
}
