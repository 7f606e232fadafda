#include "tests/servers/Harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int filesIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.is_regular_file();
    return count;
}

// The file of the store that holds the text.
std::string fileWith(const std::string& maildir, const std::string& text) {
    for (const auto& entry : fs::recursive_directory_iterator(maildir)) {
        std::ifstream in(entry.path());
        if (entry.is_regular_file() &&
            std::string((std::istreambuf_iterator<char>(in)), {}).find(text) != std::string::npos)
            return entry.path();
    }
    return "";
}

// One conversation: what the client sends in one write (empty: only read; "drop": close)
// and how many replies it then reads; the codes of every reply, the greeting first.
struct Step {
    std::string send;
    int replies;
};
struct ProtocolCase {
    const char* name;
    std::vector<Step> steps;
    const char* codes;
    int delivered;
    const char* stored; // the delivered message's text, when one is checked
};

const std::string mailTo =
    "LHLO client.example\r\nMAIL FROM:<a@example.org>\r\nRCPT TO:<sam@x>\r\n";

std::vector<ProtocolCase> protocolCases() {
    return {
        {"PipelinedTwoRecipients",
         {{"", 1},
          {"LHLO client.example\r\nMAIL FROM:<a@example.org>\r\nRCPT TO:<sam@x>\r\n"
           "RCPT TO:<sam+lists@x>\r\nDATA\r\n",
           5},
          {"Subject: s\r\n\r\nbody\r\n.\r\nQUIT\r\n", 3}},
         "220 250 250 250 250 354 250 250 221",
         1, // two addresses of one user: one copy
         "Return-Path: <a@example.org>\nSubject: s\n\nbody\n"},
        {"BareLineFeeds",
         {{"", 1},
          {"LHLO c\nMAIL FROM:<a@example.org>\nRCPT TO:<sam@x>\nDATA\n", 4},
          {"Subject: s\n\nbody\r\n.\n", 1}},
         "220 250 250 250 354 250",
         1,
         "Return-Path: <a@example.org>\nSubject: s\n\nbody\n"},
        {"DotStuffedLines",
         {{"", 1}, {mailTo + "DATA\r\n", 4}, {"Subject: s\r\n\r\n..hidden\r\n. \r\n.\r\n", 1}},
         "220 250 250 250 354 250",
         1,
         "Return-Path: <a@example.org>\nSubject: s\n\n.hidden\n \n"},
        {"OverTheSizeLimit",
         {{"", 1},
          {mailTo + "DATA\r\n", 4},
          {"Subject: s\r\n\r\n" + std::string(3000, 'x') + "\r\n.\r\nNOOP\r\n", 2},
          {"MAIL FROM:<a@example.org> SIZE=99999\r\n", 1}},
         "220 250 250 250 354 552 250 552",
         0,
         nullptr},
        {"RsetForgetsTheEnvelope",
         {{"", 1}, {mailTo + "RSET\r\nDATA\r\n", 5}},
         "220 250 250 250 250 503",
         0,
         nullptr},
        {"CommandsOutOfOrder",
         {{"", 1}, {"MAIL FROM:<a@b>\r\nHELO x\r\nLHLO c\r\nDATA\r\nRCPT TO:<a@b>\r\n", 5}},
         "220 503 500 250 503 503",
         0,
         nullptr},
        {"OverlongCommandLine",
         {{"", 1}, {std::string(1100, 'A') + "\r\nNOOP\r\n", 2}},
         "220 500 250",
         0,
         nullptr},
        {"NotAMessage",
         {{"", 1}, {mailTo + "DATA\r\n", 4}, {"just words\r\n.\r\n", 1}},
         "220 250 250 250 354 554",
         0,
         nullptr},
        {"DroppedInTheMiddleOfData",
         {{"", 1}, {mailTo + "DATA\r\n", 4}, {"Subject: s\r\n\r\npart of it", 0}, {"drop", 0}},
         "220 250 250 250 354",
         0,
         nullptr},
    };
}

class LmtpProtocol : public testing::TestWithParam<ProtocolCase> {};

