// Where the programs keep the net and what they remember between runs, and whether the
// person named the store.

#include "sorting/ProgramEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

namespace {

struct EnvironmentCase {
    const char* name;
    const char* brevaloHome; // null: unset
    const char* xdgStateHome;
    const char* maildir;
    const char* stateFolder;
    bool storeRootChosen;
    const char* xdgConfigHome = nullptr;
    const char* home = "/home/ann/.config/brevalo/"; // of zelko.ini
    const char* autostart = "/home/ann/.config/autostart/brevalo.desktop";
};

class ProgramEnvironmentState : public testing::TestWithParam<EnvironmentCase> {
protected:
    void SetUp() override {
        for (const char* name : variables) {
            const char* value = std::getenv(name);
            saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    static void put(const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }

    static constexpr const char* variables[] = {"HOME", "BREVALO_HOME", "XDG_STATE_HOME", "MAILDIR",
                                                "XDG_CONFIG_HOME"};
    std::map<std::string, std::optional<std::string>> saved;
};

TEST_P(ProgramEnvironmentState, StateFolderFollowsTheEnvironment) {
    const EnvironmentCase& c = GetParam();
    put("HOME", "/home/ann");
    put("BREVALO_HOME", c.brevaloHome);
    put("XDG_STATE_HOME", c.xdgStateHome);
    put("MAILDIR", c.maildir);
    put("XDG_CONFIG_HOME", c.xdgConfigHome);
    ProgramEnvironment environment = ProgramEnvironment::fromProcess("/opt/brevalo");
    EXPECT_EQ(environment.netFile(), std::string(c.home) + "zelko.ini");
    EXPECT_EQ(environment.homeChosen, c.brevaloHome != nullptr);
    EXPECT_EQ(environment.autostartFile, c.autostart);
    EXPECT_EQ(environment.stateFolder, c.stateFolder);
    EXPECT_EQ(environment.inboxMarkFile(), std::string(c.stateFolder) + "inbox-seen");
    EXPECT_EQ(environment.storeRootChosen, c.storeRootChosen);
    EXPECT_EQ(environment.storeRoot, c.maildir && *c.maildir ? c.maildir : "/home/ann/Maildir");
}

INSTANTIATE_TEST_SUITE_P(
    Variables, ProgramEnvironmentState,
    testing::Values(EnvironmentCase{"defaults", nullptr, nullptr, nullptr,
                                    "/home/ann/.local/state/brevalo/", false},
                    EnvironmentCase{"xdg_state_home", nullptr, "/var/state", "/mail/box",
                                    "/var/state/brevalo/", true},
                    EnvironmentCase{"xdg_state_home_with_slash", nullptr, "/var/state/", nullptr,
                                    "/var/state/brevalo/", false},
                    EnvironmentCase{"relative_xdg_state_home_is_ignored", nullptr, "state", nullptr,
                                    "/home/ann/.local/state/brevalo/", false},
                    EnvironmentCase{"empty_maildir_is_the_default", nullptr, "", "",
                                    "/home/ann/.local/state/brevalo/", false},
                    EnvironmentCase{"xdg_config_home", nullptr, nullptr, nullptr,
                                    "/home/ann/.local/state/brevalo/", false, "/etc/xdg/ann/",
                                    "/etc/xdg/ann/brevalo/",
                                    "/etc/xdg/ann/autostart/brevalo.desktop"},
                    EnvironmentCase{"relative_xdg_config_home_is_ignored", nullptr, nullptr,
                                    nullptr, "/home/ann/.local/state/brevalo/", false, "config"},
                    EnvironmentCase{"brevalo_home_holds_net_and_state", "/srv/zelko", "/var/state",
                                    nullptr, "/srv/zelko/", false, "/etc/xdg", "/srv/zelko/",
                                    "/etc/xdg/autostart/brevalo.desktop"}),
    [](const auto& info) { return std::string(info.param.name); });

// The first start makes the home folder; a net kept beside the program by earlier versions
// is carried over into a home of the desktop's that has none, never over one it has.
struct MakeHomeCase {
    const char* name;
    bool homeChosen;
    const char* homeNet;  // already in the home, null: none
    const char* expected; // in the home afterwards, null: none
};

void PrintTo(const MakeHomeCase& c, std::ostream* out) {
    *out << c.name;
}

class ProgramEnvironmentHome : public testing::TestWithParam<MakeHomeCase> {};

TEST_P(ProgramEnvironmentHome, MakesTheHomeAndCarriesTheOldNetOver) {
    const MakeHomeCase& c = GetParam();
    TempFolder folder("home");
    ProgramEnvironment environment;
    environment.programFolder = folder.path() + "/bin/";
    environment.home = folder.path() + "/config/brevalo/";
    environment.homeChosen = c.homeChosen;
    std::filesystem::create_directories(environment.programFolder);
    writeFile(environment.programFolder + "zelko.ini", "old net");
    if (c.homeNet) {
        std::filesystem::create_directories(environment.home);
        writeFile(environment.netFile(), c.homeNet);
    }
    std::string error;
    ASSERT_TRUE(environment.makeHome(&error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(environment.home));
    EXPECT_EQ(fileExists(environment.netFile()), c.expected != nullptr);
    if (c.expected) {
        EXPECT_EQ(readFile(environment.netFile()), c.expected);
    }
    EXPECT_EQ(readFile(environment.programFolder + "zelko.ini"), "old net");

    // A home that cannot be made says why.
    writeFile(folder.path() + "/file", "");
    environment.home = folder.path() + "/file/brevalo/";
    EXPECT_FALSE(environment.makeHome(&error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Homes, ProgramEnvironmentHome,
    testing::Values(MakeHomeCase{"old_net_carried_over", false, nullptr, "old net"},
                    MakeHomeCase{"own_net_kept", false, "own net", "own net"},
                    MakeHomeCase{"chosen_home_starts_without", true, nullptr, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
