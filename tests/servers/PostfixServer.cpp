#include "tests/servers/PostfixServer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string root = BREVALO_POSTFIX_ROOT;

// A port nobody listens on now: the kernel picks it for a socket bound to port 0, closed
// again for Postfix to take (the constructor tries again if it is taken meanwhile).
int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("no free port: ") + std::strerror(errno));
    close(fd);
    return ntohs(address.sin_port);
}

int count(const std::string& text, const std::string& word) {
    int found = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++found;
    return found;
}

} // namespace

std::string PostfixServer::missing() {
    if (getuid() != 0)
        return "Postfix runs only as root (the tests run as root in CI)";
    static const std::string why = [] {
        ServiceRun fetch({BREVALO_FETCH_POSTFIX, root});
        fetch.waitFor([](const std::string&) { return false; }, 120);
        if (fetch.stop() == 0)
            return std::string();
        return "Debian's postfix package could not be fetched into " + root + ":\n" +
               fetch.output();
    }();
    return why;
}

PostfixServer::PostfixServer(const std::string& domain, const std::string& lmtpSocket)
    : scratch("postfix") {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (start(domain, lmtpSocket))
            return;
    }
    throw std::runtime_error("Postfix did not start:\n" + log());
}

bool PostfixServer::start(const std::string& domain, const std::string& lmtpSocket) {
    port = freePort();
    const passwd* owner = getpwnam(mailOwner);
    if (!owner)
        throw std::runtime_error(std::string("no account ") + mailOwner + " for Postfix");
    std::string library = root + "/usr/lib/postfix";
    std::string config = scratch.folder("config");
    // Loopback only, one domain, every local recipient handed over LMTP, nothing relayed.
    std::string settings;
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"compatibility_level", "3.6"},
             {"mail_owner", mailOwner},
             {"setgid_group", "uucp"}, // any group but mail_owner's and nobody's
             {"myhostname", "mx." + domain},
             {"mydestination", domain},
             {"inet_interfaces", "loopback-only"},
             {"inet_protocols", "ipv4"},
             {"mynetworks", "127.0.0.0/8"},
             {"local_recipient_maps", ""},
             {"alias_maps", ""},
             {"local_transport", "lmtp:unix:" + lmtpSocket},
             {"default_transport", "error:mail leaves no test"},
             {"smtputf8_enable", "no"},
             {"queue_directory", scratch / "queue"},
             {"data_directory", scratch / "data"},
             {"meta_directory", config},
             {"daemon_directory", library + "/sbin"},
             {"command_directory", root + "/usr/sbin"},
             {"shlib_directory", library},
             // The unpacked libraries, not those of an installed Postfix.
             {"import_environment", "MAIL_CONFIG TZ LANG=C LD_LIBRARY_PATH=" + library},
             {"maillog_file", "/dev/stdout"}})
        settings += name + " = " + value + "\n";
    scratch.write("config/main.cf", settings);
    scratch.write("config/dynamicmaps.cf", "");
    std::string services = "127.0.0.1:" + std::to_string(port) + " inet n - n - - smtpd\n";
    for (const char* service :
         {"cleanup unix n - n - 0 cleanup", "qmgr unix n - n 300 1 qmgr",
          "rewrite unix - - n - - trivial-rewrite", "bounce unix - - n - 0 bounce",
          "defer unix - - n - 0 bounce", "trace unix - - n - 0 bounce",
          "proxymap unix - - n - - proxymap", "error unix - - n - - error",
          "retry unix - - n - - error", "lmtp unix - - n - - lmtp", "anvil unix - - n - 1 anvil",
          "scache unix - - n - 1 scache", "postlog unix-dgram n - n - 1 postlogd"})
        services += std::string(service) + "\n";
    scratch.write("config/master.cf", services);

    // The folders Postfix makes at installation: the queue's are its daemons', pid/ root's
    // (made after the files ScratchFolder gives to the mail user).
    fs::remove_all(scratch / "queue");
    for (const char* name : {"active", "bounce", "corrupt", "defer", "deferred", "flush", "hold",
                             "incoming", "maildrop", "private", "public", "saved", "trace"}) {
        std::string folder = scratch / ("queue/" + std::string(name));
        fs::create_directories(folder);
        if (chown(folder.c_str(), owner->pw_uid, owner->pw_gid) != 0)
            throw std::runtime_error("chown(" + folder + ") failed: " + std::strerror(errno));
    }
    fs::create_directories(scratch / "queue/pid");
    // Postfix reads no dynamicmaps.cf that is not root's.
    if (chown((config + "/dynamicmaps.cf").c_str(), 0, 0) != 0)
        throw std::runtime_error("chown(dynamicmaps.cf) failed: " +
                                 std::string(std::strerror(errno)));
    fs::create_directories(scratch / "data");
    if (chown((scratch / "data").c_str(), owner->pw_uid, owner->pw_gid) != 0)
        throw std::runtime_error("chown(" + scratch / "data" + ") failed: " + std::strerror(errno));
    // -d: in the foreground, its standard output kept for the log.
    master = std::make_unique<ServiceRun>(
        std::vector<std::string>{"/usr/bin/env", "LD_LIBRARY_PATH=" + library,
                                 library + "/sbin/master", "-d", "-c", config});
    // "daemon started" follows the listeners' binding; a port taken meanwhile ends the
    // master without a word (its error goes to a syslog the test has not).
    return master->waitFor(
        [](const std::string& text) { return text.find("daemon started") != std::string::npos; });
}

bool PostfixServer::waitForDeliveries(int sent, int bounced) {
    auto outcomes = [](const std::string& text) {
        return count(text, "status=sent") + count(text, "status=bounced") +
               count(text, "status=deferred");
    };
    master->waitFor([&](const std::string& text) { return outcomes(text) >= sent + bounced; });
    const std::string& text = master->output();
    return count(text, "status=sent") == sent && count(text, "status=bounced") == bounced &&
           count(text, "status=deferred") == 0;
}
