#include "tests/servers/Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// What a file is: which inode, its size, time stamps and bytes.
struct FileState {
    std::uint64_t inode = 0;
    std::int64_t modified = 0, changed = 0;
    std::string content;
    bool operator==(const FileState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const FileState& state) {
    return out << "inode " << state.inode << ", " << state.content.size() << " bytes, mtime "
               << state.modified << ", ctime " << state.changed;
}

// Dovecot's own files (dovecot-uidlist, dovecot.index*, dovecot-keywords, ...) and their
// locks in every folder of the store.
std::map<std::string, FileState> dovecotFiles(const std::string& maildir) {
    std::map<std::string, FileState> files;
    for (const auto& entry : fs::recursive_directory_iterator(maildir)) {
        std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name.rfind("dovecot", 0) != 0)
            continue;
        struct stat st {};
        stat(entry.path().c_str(), &st);
        std::stringstream text;
        text << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        files[entry.path().string()] = {
            st.st_ino, st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * 1000000000 + st.st_ctim.tv_nsec, text.str()};
    }
    return files;
}

// The files that differ between two looks, with what each look saw.
std::string changes(const std::map<std::string, FileState>& before,
                    const std::map<std::string, FileState>& after) {
    std::ostringstream text;
    std::set<std::string> paths;
    for (const auto* look : {&before, &after})
        for (const auto& [path, state] : *look)
            paths.insert(path);
    for (const std::string& path : paths) {
        auto was = before.find(path), is = after.find(path);
        if (was != before.end() && is != after.end() && was->second == is->second)
            continue;
        text << path << ": ";
        if (was == before.end())
            text << "new";
        else
            text << was->second;
        text << " -> ";
        if (is == after.end())
            text << "gone";
        else
            text << is->second;
        text << "\n";
    }
    return text.str();
}

std::set<std::string> flagSet(std::initializer_list<const char*> flags) {
    return {flags.begin(), flags.end()};
}

void sortById(std::vector<ImapClient::Message>& messages) {
    std::sort(messages.begin(), messages.end(),
              [](const auto& a, const auto& b) { return a.messageId < b.messageId; });
}

// brevalo-cli sorting the Maildir a Dovecot serves: Dovecot's files and locks stay as
// Dovecot left them, and a client sees the folders the sorter made, subscribed, with the
// messages in them and their flags (keywords only where they mean the same there).
TEST(ServedMaildir, SortingLeavesDovecotsFilesAloneAndClientsSeeTheFoldersSubscribed) {
    if (std::string missing = DovecotServer::missing(); !missing.empty())
        GTEST_SKIP() << missing;
    BrevaloWorld world;
    // The sorter makes the target folders while Dovecot serves the store.
    for (const std::string& kind : BrevaloWorld::kinds())
        fs::remove_all(world.maildir() + "/" + BrevaloWorld::sortedFolder(kind));
    fs::remove(world.maildir() + "/subscriptions");
    DovecotServer server(world.maildir());

    struct Arrival {
        const char* messageId;
        const char* kind;
        const char* flags;
        std::set<std::string> flagsThere;
    };
    const Arrival arrivals[] = {
        {"<invoice@example.org>", "Invoices", "\\Seen", flagSet({"\\Seen"})},
        // "$Label1" is letter a in the inbox; the Invoices folder calls letter a "$Junk".
        {"<invoice-labelled@example.org>", "Invoices", "\\Seen $Label1", flagSet({"\\Seen"})},
        {"<trip@example.org>", "Travel", "\\Flagged", flagSet({"\\Flagged"})},
        {"<letter@example.org>", "Newsletters", "", flagSet({})},
        {"<ticket@example.org>", "Support", "\\Answered \\Seen", flagSet({"\\Answered", "\\Seen"})},
        {"<lunch@example.org>", "", "\\Seen", flagSet({"\\Seen"})},
    };
    {
        ImapClient imap(server.imapPort());
        imap.login(DovecotServer::user, DovecotServer::password);
        // The user made one target folder with a client already, and marked junk in it.
        imap.create("Brevalo.Sorted.Invoices");
        imap.subscribe("Brevalo.Sorted.Invoices");
        imap.append("Brevalo.Sorted.Invoices", "\\Seen $Junk",
                    BrevaloWorld::message("<old-junk@example.org>", ""));
        for (const Arrival& arrival : arrivals)
            imap.append("INBOX", arrival.flags,
                        BrevaloWorld::message(arrival.messageId, arrival.kind));
        ASSERT_EQ(imap.messages("INBOX").size(), std::size(arrivals));
        imap.logout();
    }
    // Dovecot, idle now, holds the inbox's lock as if it were listing it.
    std::string lock = world.maildir() + "/dovecot-uidlist.lock";
    std::ofstream(lock) << "";
    ScratchFolder::giveToMailUser(lock);
    std::map<std::string, FileState> before = dovecotFiles(world.maildir());
    ASSERT_TRUE(before.count(world.maildir() + "/dovecot-uidlist"));
    ASSERT_TRUE(before.count(world.maildir() + "/.Brevalo.Sorted.Invoices/dovecot-keywords"));

    ASSERT_EQ(world.cli({"sort", "--once"}), 0) << world.output();
    EXPECT_EQ(changes(before, dovecotFiles(world.maildir())), "");
    fs::remove(lock);

    std::map<std::string, std::vector<ImapClient::Message>> expected{
        {"Brevalo.Sorted.Invoices", {{"<old-junk@example.org>", flagSet({"\\Seen", "$Junk"})}}}};
    for (const Arrival& arrival : arrivals) {
        std::string kind = arrival.kind;
        expected[kind.empty() ? "INBOX" : "Brevalo.Sorted." + kind].push_back(
            {arrival.messageId, arrival.flagsThere});
    }
    ImapClient client(server.imapPort());
    client.login(DovecotServer::user, DovecotServer::password);
    std::multiset<std::string> sorted;
    for (const std::string& kind : BrevaloWorld::kinds())
        sorted.insert("Brevalo.Sorted." + kind);
    EXPECT_EQ(client.mailboxes("LSUB \"\" \"*\""), sorted) << server.log();
    EXPECT_EQ(client.mailboxes("LIST (SUBSCRIBED) \"\" \"*\""), sorted);
    for (auto& [mailbox, messages] : expected) {
        std::vector<ImapClient::Message> found = client.messages(mailbox);
        sortById(found);
        sortById(messages);
        EXPECT_EQ(found, messages) << mailbox << "\n" << server.log();
    }
    client.logout();
    EXPECT_EQ(server.log().find("Error"), std::string::npos) << server.log();
}

} // namespace
