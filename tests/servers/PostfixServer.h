#pragma once

#include "tests/servers/ScratchFolder.h"
#include "tests/servers/ServiceRun.h"

#include <memory>
#include <string>

// A real Postfix on loopback for one mail domain, every local recipient handed over LMTP
// to a unix socket (local_transport), started by the constructor and stopped by the
// destructor whatever the test did:
//   - Program: Debian's postfix package downloaded and unpacked into the build folder
//     (scripts/fetch-postfix), never installed: the machine keeps its own transfer agent.
//   - Port: a free one picked at start (smtpPort()); plain SMTP, no TLS.
//   - Configuration: main.cf and master.cf of a scratch folder, with the queue and data
//     folders beside them; nothing of a machine's own Postfix is read or used, no process
//     is chrooted, mail for any other domain is refused, never relayed.
//   - Account: the master runs as root (Postfix allows nothing else), its daemons as
//     mailOwner; the LMTP socket must let that account's group connect.
//   - Log: Postfix logs to the master's standard output, which log() reads; a start that
//     fails throws std::runtime_error with the log.
class PostfixServer {
public:
    // The account Postfix's daemons run as (Postfix wants one of its own; a test takes
    // one every Debian system has).
    static constexpr const char* mailOwner = "mail";

    // Empty when Postfix can run here, else why not (the tests skip then, with that
    // message): the tests do not run as root, or the package could not be downloaded.
    static std::string missing();

    PostfixServer(const std::string& domain, const std::string& lmtpSocket);
    ~PostfixServer() = default;

    int smtpPort() const { return port; }
    // Everything Postfix logged so far.
    std::string log() { return master ? master->output() : std::string(); }
    // Reads the log until it tells the outcome of as many deliveries to a recipient as
    // expected; whether exactly that many were sent and bounced, and none deferred.
    bool waitForDeliveries(int sent, int bounced = 0);

private:
    bool start(const std::string& domain, const std::string& lmtpSocket);

    ScratchFolder scratch;
    int port = 0;
    std::unique_ptr<ServiceRun> master;
};
