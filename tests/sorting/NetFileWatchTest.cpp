// What counts as another program's save of the net file.

#include "sorting/NetFileWatch.h"
#include "tests/support/TempFolder.h"

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <gtest/gtest.h>

namespace {

struct WatchCase {
    const char* name;
    bool before; // the file is there when the watch starts
    std::function<void(const std::string& file)> save;
    bool changed;
};

class NetFileSaved : public testing::TestWithParam<WatchCase> {};

TEST_P(NetFileSaved, IsSeenOnceUntilLoaded) {
    const WatchCase& c = GetParam();
    TempFolder temp("netwatch");
    std::string file = temp.file("zelko.ini");
    if (c.before)
        writeFile(file, "[settings]\njobvariant=1\n");
    NetFileWatch watch(file);
    EXPECT_FALSE(watch.changed());
    c.save(file);
    EXPECT_EQ(watch.changed(), c.changed);
    watch.loaded();
    EXPECT_FALSE(watch.changed()) << "what was loaded is not a change";
}

INSTANTIATE_TEST_SUITE_P(
    Saves, NetFileSaved,
    testing::Values(
        WatchCase{"untouched", true, [](const std::string&) {}, false},
        WatchCase{"replaced_with_the_same_text", true,
                  [](const std::string& file) {
                      writeFile(file + ".new", "[settings]\njobvariant=1\n");
                      ASSERT_EQ(std::rename((file + ".new").c_str(), file.c_str()), 0);
                  },
                  true},
        // Same size, rewritten in place: only the time tells (set apart from the clock's
        // granularity).
        WatchCase{"rewritten_in_place", true,
                  [](const std::string& file) {
                      writeFile(file, "[settings]\njobvariant=3\n");
                      timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 5}};
                      ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
                  },
                  true},
        // The net in memory is kept rather than emptied.
        WatchCase{"removed", true,
                  [](const std::string& file) { ASSERT_EQ(std::remove(file.c_str()), 0); }, false},
        WatchCase{"first_saved", false,
                  [](const std::string& file) { writeFile(file, "[settings]\n"); }, true}),
    [](const testing::TestParamInfo<WatchCase>& info) { return std::string(info.param.name); });

} // namespace
