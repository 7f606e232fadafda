#include "platform/lmtp/UserDatabase.h"
#include "sorting/LmtpDelivery.h"
#include "cli/Commands.h"
#include "cli/LmtpServer.h"
#include "cli/OptionReader.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A size like "50000000", "50M" or "1G"; 0 when it is not one.
unsigned long long byteCount(const std::string& text) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str() || value == 0)
        return 0;
    std::string unit = end;
    if (unit == "k" || unit == "K")
        return value << 10;
    if (unit == "M")
        return value << 20;
    if (unit == "G")
        return value << 30;
    return unit.empty() ? value : 0;
}

} // namespace

// The resident delivery service: LMTP on a unix socket, a loopback port or the sockets
// systemd hands over. Started as root it delivers for every user of the machine (or of a
// passwd file), each user's mail as that user; else for the user who started it.
int lmtpCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    ProgramEnvironment own = environment;
    std::optional<std::string> socketPath, listenAddress, passwdFile;
    std::string maildirTemplate = "%h/Maildir";
    unsigned mode = 0660;
    unsigned long long sizeLimit = 50ull * 1000 * 1000;
    int cached = 100;
    OptionReader options("lmtp", arguments,
                         {{"--socket", true},
                          {"--mode", true},
                          {"--listen", true},
                          {"--maildir-template", true},
                          {"--passwd", true},
                          {"--max-size", true},
                          {"--cache", true},
                          {"--maildir", true}});
    while (options.next()) {
        if (options.is("--socket")) {
            socketPath = options.value();
        } else if (options.is("--listen")) {
            listenAddress = options.value();
        } else if (options.is("--passwd")) {
            passwdFile = options.value();
        } else if (options.is("--maildir-template")) {
            maildirTemplate = options.value();
            if (maildirTemplate.empty() || maildirTemplate[0] != '/' ||
                (maildirTemplate.find("%u") == std::string::npos &&
                 maildirTemplate.find("%h") == std::string::npos))
                options.fail("--maildir-template needs an absolute path with %u or %h, such "
                             "as /var/mail/%u/Maildir");
        } else if (options.is("--mode")) {
            char* end = nullptr;
            unsigned long value = std::strtoul(options.value().c_str(), &end, 8);
            if (options.value().empty() || *end || value > 0777)
                options.fail("--mode needs an octal mode such as 0660");
            mode = static_cast<unsigned>(value);
        } else if (options.is("--max-size")) {
            sizeLimit = byteCount(options.value());
            if (sizeLimit == 0)
                options.fail("--max-size needs a size in bytes (or with K, M or G)");
        } else if (options.is("--cache")) {
            options.count(cached, 1, 1000000);
        } else {
            own.storeRoot = options.value();
            own.storeRootChosen = true;
        }
    }
    if (options.finished())
        return options.exitStatus();

    bool everyUser = geteuid() == 0;
    UserDatabase users;
    std::string error;
    if (passwdFile && !everyUser) {
        std::fprintf(stderr, "brevalo-cli lmtp: --passwd needs the service to run as root (it "
                             "writes each user's files as that user)\n");
        return exitUsage;
    }
    if (passwdFile && !users.readFile(*passwdFile, &error)) {
        std::fprintf(stderr, "brevalo-cli lmtp: %s\n", error.c_str());
        return exitFailed;
    }
    // No file of any user's is readable by another.
    umask(077);
    std::optional<LmtpDelivery> delivery;
    if (everyUser)
        delivery.emplace(users, maildirTemplate, own, static_cast<std::size_t>(cached));
    else
        delivery.emplace(own, static_cast<std::size_t>(cached));
    LmtpServer server(*delivery, static_cast<std::size_t>(sizeLimit));
    bool listening = true;
    if (socketPath)
        listening = server.listenUnix(*socketPath, mode, &error);
    if (listening && listenAddress)
        listening = server.listenTcp(*listenAddress, &error);
    if (listening && !socketPath && !listenAddress)
        listening = server.adoptSystemdSockets(&error);
    if (!listening) {
        std::fprintf(stderr, "brevalo-cli lmtp: %s\n", error.c_str());
        return exitFailed;
    }
    return server.run();
}
