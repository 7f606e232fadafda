// An install into a temporary DESTDIR: it holds what a desktop expects, and its programs
// find their data files in the installed data folder, not in the build folder.

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

std::string shellQuoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Installed : public testing::Test {
protected:
    static void SetUpTestSuite() {
        destdir = std::make_unique<TempFolder>("install");
        std::string command = "DESTDIR=" + shellQuoted(destdir->path()) + " " +
                              shellQuoted(BREVALO_CMAKE) + " --install " +
                              shellQuoted(BREVALO_BUILD_DIR) + " > " +
                              shellQuoted(destdir->file("install.log")) + " 2>&1";
        installStatus = exitStatus(std::system(command.c_str()));
    }
    static void TearDownTestSuite() { destdir.reset(); }

    void SetUp() override { ASSERT_EQ(installStatus, 0) << readFile(destdir->file("install.log")); }

    // A path inside the install, relative to the prefix.
    static std::string installed(const std::string& relative) {
        return destdir->path() + BREVALO_PREFIX + "/" + relative;
    }

    // Runs the installed brevalo-cli with HOME in a temporary folder and none of the
    // programs' variables but those given ("NAME=value ..."); answers its exit status.
    int runCli(const std::string& variables, const std::string& arguments) {
        std::string command = "env -u BREVALO_HOME -u MAILDIR -u XDG_CONFIG_HOME -u "
                              "XDG_STATE_HOME -u BREVALO_DEBUG HOME=" +
                              shellQuoted(home.path()) +
                              " XDG_RUNTIME_DIR=" + shellQuoted(home.path()) + " " + variables +
                              " " + shellQuoted(installed(BREVALO_BINDIR "/brevalo-cli")) + " " +
                              arguments + " > " + shellQuoted(home.file("out")) + " 2> " +
                              shellQuoted(home.file("err"));
        return exitStatus(std::system(command.c_str()));
    }
    std::string out() { return readFile(home.file("out")); }
    std::string err() { return readFile(home.file("err")); }

    static std::unique_ptr<TempFolder> destdir;
    static int installStatus;
    TempFolder home{"install-home"};
};

std::unique_ptr<TempFolder> Installed::destdir;
int Installed::installStatus = -1;

// Width and height from a PNG file's header.
std::pair<int, int> pngSize(const std::string& path) {
    std::string bytes = readFile(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
        return {0, 0};
    auto number = [&](std::size_t at) {
        int value = 0;
        for (std::size_t i = at; i < at + 4; ++i)
            value = value * 256 + static_cast<unsigned char>(bytes[i]);
        return value;
    };
    return {number(16), number(20)};
}

} // namespace

TEST_F(Installed, HoldsTheProgramsAndEverythingAroundThem) {
    const std::string data = BREVALO_DATADIR;
    for (const std::string& relative :
         {std::string(BREVALO_BINDIR "/brevalo"), std::string(BREVALO_BINDIR "/brevalo-cli"),
          std::string(BREVALO_MODULEDIR "/libbrevalo_picture.so"), data + "/brevalo/strings.ini",
          data + "/brevalo/res/chart.bmp", data + "/applications/brevalo.desktop",
          data + "/icons/hicolor/scalable/apps/brevalo.svg",
          data + "/systemd/user/brevalo-sort.service",
          std::string("lib/systemd/system/brevalo-lmtp.socket"),
          std::string("lib/systemd/system/brevalo-lmtp.service"),
          std::string(BREVALO_MANDIR "/man1/brevalo.1"),
          std::string(BREVALO_MANDIR "/man1/brevalo-cli.1")})
        EXPECT_TRUE(fs::is_regular_file(installed(relative))) << relative;
    EXPECT_NE(readFile(installed(data + "/icons/hicolor/scalable/apps/brevalo.svg")).find("<svg"),
              std::string::npos);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        std::string name = std::to_string(size) + "x" + std::to_string(size);
        EXPECT_EQ(pngSize(installed(data + "/icons/hicolor/" + name + "/apps/brevalo.png")),
                  std::make_pair(size, size))
            << name;
    }
    for (const char* page : {"brevalo", "brevalo-cli"}) {
        std::string roff = readFile(installed(std::string(BREVALO_MANDIR "/man1/") + page + ".1"));
        EXPECT_NE(roff.find(".TH \"" + std::string(page) + "\" \"1\""), std::string::npos) << page;
    }
}

