#pragma once

#include <map>
#include <string>
#include <vector>

// What the sorter has sorted since someone last looked: the number of messages and, per
// folder, how many of them went there. The tray program keeps one for its tooltip (since
// the settings window was last opened) and one for its message (since the last one).
class SortedTally {
public:
    // One message that left the inbox into these folders (blank names are not folders).
    void add(const std::vector<std::string>& folders);
    void clear();

    int messages() const { return count; }
    bool empty() const { return count == 0; }
    // "Invoices 2, Travel 1": the folders with their counts, the fullest first (names in
    // order among equals); a message sorted into two folders counts in both.
    std::string folderSummary() const;

private:
    int count = 0;
    std::map<std::string, int> perFolder;
};
