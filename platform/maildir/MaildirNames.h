#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Folder names on disk. A folder is the directory ".<level>[.<level>...]" under the store
// root, one component per level (Maildir++). A component is made from the folder's UTF-8
// name in two steps:
//  1. IMAP modified UTF-7 (RFC 3501): printable ASCII stays, "&" becomes "&-", any other
//     run of characters becomes "&" + base64 of its UTF-16 ("," for "/") + "-";
//  2. our escape of the characters that would change the path: "." (the level separator),
//     "/" (a path separator) and the escape character "\" itself become "\2e", "\2f" and
//     "\5c". No component contains "." or "/", so no name can ever address a directory
//     outside the store ("..", "/etc" and "a/../b" become ordinary folders).
// Decoding undoes both steps; text that is no valid escape or UTF-7 (names made by hand)
// is kept as it is.
class MaildirNames {
public:
    // The component for a folder name; empty when the name is empty or no valid UTF-8.
    static std::string encode(const std::string& name);
    // The folder name of a component.
    static std::string decode(const std::string& component);

    // The directory name of a child: ".<component>" at the top level, else the parent's
    // directory name + "." + component. Empty when the name cannot be encoded.
    static std::string childDirName(const std::string& parentDir, const std::string& name);
    // The components of a directory name ".A.B" (the leading dot dropped).
    static std::vector<std::string> components(const std::string& dirName);

    // The special folder type of a top-level folder by its name: "Drafts", "Sent",
    // "Trash", "Junk" (exact case); FOLDER_NOTSPECIAL for any other name or level.
    static std::int32_t specialType(const std::string& name, bool topLevel);

    // The modified UTF-7 step alone (*ok false for text that is no valid UTF-8).
    static std::string encodeUtf7(const std::string& utf8, bool* ok);
    static std::string decodeUtf7(const std::string& text);
};
