// The autostart entry starts this program as it runs now, in an Exec line the desktop
// reads back to the same arguments, in a file desktop-file-validate accepts.

#include "sorting/AutostartEntry.h"
#include "sorting/ProgramEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

struct ExecCase {
    const char* name;
    const char* programFolder;
    const char* home;  // BREVALO_HOME, null when not chosen
    const char* store; // MAILDIR, null when not chosen
    const char* exec;
};

void PrintTo(const ExecCase& c, std::ostream* out) {
    *out << c.name;
}

class AutostartExec : public testing::TestWithParam<ExecCase> {};

TEST_P(AutostartExec, StartsThisProgramHiddenWithTheChosenFolders) {
    const ExecCase& c = GetParam();
    TempFolder config("autostart");
    ProgramEnvironment environment;
    environment.programFolder = c.programFolder;
    environment.homeChosen = c.home != nullptr;
    environment.home = c.home ? c.home : "/home/ann/.config/brevalo/";
    environment.storeRootChosen = c.store != nullptr;
    environment.storeRoot = c.store ? c.store : "/home/ann/Maildir";
    environment.autostartFile = config.file("autostart/brevalo.desktop");
    AutostartEntry entry(environment);
    EXPECT_FALSE(entry.enabled());
    std::string error;
    ASSERT_TRUE(entry.write(&error)) << error;
    EXPECT_TRUE(entry.enabled());
    std::string text = readFile(entry.path());
    EXPECT_NE(text.find("\nExec=" + std::string(c.exec) + "\n"), std::string::npos) << text;
    std::string validate =
        "desktop-file-validate '" + entry.path() + "' > '" + config.file("out") + "' 2>&1";
    int status = std::system(validate.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(config.file("out"));

    // Turned off by the desktop: not enabled, though the file is there.
    writeFile(entry.path(), text + "Hidden=true\n");
    EXPECT_FALSE(entry.enabled());
    ASSERT_TRUE(entry.remove(&error)) << error;
    EXPECT_FALSE(std::filesystem::exists(entry.path()));
    EXPECT_TRUE(entry.remove(&error)) << error; // already gone is no failure
}

INSTANTIATE_TEST_SUITE_P(
    Programs, AutostartExec,
    testing::Values(ExecCase{"installed", "/usr/bin/", nullptr, nullptr, "/usr/bin/brevalo -hide"},
                    ExecCase{"chosen_home_and_store", "/opt/b/", "/srv/zelko/", "/srv/mail",
                             "env BREVALO_HOME=/srv/zelko MAILDIR=/srv/mail /opt/b/brevalo -hide"},
                    ExecCase{"blank_in_the_path", "/home/ann/my apps/", nullptr, nullptr,
                             "\"/home/ann/my apps/brevalo\" -hide"},
                    // In the file a backslash is doubled once more than on the command line.
                    ExecCase{"reserved_characters", "/x/100%$\"`\\/", nullptr, nullptr,
                             "\"/x/100%%\\\\$\\\\\"\\\\`\\\\\\\\/brevalo\" -hide"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