TEST_F(Installed, DesktopEntryIsValidAndStartsTheTrayProgram) {
    std::string entry = installed(BREVALO_DATADIR "/applications/brevalo.desktop");
    std::string command = "desktop-file-validate " + shellQuoted(entry) + " > " +
                          shellQuoted(home.file("out")) + " 2>&1";
    EXPECT_EQ(exitStatus(std::system(command.c_str())), 0) << out();
    EXPECT_EQ(out(), "");
    std::string text = readFile(entry);
    EXPECT_NE(text.find("\nExec=brevalo\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=brevalo\n"), std::string::npos) << text;
}

TEST_F(Installed, UserServiceKeepsTheInstalledSorterRunning) {
    std::string unit = readFile(installed(BREVALO_DATADIR "/systemd/user/brevalo-sort.service"));
    std::string cli = std::string(BREVALO_PREFIX "/" BREVALO_BINDIR "/brevalo-cli");
    EXPECT_NE(unit.find("\nExecStart=" + cli + " sort\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nRestart=on-failure\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nWantedBy=default.target\n"), std::string::npos) << unit;
}

// The system units start the installed tool as the LMTP service on the socket the mail
// server is told about; systemd reads them without a complaint (where it is installed).
TEST_F(Installed, SystemUnitsStartTheLmtpServiceOnItsSocket) {
    std::string socket = readFile(installed("lib/systemd/system/brevalo-lmtp.socket"));
    std::string service = readFile(installed("lib/systemd/system/brevalo-lmtp.service"));
    std::string cli = std::string(BREVALO_PREFIX "/" BREVALO_BINDIR "/brevalo-cli");
    EXPECT_NE(socket.find("\nListenStream=/run/brevalo/lmtp\n"), std::string::npos) << socket;
    EXPECT_NE(service.find("\nExecStart=" + cli + " lmtp\n"), std::string::npos) << service;
    if (std::system("systemd-analyze --version > /dev/null 2>&1") != 0)
        return;
    // Checked as installed, but with the program where the DESTDIR holds it.
    std::size_t at = service.find(cli);
    service.replace(at, cli.size(), installed(BREVALO_BINDIR "/brevalo-cli"));
    writeFile(home.file("brevalo-lmtp.socket"), socket);
    writeFile(home.file("brevalo-lmtp.service"), service);
    std::string command = "systemd-analyze verify --man=no " +
                          shellQuoted(home.file("brevalo-lmtp.socket")) + " " +
                          shellQuoted(home.file("brevalo-lmtp.service")) + " > " +
                          shellQuoted(home.file("out")) + " 2>&1";
    EXPECT_EQ(exitStatus(std::system(command.c_str())), 0) << out();
    EXPECT_EQ(out(), "");
}

// The prefix given only at install time, stripped: the units name the programs where that
// prefix put them, systemd reads the user unit without a complaint, and the programs carry
// no debugging sections or symbol table.
TEST(InstalledAtAnotherPrefix, UnitsNameItsProgramsAndTheProgramsAreStripped) {
    TempFolder folder("install-prefix");
    std::string prefix = folder.file("opt/brevalo"), out = folder.file("out");
    auto run = [&](const std::string& command) {
        return exitStatus(std::system((command + " > " + shellQuoted(out) + " 2>&1").c_str()));
    };
    ASSERT_EQ(run(shellQuoted(BREVALO_CMAKE) + " --install " + shellQuoted(BREVALO_BUILD_DIR) +
                  " --strip --prefix " + shellQuoted(prefix)),
              0)
        << readFile(out);
    std::string cli = prefix + "/" BREVALO_BINDIR "/brevalo-cli";
    std::string user = prefix + "/" BREVALO_DATADIR "/systemd/user/brevalo-sort.service";
    for (auto [unit, command] : {std::pair<std::string, std::string>{user, " sort\n"},
                                 {prefix + "/lib/systemd/system/brevalo-lmtp.service", " lmtp\n"}})
        EXPECT_NE(readFile(unit).find("\nExecStart=" + cli + command), std::string::npos)
            << readFile(unit);
    if (std::system("systemd-analyze --version > /dev/null 2>&1") == 0) {
        EXPECT_EQ(run("systemd-analyze verify --man=no " + shellQuoted(user)), 0) << readFile(out);
        EXPECT_EQ(readFile(out), "");
    }
    for (const char* program : {"brevalo", "brevalo-cli"}) {
        ASSERT_EQ(run("readelf -S -W " + shellQuoted(prefix + "/" BREVALO_BINDIR "/" + program)), 0)
            << readFile(out);
        std::string sections = readFile(out);
        EXPECT_NE(sections.find(" .text "), std::string::npos) << sections;
        EXPECT_EQ(sections.find(" .debug_info "), std::string::npos) << program;
        EXPECT_EQ(sections.find(" .symtab "), std::string::npos) << program;
    }
}

