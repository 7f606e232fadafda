// Where the programs keep what they remember between runs, and whether the person named
// the store.

#include "sorting/ProgramEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

    static constexpr const char* variables[] = {"HOME", "BREVALO_HOME", "XDG_STATE_HOME",
                                                "MAILDIR"};
    std::map<std::string, std::optional<std::string>> saved;
};

TEST_P(ProgramEnvironmentState, StateFolderFollowsTheEnvironment) {
    const EnvironmentCase& c = GetParam();
    put("HOME", "/home/ann");
    put("BREVALO_HOME", c.brevaloHome);
    put("XDG_STATE_HOME", c.xdgStateHome);
    put("MAILDIR", c.maildir);
    ProgramEnvironment environment = ProgramEnvironment::fromProcess("/opt/brevalo");
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
                    EnvironmentCase{"brevalo_home_holds_the_state", "/srv/zelko", "/var/state",
                                    nullptr, "/srv/zelko/", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
