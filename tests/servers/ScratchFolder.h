#pragma once

#include <string>

#include <sys/types.h>

// A fresh folder under the temporary directory ("brevalo-<label>-XXXXXX") that belongs to
// the mail user (MailUser), removed with everything in it at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& label);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return root; }
    // root + "/" + name.
    std::string operator/(const std::string& name) const { return root + "/" + name; }
    // Writes a file (folders on the way made) that belongs to the mail user; its path.
    std::string write(const std::string& name, const std::string& text, mode_t mode = 0644) const;
    // Makes the folder (and those on the way) the mail user's; its path.
    std::string folder(const std::string& name) const;
    // Gives everything under path to the mail user (after the test process made it).
    static void giveToMailUser(const std::string& path);

private:
    std::string root;
};
