#include "tests/servers/StoreContents.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

std::map<std::string, StoreContents::Placed> StoreContents::messages(const std::string& maildir) {
    std::map<std::string, Placed> found;
    for (const auto& entry : fs::recursive_directory_iterator(maildir)) {
        std::string sub = entry.path().parent_path().filename();
        if (!entry.is_regular_file() || (sub != "new" && sub != "cur" && sub != "tmp"))
            continue;
        std::stringstream text;
        text << std::ifstream(entry.path()).rdbuf();
        std::smatch match;
        std::string content = text.str();
        if (!std::regex_search(content, match, std::regex("Message-ID: (<[^>]+>)")))
            continue;
        std::string folder = fs::relative(entry.path().parent_path().parent_path(), maildir);
        Placed& placed = found[match[1]];
        placed.folders.push_back((folder == "." ? "" : folder) + (sub == "tmp" ? " tmp" : ""));
        placed.text = content;
    }
    return found;
}
