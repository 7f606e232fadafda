#include "tests/servers/Harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool listening(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

class Harness : public testing::TestWithParam<const char*> {};

// The harness the other server tests stand on: Dovecot serves what IMAP puts in, fetchmail
// hands it (over POP3 or IMAP) to its delivery command, and stopping Dovecot frees its ports.
TEST_P(Harness, DovecotServesWhatFetchmailDeliversThenStopsCompletely) {
    if (std::string missing = DovecotServer::missing() + FetchmailRun::missing(); !missing.empty())
        GTEST_SKIP() << missing;
    ScratchFolder delivered("delivered");
    std::string mda = delivered.write("deliver.sh",
                                      "#!/bin/sh\n"
                                      "cat > \"" +
                                          delivered.path() + "/mail.$$\"\n",
                                      0755);
    int imapPort = 0, pop3Port = 0;
    {
        DovecotServer server;
        imapPort = server.imapPort();
        pop3Port = server.pop3Port();
        ImapClient imap(imapPort);
        imap.login(DovecotServer::user, DovecotServer::password);
        imap.append("INBOX", "\\Seen", BrevaloWorld::message("<one@example.org>", "Travel"));
        imap.append("INBOX", "\\Flagged", BrevaloWorld::message("<two@example.org>", ""));
        EXPECT_EQ(imap.messages("INBOX"),
                  (std::vector<ImapClient::Message>{{"<one@example.org>", {"\\Seen"}},
                                                    {"<two@example.org>", {"\\Flagged"}}}));
        imap.logout();

        FetchmailRun fetch(server, mda, GetParam());
        ASSERT_EQ(fetch.run(), 0) << fetch.output() << server.log();
        std::set<std::string> ids;
        for (const auto& entry : fs::directory_iterator(delivered.path())) {
            std::stringstream text;
            text << std::ifstream(entry.path()).rdbuf();
            std::smatch match;
            std::string content = text.str();
            if (std::regex_search(content, match, std::regex("Message-ID: (<[^>]+>)")))
                ids.insert(match[1]);
        }
        EXPECT_EQ(ids, (std::set<std::string>{"<one@example.org>", "<two@example.org>"}));
        ImapClient after(imapPort);
        after.login(DovecotServer::user, DovecotServer::password);
        EXPECT_TRUE(after.messages("INBOX").empty()) << "fetchmail removes what it delivered";
        after.logout();
        EXPECT_EQ(server.log().find("Fatal"), std::string::npos) << server.log();
    }
    EXPECT_FALSE(listening(imapPort));
    EXPECT_FALSE(listening(pop3Port));
}

INSTANTIATE_TEST_SUITE_P(Protocols, Harness, testing::Values("POP3", "IMAP"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

} // namespace
