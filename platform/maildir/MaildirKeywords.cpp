#include "platform/maildir/MaildirKeywords.h"

#include "platform/maildir/MaildirIdFile.h"

#include <algorithm>
#include <sstream>

namespace {

bool isKeywordLetter(char c) {
    return c >= 'a' && c <= 'z';
}

} // namespace

MaildirKeywords::MaildirKeywords(const std::string& folderPath) {
    std::string content;
    // A table that cannot be read gives no keywords: its letters are then dropped in copies.
    if (FAILED(MaildirIdFile(folderPath + "/" + fileName).read(&content)))
        return;
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        size_t space = line.find(' ');
        if (space == std::string::npos || space == 0 || space > 2)
            continue;
        std::string number = line.substr(0, space);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        int index = std::stoi(number);
        if (index < static_cast<int>(keywords.size()))
            keywords[static_cast<size_t>(index)] = line.substr(space + 1);
    }
}

const std::string& MaildirKeywords::keyword(char letter) const {
    static const std::string none;
    if (!isKeywordLetter(letter))
        return none;
    return keywords[static_cast<size_t>(letter - 'a')];
}

std::string MaildirKeywords::flagsForCopy(const std::string& flags, const std::string& sourcePath,
                                          const std::string& targetPath) {
    if (std::none_of(flags.begin(), flags.end(), isKeywordLetter))
        return flags; // the common case reads no file
    MaildirKeywords source(sourcePath);
    MaildirKeywords target(targetPath);
    std::string kept;
    for (char c : flags) {
        if (!isKeywordLetter(c) || source.keyword(c) == target.keyword(c))
            kept += c;
    }
    return kept;
}
