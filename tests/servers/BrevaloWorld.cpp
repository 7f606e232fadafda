#include "tests/servers/BrevaloWorld.h"

#include "tests/servers/MailUser.h"
#include "tests/servers/ProgramRun.h"

#include <filesystem>
#include <map>
#include <stdexcept>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const std::map<std::string, std::string>& bodies() {
    static const std::map<std::string, std::string> all = {
        {"Invoices", "Please pay the invoice, the amount due is EUR 120 within 14 days."},
        {"Travel", "Your flight booking is confirmed; the hotel check-in opens at 15:00."},
        {"Newsletters", "This weekly newsletter goes to every subscriber; unsubscribe any time."},
        {"Support", "Your support ticket is open: the error and the crash are looked into."},
        {"", "Lunch on Friday? Let me know."},
    };
    return all;
}

// Whether every user may reach and run the file (the folders on the way searchable).
bool openToAll(const std::string& path) {
    struct stat st {};
    for (fs::path at = path; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        if (stat(at.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0)
            return false;
    }
    return true;
}

} // namespace

const std::string& BrevaloWorld::program() {
    static const std::string built = std::string(BREVALO_BIN_DIR) + "/brevalo-cli";
    if (!MailUser::get().switches() || openToAll(built))
        return built;
    static ScratchFolder copies("bin");
    static const std::string copy = [] {
        for (const char* name : {"brevalo-cli", "strings.ini"})
            fs::copy_file(std::string(BREVALO_BIN_DIR) + "/" + name, copies / name);
        ScratchFolder::giveToMailUser(copies.path());
        return copies / "brevalo-cli";
    }();
    return copy;
}

const std::vector<std::string>& BrevaloWorld::kinds() {
    static const std::vector<std::string> all = {"Invoices", "Travel", "Newsletters", "Support"};
    return all;
}

std::string BrevaloWorld::message(const std::string& messageId, const std::string& kind) {
    return "From: Sender <sender@example.org>\n"
           "To: Sam Reader <sam@home.example>\n"
           "Subject: Message " +
           messageId +
           "\n"
           "Message-ID: " +
           messageId +
           "\n"
           "MIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=utf-8\n"
           "\n" +
           bodies().at(kind) + "\n";
}

std::string BrevaloWorld::sortedFolder(const std::string& kind) {
    return ".Brevalo.Sorted." + kind;
}

BrevaloWorld::BrevaloWorld() : scratch("world") {
    scratch.folder("run");
    ProgramRun demo({program(), "demo", scratch.path()});
    demo.set("HOME", scratch.path());
    if (demo.run() != 0)
        throw std::runtime_error("brevalo-cli demo failed: " + demo.report());
}

int BrevaloWorld::cli(const std::vector<std::string>& arguments, const std::string& input) {
    std::vector<std::string> command = {program()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ProgramRun run(command);
    run.set("HOME", scratch.path())
        .set("BREVALO_HOME", scratch.path())
        .set("MAILDIR", maildir())
        .set("XDG_RUNTIME_DIR", scratch / "run")
        .input(input);
    int status = run.run();
    text = run.report();
    return status;
}
