#include "tests/servers/FetchmailRun.h"

#include "tests/servers/DovecotServer.h"
#include "tests/servers/ProgramRun.h"

namespace {

// A string in fetchmail's configuration: quoted, with \ and " escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string FetchmailRun::missing() {
    if (ProgramRun::find("fetchmail").empty())
        return "fetchmail is not installed (scripts/setup installs it)";
    return {};
}

FetchmailRun::FetchmailRun(const DovecotServer& server, const std::string& mda,
                           const std::string& protocol)
    : scratch("fetchmail") {
    int port = protocol == "IMAP" ? server.imapPort() : server.pop3Port();
    // sslproto "": the test server offers no TLS, and fetchmail would insist on it.
    config = "set no bouncemail\n"
             "poll 127.0.0.1 with protocol " +
             protocol + " and port " + std::to_string(port) +
             ":\n"
             "  user " +
             quoted(DovecotServer::user) + " there with password " +
             quoted(DovecotServer::password) +
             "\n"
             "  mda " +
             quoted(mda) +
             "\n"
             "  fetchall\n"
             "  sslproto \"\"\n";
    // fetchmail refuses a configuration others may read.
    configPath = scratch.write("fetchmailrc", config, 0600);
}

FetchmailRun& FetchmailRun::set(const std::string& variable, const std::string& value) {
    variables[variable] = value;
    return *this;
}

int FetchmailRun::run() {
    ProgramRun run({"fetchmail", "--fetchmailrc", configPath, "--idfile", scratch / "fetchids",
                    "--pidfile", scratch / "fetchmail.pid", "--nosyslog"});
    run.set("HOME", scratch.path());
    for (const auto& [variable, value] : variables)
        run.set(variable, value);
    int status = run.run();
    text = run.report();
    return status;
}
