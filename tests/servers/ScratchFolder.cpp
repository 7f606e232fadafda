#include "tests/servers/ScratchFolder.h"

#include "tests/servers/MailUser.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const std::string& label) {
    // The mail user must reach it: root's own TMPDIR may be closed to others.
    fs::path base = MailUser::get().switches() ? fs::path("/tmp") : fs::temp_directory_path();
    std::string pattern = (base / ("brevalo-" + label + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp(" + pattern + ") failed: " + std::strerror(errno));
    root = pattern;
    // Servers started by the tests chroot nothing: every process of the mail user must
    // reach the folder.
    chmod(root.c_str(), 0755);
    giveToMailUser(root);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

std::string ScratchFolder::folder(const std::string& name) const {
    std::string path = *this / name;
    fs::create_directories(path);
    giveToMailUser(root);
    return path;
}

std::string ScratchFolder::write(const std::string& name, const std::string& text,
                                 mode_t mode) const {
    std::string path = *this / name;
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            throw std::runtime_error("cannot write " + path);
    }
    chmod(path.c_str(), mode);
    giveToMailUser(root);
    return path;
}

void ScratchFolder::giveToMailUser(const std::string& path) {
    const MailUser& user = MailUser::get();
    if (!user.switches())
        return;
    auto give = [&](const fs::path& item) {
        if (lchown(item.c_str(), user.uid, user.gid) != 0)
            throw std::runtime_error("lchown(" + item.string() +
                                     ") failed: " + std::strerror(errno));
    };
    give(path);
    if (!fs::is_directory(fs::symlink_status(path)))
        return;
    for (const auto& entry : fs::recursive_directory_iterator(path))
        give(entry.path());
}
