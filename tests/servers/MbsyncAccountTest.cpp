#include "tests/servers/Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

struct Arrival {
    const char* messageId;
    const char* kind; // the net's folder for it; "" stays in the inbox
    const char* flags;
};

const Arrival arrivals[] = {
    {"<invoice-read@example.org>", "Invoices", "\\Seen"},
    {"<invoice-unread@example.org>", "Invoices", ""},
    {"<trip-flagged@example.org>", "Travel", "\\Flagged \\Seen"},
    {"<letter-answered@example.org>", "Newsletters", "\\Answered \\Seen"},
    {"<ticket-flagged-unread@example.org>", "Support", "\\Flagged"},
    {"<lunch@example.org>", "", "\\Seen"},
};

std::set<std::string> flagSet(const std::string& flags) {
    std::set<std::string> set;
    for (size_t start = 0; start < flags.size();) {
        size_t space = std::min(flags.find(' ', start), flags.size());
        set.insert(flags.substr(start, space - start));
        start = space + 1;
    }
    return set;
}

void sortById(std::vector<ImapClient::Message>& messages) {
    std::sort(messages.begin(), messages.end(),
              [](const auto& a, const auto& b) { return a.messageId < b.messageId; });
}

std::string mailboxOf(const std::string& kind) {
    return kind.empty() ? "INBOX" : "Brevalo.Sorted." + kind;
}

// The test's messages on the server, by mailbox (what the demo put there is left out).
std::map<std::string, std::vector<ImapClient::Message>> onServer(const DovecotServer& server) {
    ImapClient imap(server.imapPort());
    imap.login(DovecotServer::user, DovecotServer::password);
    std::map<std::string, std::vector<ImapClient::Message>> found;
    for (const char* kind : {"", "Invoices", "Travel", "Newsletters", "Support"}) {
        for (const ImapClient::Message& message : imap.messages(mailboxOf(kind))) {
            if (message.messageId.find("demo-") == std::string::npos)
                found[mailboxOf(kind)].push_back(message);
        }
    }
    imap.logout();
    for (auto& [mailbox, messages] : found)
        sortById(messages);
    return found;
}

// An IMAP account kept in step by mbsync: brevalo-cli sorts the local store, and the next
// mbsync run makes the server show the sorting, every message once, with its flags.
TEST(MbsyncAccount, SortedMessagesReachTheServersFoldersOnceWithTheirFlags) {
    if (std::string missing = DovecotServer::missing() + MbsyncChannel::missing(); !missing.empty())
        GTEST_SKIP() << missing;
    DovecotServer server;
    BrevaloWorld world; // its store is the local side; the demo's folders go up first
    {
        ImapClient imap(server.imapPort());
        imap.login(DovecotServer::user, DovecotServer::password);
        for (const Arrival& arrival : arrivals)
            imap.append("INBOX", arrival.flags,
                        BrevaloWorld::message(arrival.messageId, arrival.kind));
        imap.logout();
    }
    std::map<std::string, std::vector<ImapClient::Message>> expected;
    for (const Arrival& arrival : arrivals)
        expected[mailboxOf(arrival.kind)].push_back({arrival.messageId, flagSet(arrival.flags)});
    for (auto& [mailbox, messages] : expected)
        sortById(messages);

    MbsyncChannel channel(server, world.maildir());
    ASSERT_EQ(channel.sync(), 0) << channel.output();
    ASSERT_EQ(world.cli({"sort", "--once"}), 0) << world.output();
    ASSERT_EQ(channel.sync(), 0) << channel.output();
    EXPECT_EQ(onServer(server), expected) << channel.output();
    // mbsync has numbered the uploaded copies in the local store; nothing moves twice.
    ASSERT_EQ(world.cli({"sort", "--once"}), 0) << world.output();
    ASSERT_EQ(channel.sync(), 0) << channel.output();
    EXPECT_EQ(onServer(server), expected) << channel.output();
}

} // namespace
