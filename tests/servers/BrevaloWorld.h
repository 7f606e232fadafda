#pragma once

#include "tests/servers/ScratchFolder.h"

#include <string>
#include <vector>

// A learned net with its Maildir++ store, made by "brevalo-cli demo" in a scratch folder
// as the mail user (so a DovecotServer may serve the store), and runs of brevalo-cli on
// it as that user, with BREVALO_HOME, MAILDIR and XDG_RUNTIME_DIR pointing into the world.
// The net moves (job variant 1) the messages message() makes into the folders
// "Brevalo/Sorted/<kind>" (on disk ".Brevalo.Sorted.<kind>"; the demo has made them and
// sorted a few messages into them already).
class BrevaloWorld {
public:
    // The kinds of mail the net knows: "Invoices", "Travel", "Newsletters", "Support".
    static const std::vector<std::string>& kinds();
    // A message (LF line ends) the net sorts into the kind's folder; with kind "", one no
    // stimulation matches, which stays in the inbox.
    static std::string message(const std::string& messageId, const std::string& kind);
    // The kind's target folder: its directory in the store (".Brevalo.Sorted.Travel").
    static std::string sortedFolder(const std::string& kind);

    // The brevalo-cli the mail user runs (a copy with its strings.ini when the build
    // folder is closed to that user, as under a root-only home).
    static const std::string& program();

    BrevaloWorld(); // throws std::runtime_error with the demo's output when it fails

    const std::string& home() const { return scratch.path(); }
    std::string maildir() const { return scratch / "Maildir"; }

    // Runs brevalo-cli with the arguments (and standard input); its exit status, with its
    // standard output and error in output().
    int cli(const std::vector<std::string>& arguments, const std::string& input = {});
    const std::string& output() const { return text; }

private:
    ScratchFolder scratch;
    std::string text;
};
