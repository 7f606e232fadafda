#pragma once

#include <array>
#include <string>

// The keywords a folder's lowercase flag letters stand for, as Dovecot keeps them in
// "dovecot-keywords" ("<index> <keyword>" per line; "a" is index 0, "z" index 25). Each
// folder has its own table, so a letter copied into another folder may name another
// keyword there. The file is Dovecot's: it is only read (no lock is needed for that).
class MaildirKeywords {
public:
    static constexpr const char* fileName = "dovecot-keywords";

    // Reads the folder's table; a folder without one gives no letter a keyword.
    explicit MaildirKeywords(const std::string& folderPath);

    // The keyword of a letter "a" to "z"; empty when the folder gives it none.
    const std::string& keyword(char letter) const;

    // The flags a message copied from source into target keeps: every letter but the
    // keyword letters that do not name the same keyword in both folders (dropped: a lost
    // keyword is better than a wrong one, and the target's table is Dovecot's to change).
    static std::string flagsForCopy(const std::string& flags, const std::string& sourcePath,
                                    const std::string& targetPath);

private:
    std::array<std::string, 26> keywords;
};
