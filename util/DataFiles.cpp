#include "util/DataFiles.h"

#include <unistd.h>

namespace {
std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}
} // namespace

std::string installedDataFolder(const std::string& programFolder) {
    return withSlash(withSlash(programFolder) + BREVALO_DATA_FROM_PROGRAM);
}

std::string findDataFile(const std::string& programFolder, const std::string& name) {
    std::string beside = withSlash(programFolder) + name;
    if (access(beside.c_str(), R_OK) == 0)
        return beside;
    return installedDataFolder(programFolder) + name;
}
