#include "mail/TargetFolderName.h"

#include "util/Log.h"
#include "util/Text.h"
#include "platform/maildir/MaildirNames.h"

namespace {

// The file system takes directory names of up to 255 bytes (NAME_MAX), and a target
// folder's directory holds its parents' names too: these are left for the root target folder.
constexpr std::size_t maxDirName = 255;
constexpr std::size_t rootFolderRoom = 64;

} // namespace

std::string TargetFolderName::problem(const std::string& name) {
    if (name.find('\0') != std::string::npos)
        return "holds a NUL character";
    std::string trimmed = trimText(name);
    if (trimmed.empty())
        return "";
    if (trimmed.find('/') != std::string::npos)
        return "holds a \"/\": a target folder is one level below the root";
    if (trimmed == "." || trimmed == "..")
        return "is \"" + trimmed + "\", which names no folder of its own";
    std::string component = MaildirNames::encode(trimmed);
    if (component.empty())
        return "is no UTF-8 text";
    if (component.size() > maxDirName - rootFolderRoom)
        return formatString("is longer than the store allows (%zu bytes as a directory name, "
                            "at most %zu)",
                            component.size(), maxDirName - rootFolderRoom);
    return "";
}
