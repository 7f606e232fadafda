#include "tests/servers/MbsyncChannel.h"

#include "tests/servers/DovecotServer.h"
#include "tests/servers/ProgramRun.h"

MbsyncChannel::MbsyncChannel(const DovecotServer& server, const std::string& maildir)
    : scratch("mbsync") {
    config = std::string("IMAPAccount brevalo\n"
                         "Host 127.0.0.1\n"
                         "Port ") +
             std::to_string(server.imapPort()) + "\n" + "User " + DovecotServer::user + "\n" +
             "Pass " + DovecotServer::password + "\n" +
             "SSLType None\n"
             "AuthMechs LOGIN\n"
             "\n"
             "IMAPStore server\n"
             "Account brevalo\n"
             "\n"
             "MaildirStore local\n"
             "Inbox " +
             maildir +
             "/\n"
             "SubFolders Maildir++\n"
             "\n"
             "Channel mail\n"
             "Far :server:\n"
             "Near :local:\n"
             "Patterns *\n"
             "Create Both\n"
             "Expunge Both\n"
             "CopyArrivalDate yes\n"
             "SyncState *\n";
    configPath = scratch.write("mbsyncrc", config, 0600);
}

std::string MbsyncChannel::missing() {
    if (ProgramRun::find("mbsync").empty())
        return "mbsync is not installed (package isync; scripts/setup installs it)";
    return {};
}

int MbsyncChannel::sync() {
    ProgramRun run({"mbsync", "-c", configPath, "-a"});
    run.set("HOME", scratch.path());
    int status = run.run();
    text = run.report();
    return status;
}
