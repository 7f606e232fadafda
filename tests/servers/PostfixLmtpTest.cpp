#include "tests/servers/Harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sends one message over SMTP to 127.0.0.1:port, one command at a time; throws
// std::runtime_error naming the command and the reply the server refused it with.
void sendMail(int port, const std::string& from, const std::vector<std::string>& to,
              const std::string& message) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("connect failed: " + std::string(std::strerror(errno)));
    std::string pending;
    // Sends the text (unless empty) and reads the reply up to its last line ("250 ...").
    auto exchange = [&](const std::string& text, char expected) {
        if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
            throw std::runtime_error(text + ": send failed");
        for (size_t end;;) {
            char buffer[4096];
            while ((end = pending.find("\r\n")) == std::string::npos) {
                ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0)
                    throw std::runtime_error(text + ": the server closed the connection");
                pending.append(buffer, static_cast<size_t>(got));
            }
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            if (line.size() > 3 && line[3] == '-')
                continue;
            if (line.empty() || line[0] != expected)
                throw std::runtime_error(text + ": " + line);
            return;
        }
    };
    std::string data;
    std::istringstream lines(message);
    for (std::string line; std::getline(lines, line);)
        data += (line.rfind('.', 0) == 0 ? "." : "") + line + "\r\n";
    exchange("", '2');
    exchange("EHLO client.example\r\n", '2');
    exchange("MAIL FROM:<" + from + ">\r\n", '2');
    for (const std::string& recipient : to)
        exchange("RCPT TO:<" + recipient + ">\r\n", '2');
    exchange("DATA\r\n", '3');
    exchange(data + ".\r\n", '2');
    exchange("QUIT\r\n", '2');
    close(fd);
}

// The store's message files holding the Message-ID.
std::vector<fs::path> filesOf(const std::string& maildir, const std::string& messageId) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(maildir)) {
        std::stringstream text;
        if (entry.is_regular_file() && (text << std::ifstream(entry.path()).rdbuf()) &&
            text.str().find("Message-ID: " + messageId) != std::string::npos)
            found.push_back(entry.path());
    }
    return found;
}

// A Postfix set up as the README says, local recipients handed to brevalo-cli lmtp as root
// on its socket: mail sent over SMTP lands once in the recipient's store (a "+detail"
// dropped), sorted by that user's net, written as that user; a recipient the service does
// not know is refused alone, the message's other recipient still gets it.
TEST(PostfixLmtp, MailSentOverSmtpLandsSortedInTheRecipientsStore) {
    if (std::string missing = PostfixServer::missing(); !missing.empty())
        GTEST_SKIP() << missing;
    BrevaloWorld world;
    const MailUser& user = MailUser::get();
    // The world is the home of a user of a passwd file, its net where the service looks.
    fs::create_directories(world.home() + "/.config/brevalo");
    fs::copy_file(world.home() + "/zelko.ini", world.home() + "/.config/brevalo/zelko.ini");
    ScratchFolder::giveToMailUser(world.home());
    ScratchFolder scratch("lmtp");
    std::string users = scratch.write("passwd", "sam:x:" + std::to_string(user.uid) + ":" +
                                                    std::to_string(user.gid) +
                                                    ":Sam:" + world.home() + ":/bin/sh\n");
    std::string socket = scratch / "lmtp";
    ServiceRun service({BrevaloWorld::program(), "lmtp", "--socket", socket, "--passwd", users});
    ASSERT_TRUE(service.waitFor([](const std::string& text) {
        return text.find("brevalo-cli lmtp: listening on") != std::string::npos;
    })) << service.output();
    // As the socket unit has it: mode 0660, the group of Postfix's daemons.
    const passwd* owner = getpwnam(PostfixServer::mailOwner);
    ASSERT_TRUE(owner && chown(socket.c_str(), 0, owner->pw_gid) == 0) << std::strerror(errno);

    PostfixServer postfix("brevalo.test", socket);
    struct Mail {
        std::string messageId, kind, from;
        std::vector<std::string> to;
    };
    const std::vector<Mail> mails = {
        {"<travel@example.org>", "Travel", "a@example.org", {"sam@brevalo.test"}},
        {"<invoice@example.org>", "Invoices", "b@example.org", {"sam+bills@brevalo.test"}},
        {"<plain@example.org>", "", "c@example.org", {"sam@brevalo.test"}},
        // The null sender: Postfix sends no bounce for the refused recipient.
        {"<support@example.org>", "Support", "", {"ghost@brevalo.test", "sam@brevalo.test"}},
    };
    for (const Mail& mail : mails)
        sendMail(postfix.smtpPort(), mail.from, mail.to,
                 BrevaloWorld::message(mail.messageId, mail.kind));
    ASSERT_TRUE(postfix.waitForDeliveries(4, 1)) << postfix.log() << service.output();
    std::string log = postfix.log();
    size_t ghost = log.find("to=<ghost@brevalo.test>");
    ASSERT_NE(ghost, std::string::npos) << log;
    EXPECT_NE(log.substr(ghost, log.find('\n', ghost) - ghost).find("dsn=5.1.1, status=bounced"),
              std::string::npos)
        << log;

    for (const Mail& mail : mails) {
        std::vector<fs::path> files = filesOf(world.maildir(), mail.messageId);
        ASSERT_EQ(files.size(), 1u) << mail.messageId << "\n" << service.output();
        std::string folder = files[0].parent_path().parent_path().filename();
        EXPECT_EQ(folder, mail.kind.empty() ? "Maildir" : BrevaloWorld::sortedFolder(mail.kind))
            << mail.messageId;
        struct stat st {};
        ASSERT_EQ(stat(files[0].c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, user.uid) << files[0];
        EXPECT_EQ(st.st_mode & 077, 0u) << files[0];
    }
    EXPECT_EQ(service.stop(), 0) << service.output();
}

} // namespace
