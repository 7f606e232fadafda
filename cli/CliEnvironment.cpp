#include "cli/CliEnvironment.h"

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

std::string executableFolder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "./";
    std::string exe(path, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

} // namespace

std::string CliEnvironment::stringsFile() const {
    // The language file lives with the net file; a home without one still gets the
    // texts shipped next to the program.
    std::string inHome = home + "strings.ini";
    if (access(inHome.c_str(), R_OK) == 0)
        return inHome;
    return programFolder + "strings.ini";
}

CliEnvironment CliEnvironment::fromProcess() {
    CliEnvironment environment;
    environment.programFolder = executableFolder();
    const char* home = std::getenv("BREVALO_HOME");
    environment.home = withSlash(home && *home ? home : environment.programFolder);
    environment.storeRoot = defaultStoreRoot();
    environment.sendmail = defaultSendmailCommand();
    return environment;
}
