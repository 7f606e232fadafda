#pragma once

#include <string>

// Where the programs find their files, resolved once at start-up, the same for the tray
// program and the command-line tool: BREVALO_HOME (the folder of "zelko.ini" and
// "strings.ini", default the program's folder), MAILDIR (the store root, default
// ~/Maildir) and BREVALO_SENDMAIL (the sending command).
struct ProgramEnvironment {
    std::string programFolder; // with a trailing slash
    std::string home;          // with a trailing slash
    std::string storeRoot;
    std::string sendmail;

    std::string netFile() const { return home + "zelko.ini"; }
    // "strings.ini" of the home folder, else the one shipped next to the program.
    std::string stringsFile() const;

    // programFolder is given, the rest comes from the environment.
    static ProgramEnvironment fromProcess(const std::string& programFolder);
    // The folder of the running executable, with a trailing slash.
    static std::string executableFolder();
};
