#include "platform/profile/Profile.h"

#include "platform/profile/ProfileBatch.h"
#include "platform/profile/ProfileDocument.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int generationKeys = 300;

// Every key of one generation carries the same value, so a file mixing two
// generations, or cut short, shows at once.
void writeGenerationsForever(const std::string& file) {
    for (int generation = 1;; ++generation) {
        ProfileBatch batch(file);
        std::string value = "_gen" + std::to_string(generation) + std::string(40, 'x') + "_";
        for (int k = 0; k < generationKeys; ++k)
            batch.set("NeuronsHidden", "hw." + std::to_string(k), value);
        batch.set("Global", "generation", std::to_string(generation));
        if (!batch.commit())
            _exit(3);
    }
}

// The generation a whole, consistent file holds; -1 for a broken one.
int generationOf(const std::string& text) {
    if (text.empty() || text.back() != '\n')
        return -1;
    ProfileDocument document = ProfileDocument::parse(text);
    std::optional<std::string_view> generation = document.value("Global", "generation");
    if (!generation)
        return -1;
    std::string expected = "_gen" + std::string(*generation) + std::string(40, 'x') + "_";
    for (int k = 0; k < generationKeys; ++k) {
        if (document.value("NeuronsHidden", "hw." + std::to_string(k)) != expected)
            return -1;
    }
    return std::stoi(std::string(*generation));
}

TEST(ProfileProcesses, KilledWriterLeavesTheOldOrTheNewFile) {
    TempFolder folder;
    std::string file = folder.file("zelko.ini");
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 20000);
    int lastGeneration = 0;
    for (int round = 0; round < 25; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            writeGenerationsForever(file);
        // Once the first file is there, kill at a random moment of the writing loop.
        while (round == 0 && !fileExists(file))
            usleep(100);
        usleep(static_cast<useconds_t>(pause(random)));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer failed with status " << status;

        std::string text = readFile(file);
        int generation = generationOf(text);
        ASSERT_GT(generation, 0) << "broken file after round " << round << ":\n"
                                 << text.substr(0, 400);
        lastGeneration = generation;
    }
    // The next writer starts over the leftovers (lock and temporary file) without trouble.
    ASSERT_TRUE(WritePrivateProfileStringA("Global", "generation", "0", file.c_str()));
    EXPECT_EQ(getProfileString("Global", "generation", "", file), "0");
    EXPECT_GT(lastGeneration, 0);
}

TEST(ProfileProcesses, TwoWritersLoseNoKey) {
    TempFolder folder;
    std::string file = folder.file("zelko.ini");
    constexpr int writes = 1000;
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        children[w] = fork();
        ASSERT_GE(children[w], 0);
        if (children[w] != 0)
            continue;
        std::string prefix = w == 0 ? "a" : "b";
        for (int i = 0; i < writes; ++i) {
            std::string key = prefix + std::to_string(i);
            if (!WritePrivateProfileStringA("Files", key.c_str(), std::to_string(i).c_str(),
                                            file.c_str()))
                _exit(1);
        }
        _exit(0);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int missing = 0;
    for (const char* prefix : {"a", "b"}) {
        for (int i = 0; i < writes; ++i) {
            std::string key = prefix + std::to_string(i);
            missing += getProfileString("files", key, "", file) != std::to_string(i);
        }
    }
    EXPECT_EQ(missing, 0);
}

TEST(ProfileProcesses, ReaderSeesAnotherProcesssWrite) {
    TempFolder folder;
    std::string file = folder.file("zelko.ini");
    ASSERT_TRUE(WritePrivateProfileStringA("settings", "jobvariant", "_1_", file.c_str()));
    EXPECT_EQ(getProfileString("settings", "jobvariant", "", file), "_1_");
    for (const char* value : {"_2_", "_3_", "_1_"}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(WritePrivateProfileStringA("settings", "jobvariant", value, file.c_str()) ? 0
                                                                                            : 1);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(getProfileString("settings", "jobvariant", "", file), value);
    }
}

} // namespace
