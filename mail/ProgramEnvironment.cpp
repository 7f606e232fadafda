#include "mail/ProgramEnvironment.h"

#include "platform/OEMessage.h"
#include "platform/Store.h"

#include <cstdlib>
#include <unistd.h>

namespace {

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

std::string ProgramEnvironment::stringsFile() const {
    std::string inHome = home + "strings.ini";
    if (access(inHome.c_str(), R_OK) == 0)
        return inHome;
    return programFolder + "strings.ini";
}

ProgramEnvironment ProgramEnvironment::fromProcess(const std::string& programFolder) {
    ProgramEnvironment environment;
    environment.programFolder = withSlash(programFolder);
    const char* home = std::getenv("BREVALO_HOME");
    environment.home = withSlash(home && *home ? home : environment.programFolder);
    environment.storeRoot = defaultStoreRoot();
    environment.sendmail = defaultSendmailCommand();
    return environment;
}

std::string ProgramEnvironment::executableFolder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "./";
    std::string exe(path, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}
