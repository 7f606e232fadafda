#include "tests/servers/Harness.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

namespace {

// fetchmail hands every message it fetches to brevalo-cli deliver: each lands once, in its
// folder or (unmatched) in the inbox, with the envelope sender as Return-Path; a delivery
// that fails temporarily (exit 75) leaves the message on the server for the next fetch.
TEST(DeliverAgent, FetchmailHandsEveryMessageToDeliver) {
    if (std::string missing = DovecotServer::missing() + FetchmailRun::missing(); !missing.empty())
        GTEST_SKIP() << missing;
    BrevaloWorld world;
    DovecotServer server;
    std::map<std::string, std::string> kinds{{"<travel@example.org>", "Travel"},
                                             {"<invoice@example.org>", "Invoices"},
                                             {"<plain@example.org>", ""}};
    {
        ImapClient imap(server.imapPort());
        imap.login(DovecotServer::user, DovecotServer::password);
        for (const auto& [id, kind] : kinds)
            imap.append("INBOX", "", BrevaloWorld::message(id, kind));
        imap.logout();
    }
    std::string mda = BrevaloWorld::program() + " deliver --from %F";

    // The store is not reachable (a Maildir on a disk not mounted): nothing is fetched away.
    FetchmailRun unreachable(server, mda, "POP3");
    unreachable.set("BREVALO_HOME", world.home()).set("MAILDIR", world.home() + "/absent");
    unreachable.run();
    EXPECT_NE(unreachable.output().find("kept for another try"), std::string::npos)
        << unreachable.output();
    {
        ImapClient imap(server.imapPort());
        imap.login(DovecotServer::user, DovecotServer::password);
        EXPECT_EQ(imap.messages("INBOX").size(), kinds.size()) << unreachable.output();
        imap.logout();
    }

    FetchmailRun fetch(server, mda, "POP3");
    fetch.set("BREVALO_HOME", world.home()).set("MAILDIR", world.maildir());
    ASSERT_EQ(fetch.run(), 0) << fetch.output() << server.log();
    std::map<std::string, StoreContents::Placed> placed = StoreContents::messages(world.maildir());
    for (const auto& [id, kind] : kinds) {
        std::vector<std::string> expected{kind.empty() ? "" : BrevaloWorld::sortedFolder(kind)};
        EXPECT_EQ(placed[id].folders, expected) << id << "\n" << fetch.output();
        EXPECT_TRUE(
            std::regex_search(placed[id].text, std::regex("^Return-Path: <[^<>\n]+@[^<>\n]+>\n")))
            << placed[id].text;
    }
    ImapClient after(server.imapPort());
    after.login(DovecotServer::user, DovecotServer::password);
    EXPECT_TRUE(after.messages("INBOX").empty()) << "delivered mail is removed from the server";
    after.logout();
}

} // namespace
