#pragma once

#include <string>

// Where the command-line tool finds its files, resolved once at start-up:
// BREVALO_HOME (the folder of "zelko.ini" and "strings.ini", default the program's
// folder), MAILDIR (the store root, default ~/Maildir) and BREVALO_SENDMAIL.
struct CliEnvironment {
    std::string programFolder; // with a trailing slash
    std::string home;          // with a trailing slash
    std::string storeRoot;
    std::string sendmail;

    std::string netFile() const { return home + "zelko.ini"; }
    std::string stringsFile() const;

    static CliEnvironment fromProcess();
};
