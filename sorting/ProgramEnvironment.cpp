#include "sorting/ProgramEnvironment.h"

#include "util/DataFiles.h"
#include "util/Text.h"
#include "platform/OEMessage.h"
#include "platform/Store.h"
#include "platform/profile/Loc.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string userHome() {
    std::string home = variable("HOME");
    if (!home.empty())
        return home;
    passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "/";
}

} // namespace

std::string ProgramEnvironment::stringsFile() const {
    std::string inHome = home + "strings.ini";
    if (homeChosen && access(inHome.c_str(), R_OK) == 0)
        return inHome;
    return findDataFile(programFolder, "strings.ini");
}

bool ProgramEnvironment::makeHome(std::string* error) const {
    namespace fs = std::filesystem;
    std::error_code failure;
    fs::create_directories(home, failure);
    std::string beside = programFolder + "zelko.ini";
    std::error_code absent; // a missing file is no failure here
    if (!failure && !homeChosen && !fs::exists(netFile(), absent) &&
        fs::is_regular_file(beside, absent))
        fs::copy_file(beside, netFile(), fs::copy_options::skip_existing, failure);
    if (!failure)
        return true;
    if (error)
        *error = failure.message();
    return false;
}

std::string ProgramEnvironment::openStrings() const {
    std::string path = stringsFile();
    locOpen(path);
    std::string missing;
    for (const char* key : {"outlookexpress.folder.main", "outlookexpress.folder.output",
                            "outlookexpress.folder.learningset"}) {
        // A missing or empty value comes back as the key itself.
        std::string name = locText(key);
        if (name == key || trimText(name).empty())
            missing += std::string(missing.empty() ? "" : ", ") + key;
    }
    if (missing.empty())
        return {};
    return "the language file " + path + " does not name the mail folders (" + missing +
           " in section [en] missing or empty); put the strings.ini that came with the "
           "program there";
}

ProgramEnvironment ProgramEnvironment::fromProcess(const std::string& programFolder) {
    ProgramEnvironment environment;
    environment.programFolder = withSlash(programFolder);
    std::string home = variable("BREVALO_HOME");
    environment.homeChosen = !home.empty();
    environment.home =
        withSlash(home.empty() ? xdgFolder("XDG_CONFIG_HOME", ".config") + "/brevalo" : home);
    environment.storeRoot = defaultStoreRoot();
    environment.storeRootChosen = !variable("MAILDIR").empty();
    environment.stateFolder =
        home.empty() ? withSlash(xdgFolder("XDG_STATE_HOME", ".local/state") + "/brevalo")
                     : environment.home;
    environment.sendmail = defaultSendmailCommand();
    environment.autostartFile =
        xdgFolder("XDG_CONFIG_HOME", ".config") + "/autostart/brevalo.desktop";
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

std::string ProgramEnvironment::xdgFolder(const char* name, const char* fallback) {
    std::string value = variable(name);
    if (!value.empty() && value.front() == '/') {
        while (value.size() > 1 && value.back() == '/')
            value.pop_back();
        return value;
    }
    std::string home = userHome();
    return (home.back() == '/' ? home : home + "/") + fallback;
}
