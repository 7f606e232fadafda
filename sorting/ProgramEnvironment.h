#pragma once

#include <string>

// Where the programs find their files, resolved once at start-up, the same for the tray
// program and the command-line tool: the home folder of "zelko.ini" (BREVALO_HOME, else
// "brevalo" in the XDG configuration folder), MAILDIR (the store root, default ~/Maildir),
// BREVALO_SENDMAIL (the sending command) and the state folder (below).
struct ProgramEnvironment {
    std::string programFolder; // with a trailing slash
    std::string home;          // with a trailing slash
    // Whether the person named the home folder (BREVALO_HOME): then it holds the state
    // and may hold a "strings.ini" of its own.
    bool homeChosen = false;
    std::string storeRoot;
    // Whether the person named the store (MAILDIR), rather than taking the default.
    bool storeRootChosen = false;
    // What the programs remember between runs, with a trailing slash: the home folder
    // when BREVALO_HOME is set (a home of its own, as tests and second setups use), else
    // "brevalo" in the XDG state folder. Made when first written to.
    std::string stateFolder;
    std::string sendmail;
    // The desktop's autostart entry of the tray program: in the XDG configuration folder
    // (whatever BREVALO_HOME says: it is the desktop's file).
    std::string autostartFile;

    std::string netFile() const { return home + "zelko.ini"; }
    // "strings.ini" of a chosen home folder, else the one shipped next to the program, else
    // the installed one.
    std::string stringsFile() const;
    // Opens the language file (locOpen) and checks that it names the store folders the
    // programs make ("outlookexpress.folder.main", ".output", ".learningset"): without
    // them folders would be named after the keys. The error text, else empty.
    std::string openStrings() const;
    // The newest inbox message ids the sorters have looked at (InboxMark).
    std::string inboxMarkFile() const { return stateFolder + "inbox-seen"; }
    // What was handed to the sending command, so no mail is sent twice (SentMailRecord).
    std::string sentMailFile() const { return stateFolder + "sent-mail"; }
    // What the sorters decided for each message (Journal).
    std::string journalFile() const { return stateFolder + "journal.jsonl"; }

    // Makes the home folder (and its parents) when it is missing, as on the first start;
    // false with the reason in error when that fails. A net that earlier versions kept
    // beside the program is copied into a home that has none, so an update does not start
    // over with an empty net (the old file stays where it was).
    bool makeHome(std::string* error) const;

    // programFolder is given, the rest comes from the environment.
    static ProgramEnvironment fromProcess(const std::string& programFolder);
    // The folder of the running executable, with a trailing slash.
    static std::string executableFolder();
    // An XDG base folder: $variable when it holds an absolute path (relative ones are
    // invalid and ignored), else fallback inside the user's home; without a trailing
    // slash. xdgFolder("XDG_STATE_HOME", ".local/state") is the state base.
    static std::string xdgFolder(const char* variable, const char* fallback);
};