// Without BREVALO_HOME the installed tool keeps the net in ~/.config/brevalo (made at its
// first start) and its state in ~/.local/state/brevalo, and says nothing on standard error
// while it sorts.
TEST_F(Installed, CliSortsWithTheNetOfTheUsersConfigurationFolder) {
    std::string demo = home.file("demo");
    ASSERT_EQ(runCli("", "demo " + shellQuoted(demo)), 0) << err();
    std::string maildir = "MAILDIR=" + shellQuoted(demo + "/Maildir");
    std::string config = home.file(".config/brevalo");
    ASSERT_FALSE(fs::exists(config));
    EXPECT_EQ(runCli(maildir, "sort --once"), 2) << err(); // no net there yet
    EXPECT_NE(err().find(config + "/zelko.ini is not learned"), std::string::npos) << err();
    ASSERT_TRUE(fs::is_directory(config));

    fs::copy_file(demo + "/zelko.ini", config + "/zelko.ini");
    writeFile(demo + "/Maildir/tmp/1.host",
              "From: a@example.org\nSubject: bill\nMessage-ID: <bill@example.org>\n\n"
              "Please pay the invoice, amount due.\n");
    fs::rename(demo + "/Maildir/tmp/1.host", demo + "/Maildir/new/1.host");
    ASSERT_EQ(runCli(maildir, "sort --once"), 0) << err();
    EXPECT_EQ(err(), "");
    EXPECT_FALSE(fs::exists(demo + "/Maildir/new/1.host"));
    EXPECT_FALSE(fs::is_empty(demo + "/Maildir/.Brevalo.Sorted.Invoices/new"));
    EXPECT_TRUE(fs::is_regular_file(home.file(".local/state/brevalo/inbox-seen")));
}

// The installed tool has no strings.ini beside it: it reads the installed one (the
// demonstration's folders are named by it).
TEST_F(Installed, CliRunsWithTheInstalledDataFiles) {
    ASSERT_EQ(runCli("", "--help"), 0) << err();
    EXPECT_EQ(out().rfind("Usage: brevalo-cli", 0), 0u) << out();
    std::string demo = home.file("demo");
    ASSERT_EQ(runCli("", "demo " + shellQuoted(demo)), 0) << err();
    EXPECT_TRUE(fs::is_directory(demo + "/Maildir/.Brevalo.Learning set")) << out();
    writeFile(home.file("bill.eml"),
              "From: a@example.org\nSubject: bill\n\nPlease pay the invoice, amount due.\n");
    ASSERT_EQ(
        runCli("BREVALO_HOME=" + shellQuoted(demo) + " MAILDIR=" + shellQuoted(demo + "/Maildir"),
               "classify " + shellQuoted(home.file("bill.eml"))),
        0)
        << err();
    EXPECT_NE(out().find("* Invoices"), std::string::npos) << out();
}

// The installed tool draws its picture with the installed module; without the module it
// still prints its numbers and says which module it could not load.
TEST_F(Installed, CliDrawsThePictureWithTheInstalledModule) {
    std::string demo = home.file("demo");
    ASSERT_EQ(runCli("", "demo " + shellQuoted(demo)), 0) << err();
    std::string world =
        "BREVALO_HOME=" + shellQuoted(demo) + " MAILDIR=" + shellQuoted(demo + "/Maildir");
    std::string picture = home.file("confusion.png");
    std::string evaluate = "evaluate --folds 2 --iterations 20 --picture " + shellQuoted(picture);
    ASSERT_EQ(runCli(world, evaluate), 0) << err();
    EXPECT_GT(pngSize(picture).first, 0) << err();

    std::string module = installed(BREVALO_MODULEDIR "/libbrevalo_picture.so");
    fs::rename(module, module + ".away");
    fs::remove(picture);
    int status = runCli(world, evaluate);
    fs::rename(module + ".away", module);
    EXPECT_NE(status, 0);
    EXPECT_NE(out().find("2-fold cross-validation"), std::string::npos) << out();
    EXPECT_NE(err().find("cannot load the picture module libbrevalo_picture.so: "),
              std::string::npos)
        << err();
    EXPECT_NE(err().find("/libbrevalo_picture.so: "), std::string::npos) << err();
    EXPECT_FALSE(fs::exists(picture));
}
