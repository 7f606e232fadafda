#pragma once

#include "tests/servers/ScratchFolder.h"

#include <string>

class DovecotServer;

// mbsync keeping a local Maildir++ store in step with the user's mail on a DovecotServer:
// the configuration the README gives (INBOX at the store's root, folders beside it as
// ".Name.Sub", "Create Both", "Expunge Both", "SyncState *"), written into a scratch
// folder; sync() runs "mbsync -a" on it as the mail user.
class MbsyncChannel {
public:
    // Empty when mbsync (package isync) is installed, else what is missing.
    static std::string missing();

    MbsyncChannel(const DovecotServer& server, const std::string& maildir);

    // Runs mbsync once; its exit status (0: everything in step), its output in output().
    int sync();
    const std::string& output() const { return text; }
    const std::string& configuration() const { return config; }

private:
    ScratchFolder scratch;
    std::string config;
    std::string configPath;
    std::string text;
};
