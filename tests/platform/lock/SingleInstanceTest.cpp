#include "platform/lock/SingleInstance.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string uniqueName() {
    return "__brevalo_test_" + std::to_string(getpid());
}

// Runs acquire() in a child process and returns what it answered.
bool childAcquires(const std::string& name) {
    pid_t pid = fork();
    if (pid == 0) {
        SingleInstance guard(name);
        _exit(guard.acquire() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(SingleInstance, ASecondProcessIsRefusedUntilTheFirstReleases) {
    SingleInstance guard(uniqueName());
    ASSERT_TRUE(guard.acquire()) << guard.error();
    EXPECT_TRUE(guard.acquire()); // holding it already
    EXPECT_FALSE(childAcquires(uniqueName()));
    guard.release();
    EXPECT_TRUE(childAcquires(uniqueName()));
    unlink(guard.path().c_str());
}

TEST(SingleInstance, AKilledHolderDoesNotBlockTheNextStart) {
    const std::string name = uniqueName(); // before the fork: the name holds the pid
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
        SingleInstance guard(name);
        char ok = guard.acquire() ? 1 : 0;
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);
    SingleInstance guard(name);
    EXPECT_FALSE(guard.acquire());
    EXPECT_NE(guard.error().find("another instance"), std::string::npos) << guard.error();
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_TRUE(guard.acquire()) << guard.error();
    unlink(guard.path().c_str());
}
