#include "sorting/AutostartEntry.h"

#include "platform/maildir/MaildirIdFile.h"
#include "sorting/ProgramEnvironment.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// One argument of a desktop entry's Exec key: in double quotes when it holds a reserved
// character (with ", `, $ and \ escaped inside), % doubled as the key's field codes
// demand; then \ doubled once more, as in every string value of the file.
std::string execArgument(const std::string& argument) {
    bool quote = argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string exec;
    for (char c : argument) {
        if (c == '%')
            exec += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            exec += std::string("\\") + c;
        else
            exec += c;
    }
    if (quote)
        exec = "\"" + exec + "\"";
    std::string escaped;
    for (char c : exec)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return escaped;
}

std::string withoutSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

} // namespace

AutostartEntry::AutostartEntry(const ProgramEnvironment& environment)
    : file(environment.autostartFile) {
    std::vector<std::string> arguments;
    if (environment.homeChosen)
        arguments.push_back("BREVALO_HOME=" + withoutSlash(environment.home));
    if (environment.storeRootChosen)
        arguments.push_back("MAILDIR=" + environment.storeRoot);
    if (!arguments.empty())
        arguments.insert(arguments.begin(), "env");
    arguments.push_back(environment.programFolder + "brevalo");
    arguments.push_back("-hide");
    for (const std::string& argument : arguments)
        command += (command.empty() ? "" : " ") + execArgument(argument);
}

bool AutostartEntry::enabled() const {
    std::ifstream in(file);
    if (!in)
        return false;
    for (std::string line; std::getline(in, line);) {
        if (line == "Hidden=true")
            return false;
    }
    return true;
}

std::string AutostartEntry::text() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Brevalo\n"
           "Comment=Sort the mail arriving in your Maildir inbox into folders\n"
           "Exec=" +
           command +
           "\n"
           "Icon=brevalo\n"
           "Terminal=false\n";
}

bool AutostartEntry::write(std::string* error) const {
    std::error_code failure;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), failure);
    if (failure) {
        *error = failure.message();
        return false;
    }
    if (FAILED(MaildirIdFile::writeAtomically(file, text()))) {
        *error = "cannot write " + file;
        return false;
    }
    return true;
}

bool AutostartEntry::remove(std::string* error) const {
    if (std::remove(file.c_str()) == 0 || errno == ENOENT)
        return true;
    *error = std::strerror(errno);
    return false;
}
