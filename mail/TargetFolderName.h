#pragma once

#include <string>

// Whether a name can be a target folder's: the sorter creates a folder of that name one
// level below the root target folder, so the name may not climb out of it or name another
// level, and must fit the file system as a directory name. Shared by import and by the
// commands and windows that add or rename a target folder.
class TargetFolderName {
public:
    // Empty when the name is fit, else why not ("holds a \"/\": ..."). A blank name is fit:
    // its messages stay in the inbox.
    static std::string problem(const std::string& name);
};
