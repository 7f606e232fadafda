#pragma once

#include <string>

// Where the tray program finds its files, resolved once at start-up by the same rules as
// the command-line tool: BREVALO_HOME (the folder of "zelko.ini" and "strings.ini",
// default the program's folder), MAILDIR (the store root, default ~/Maildir) and
// BREVALO_SENDMAIL (the sending command).
struct ShellEnvironment {
    std::string programFolder; // with a trailing slash
    std::string home;          // with a trailing slash
    std::string storeRoot;
    std::string sendmail;

    std::string netFile() const { return home + "zelko.ini"; }
    // "strings.ini" of the home folder, else the one shipped next to the program.
    std::string stringsFile() const;

    // programFolder is given (the application's folder), the rest comes from the
    // environment.
    static ShellEnvironment fromProcess(const std::string& programFolder);

    // "-hide" exactly (bytes, lower case) as the first argument; later ones are ignored.
    static bool startsHidden(int argc, const char* const* argv);
};