// The conversation as RFC 2033 has it: the replies in order (one per accepted recipient
// after the data), the message delivered only when it is whole, with LF line ends and
// its dots unstuffed, nothing left in tmp/.
TEST_P(LmtpProtocol, RepliesAndDelivers) {
    const ProtocolCase& c = GetParam();
    ScratchFolder scratch("lmtp");
    std::string maildir = scratch.folder("Maildir");
    for (const char* sub : {"cur", "new", "tmp"})
        scratch.folder(std::string("Maildir/") + sub);
    LmtpService service(scratch / "socket", {"--max-size", "2000"});
    service.set("HOME", scratch.path())
        .set("BREVALO_HOME", scratch / "home")
        .set("MAILDIR", maildir);
    service.start();
    std::string codes;
    {
        LmtpClient client(service.socket());
        for (const Step& step : c.steps) {
            if (step.send == "drop") {
                client.drop();
                break;
            }
            if (!step.send.empty())
                client.send(step.send);
            std::string more = client.codes(step.replies);
            codes += (codes.empty() || more.empty() ? "" : " ") + more;
        }
    }
    EXPECT_EQ(codes, c.codes);
    // Ended while it waits for the messages in hand: what was cut off stays undelivered.
    EXPECT_EQ(service.stop(), 0) << service.output();
    EXPECT_EQ(filesIn(maildir + "/new"), c.delivered);
    EXPECT_EQ(filesIn(maildir + "/tmp"), 0);
    if (c.stored) {
        for (const auto& entry : fs::directory_iterator(maildir + "/new")) {
            std::ifstream in(entry.path());
            std::string text((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(text, c.stored);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Conversations, LmtpProtocol, testing::ValuesIn(protocolCases()),
                         [](const testing::TestParamInfo<ProtocolCase>& info) {
                             return std::string(info.param.name);
                         });

// The service is killed (SIGKILL) again and again while 8 connections send, each message
// sent again until it gets its 250, as a transfer agent does: every message lies in its
// folder exactly once and whole, nothing acknowledged is lost, nothing is doubled.
TEST(LmtpServiceKilled, EightConnectionsLoseAndDoubleNothing) {
    BrevaloWorld world;
    std::vector<std::string> kinds = BrevaloWorld::kinds();
    kinds.push_back("");
    constexpr int connections = 8, perConnection = 60;
    std::vector<std::vector<std::string>> ids(connections);
    std::map<std::string, std::string> messages;
    for (int c = 0; c < connections; ++c)
        for (int i = 0; i < perConnection; ++i) {
            std::string id =
                "<lmtp-" + std::to_string(c) + "-" + std::to_string(i) + "@example.org>";
            ids[c].push_back(id);
            messages[id] = BrevaloWorld::message(id, kinds[(c + i) % kinds.size()]);
        }
    LmtpService service(world.home() + "/run/lmtp", {});
    service.set("HOME", world.home())
        .set("BREVALO_HOME", world.home())
        .set("MAILDIR", world.maildir());
    std::atomic<int> acknowledged{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < connections; ++c)
        clients.emplace_back([&, c] {
            std::size_t next = 0;
            while (next < ids[c].size() && !done) {
                try {
                    LmtpClient client(service.socket());
                    while (next < ids[c].size()) {
                        std::vector<std::string> replies =
                            client.deliver("sender@example.org", {"sam@x"}, messages[ids[c][next]]);
                        ASSERT_EQ(replies[0].substr(0, 3), "250") << replies[0];
                        ++next;
                        ++acknowledged;
                    }
                } catch (const std::runtime_error&) {
                    // Killed (or not started yet): the message is sent again.
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
    std::mt19937 random(20261208);
    int kills = 0, delayMs = 4;
    try {
        while (acknowledged < connections * perConnection && kills < 60) {
            service.start();
            int before = acknowledged;
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution<int>(1, delayMs)(random)));
            service.kill();
            ++kills;
            // On a busy machine a start takes longer: kills that land before any delivery
            // lengthen the wait.
            if (acknowledged == before)
                delayMs += 4;
        }
        service.start();
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        done = true;
    }
    for (std::thread& client : clients)
        client.join();
    done = true;
    EXPECT_EQ(service.stop(), 0);
    int lost = 0, doubled = 0, cut = 0;
    std::map<std::string, StoreContents::Placed> placed = StoreContents::messages(world.maildir());
    for (const auto& [id, text] : messages) {
        std::vector<std::string> shown;
        for (const std::string& folder : placed[id].folders)
            if (folder.find(" tmp") == std::string::npos)
                shown.push_back(folder);
        lost += shown.empty();
        doubled += shown.size() > 1;
        cut += !shown.empty() && placed[id].text != "Return-Path: <sender@example.org>\n" + text;
    }
    EXPECT_GE(kills, 20);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(doubled, 0);
    EXPECT_EQ(cut, 0);
    std::printf("kills %d, messages %zu, lost %d, doubled %d, cut off %d\n", kills, messages.size(),
                lost, doubled, cut);
}

// A user of the machine that the test adds, removed at the end.
class LocalUser {
public:
    LocalUser(const std::string& name, const std::string& home) : name(name) {
        std::string command =
            "useradd -M -N -d " + home + " -s /usr/sbin/nologin " + name + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return;
        passwd* entry = getpwnam(name.c_str());
        made = entry != nullptr;
        if (made) {
            uid = entry->pw_uid;
            gid = entry->pw_gid;
            fs::create_directories(home);
            chown(home.c_str(), uid, gid);
        }
    }
    ~LocalUser() {
        if (made)
            std::system(("userdel " + name + " >/dev/null 2>&1").c_str());
    }
    std::string name;
    bool made = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

void chownAll(const std::string& path, uid_t uid, gid_t gid) {
    chown(path.c_str(), uid, gid);
    for (const auto& entry : fs::recursive_directory_iterator(path))
        lchown(entry.path().c_str(), uid, gid);
}

// Started as root, the service delivers for the users of the machine: each message in the
// recipient's own store, written as that user and readable by no one else, sorted by that
// user's net alone; an unknown recipient is refused and the others still get the message.
TEST(LmtpServiceForEveryUser, EachUserGetsTheirOwnMailAsThemselves) {
    if (geteuid() != 0)
        GTEST_SKIP() << "delivering for several users needs root (the test adds two users)";
    BrevaloWorld world;
    ScratchFolder scratch("users");
    std::string suffix = std::to_string(getpid() % 100000);
    LocalUser sorted("brvlmtpa" + suffix, scratch / "a"), plain("brvlmtpb" + suffix, scratch / "b");
    if (!sorted.made || !plain.made)
        GTEST_SKIP() << "useradd cannot add the test's users here";
    chmod(scratch.path().c_str(), 0755);
    // The first user has the world's net and store; the second neither.
    fs::create_directories(scratch / "a/.config/brevalo");
    fs::copy_file(world.home() + "/zelko.ini", scratch / "a/.config/brevalo/zelko.ini");
    fs::copy(world.maildir(), scratch / "a/Maildir", fs::copy_options::recursive);
    // It also forwards invoices to their person (job variant 2), through a sending
    // command that notes who runs it.
    std::string ini = scratch / "a/.config/brevalo/zelko.ini";
    std::ifstream in(ini);
    std::string net((std::istreambuf_iterator<char>(in)), {});
    net = std::regex_replace(net, std::regex("\njobvariant=_1_\n"),
                             "\njobvariant=_2_\nfrom=_sorter@home.example_\n");
    net = std::regex_replace(net, std::regex("\nneuron0.emails=__\n"),
                             "\nneuron0.emails=_acc@home.example_\n");
    std::ofstream(ini, std::ios::trunc) << net;
    chownAll(scratch / "a", sorted.uid, sorted.gid);
    std::string sentBy = scratch / "sent/by", sendmail = scratch / "sendmail";
    fs::create_directory(scratch / "sent");
    chmod((scratch / "sent").c_str(), 0777);
    std::ofstream(sendmail) << "#!/bin/sh\ncat >/dev/null\nid -u > " << sentBy << "\n";
    chmod(sendmail.c_str(), 0755);
    LmtpService service(scratch / "lmtp", {}, true);
    service.set("BREVALO_SENDMAIL", sendmail + " -t -oi");
    service.start();
    std::string travel = BrevaloWorld::message("<trip@example.org>", "Travel");
    std::vector<std::string> replies, invoice;
    {
        LmtpClient client(service.socket());
        replies = client.deliver("sender@example.org",
                                 {sorted.name + "@example.org", "nobody-" + suffix + "@x",
                                  plain.name + "+x@example.org"},
                                 travel);
        invoice = client.deliver("sender@example.org", {sorted.name + "@example.org"},
                                 BrevaloWorld::message("<bill@example.org>", "Invoices"));
    }
    ASSERT_EQ(invoice.size(), 1u);
    EXPECT_EQ(invoice[0].substr(0, 3), "250") << invoice[0];
    std::ifstream by(sentBy);
    std::string uid;
    by >> uid;
    EXPECT_EQ(uid, std::to_string(sorted.uid)) << "the forward was sent by uid " << uid;
    EXPECT_EQ(service.stop(), 0) << service.output();
    ASSERT_EQ(replies.size(), 2u);
    for (const std::string& reply : replies)
        EXPECT_EQ(reply.substr(0, 3), "250") << reply;
    auto a = StoreContents::messages(scratch / "a/Maildir");
    auto b = StoreContents::messages(scratch / "b/Maildir");
    EXPECT_EQ(a["<trip@example.org>"].folders,
              std::vector<std::string>{BrevaloWorld::sortedFolder("Travel")});
    EXPECT_EQ(b["<trip@example.org>"].folders, std::vector<std::string>{""});
    struct Owned {
        std::string path;
        const LocalUser& user;
        mode_t mode;
    };
    std::string aFile = fileWith(scratch / "a/Maildir", "<trip@example.org>");
    std::string bFile = fileWith(scratch / "b/Maildir", "<trip@example.org>");
    for (const Owned& owned :
         {Owned{aFile, sorted, 0600}, Owned{bFile, plain, 0600},
          Owned{scratch / "b/Maildir", plain, 0700}, Owned{scratch / "b/Maildir/new", plain, 0700},
          Owned{scratch / "a/.local/state/brevalo/journal.jsonl", sorted, 0600}}) {
        struct stat st {};
        ASSERT_EQ(stat(owned.path.c_str(), &st), 0) << owned.path;
        EXPECT_EQ(st.st_uid, owned.user.uid) << owned.path;
        EXPECT_EQ(st.st_gid, owned.user.gid) << owned.path;
        EXPECT_EQ(st.st_mode & 0777, owned.mode) << owned.path;
    }
    // The user without a net has no files of the sorter's.
    EXPECT_FALSE(fs::exists(scratch / "b/.config"));
    EXPECT_FALSE(fs::exists(scratch / "b/.local"));
}

} // namespace
