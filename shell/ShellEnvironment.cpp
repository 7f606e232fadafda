#include "shell/ShellEnvironment.h"

#include "platform/OEMessage.h"
#include "platform/Store.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

std::string ShellEnvironment::stringsFile() const {
    std::string inHome = home + "strings.ini";
    if (access(inHome.c_str(), R_OK) == 0)
        return inHome;
    return programFolder + "strings.ini";
}

ShellEnvironment ShellEnvironment::fromProcess(const std::string& programFolder) {
    ShellEnvironment environment;
    environment.programFolder = withSlash(programFolder);
    const char* home = std::getenv("BREVALO_HOME");
    environment.home = withSlash(home && *home ? home : environment.programFolder);
    environment.storeRoot = defaultStoreRoot();
    environment.sendmail = defaultSendmailCommand();
    return environment;
}

bool ShellEnvironment::startsHidden(int argc, const char* const* argv) {
    return argc > 1 && argv[1] && std::strcmp(argv[1], "-hide") == 0;
}
