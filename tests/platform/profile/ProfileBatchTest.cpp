#include "platform/profile/ProfileBatch.h"

#include "util/Log.h"
#include "platform/profile/Profile.h"
#include "CountingSystem.h"
#include "tests/platform/profile/SettledFile.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ProfileBatch, AppliesChangesInOrderWithOneRewrite) {
    TempFolder folder;
    std::string file = folder.file("zelko.ini");
    writeFile(file,
              "[Global]\nlearnFolder=_7_\n[NeuronsIn]\nneuron0.name=_old_\nneuron1.name=_gone_\n"
              "[settings]\njobvariant=_2_\n");
    ProfileBatch batch(file);
    batch.deleteSection("neuronsin");
    batch.set("NeuronsIn", "neuron0.name", "_new_");
    for (int i = 0; i < 1000; ++i)
        batch.set("Files", "file_" + std::to_string(i), "_" + std::to_string(i % 7) + "_");
    batch.deleteKey("Files", "file_3");
    batch.set("settings", "JobVariant", "_3_");
    EXPECT_EQ(batch.size(), 1004u);

    CountingSystem counting;
    ASSERT_TRUE(batch.commit());
    EXPECT_EQ(counting.renames, 1);
    EXPECT_EQ(batch.size(), 0u);

    EXPECT_EQ(getProfileString("Global", "learnFolder", "", file), "_7_");
    EXPECT_EQ(getProfileString("NeuronsIn", "neuron0.name", "", file), "_new_");
    EXPECT_EQ(getProfileString("NeuronsIn", "neuron1.name", "none", file), "none");
    EXPECT_EQ(getProfileString("Files", "file_999", "", file), "_5_");
    EXPECT_EQ(getProfileString("Files", "file_3", "none", file), "none");
    EXPECT_EQ(getProfileString("settings", "jobvariant", "", file), "_3_");
    std::string text = readFile(file);
    EXPECT_EQ(text.find("[settings]\njobvariant=_3_\n"), text.find("[settings]"));
}

TEST(ProfileBatch, EmptyOrNoOpBatchWritesNothing) {
    TempFolder folder;
    std::string file = folder.file("none.ini");
    ProfileBatch empty(file);
    EXPECT_TRUE(empty.commit());
    ProfileBatch deletions(file);
    deletions.deleteSection("NeuronsHidden");
    deletions.deleteKey("Files", "file_1");
    EXPECT_TRUE(deletions.commit());
    EXPECT_FALSE(fileExists(file));
}

TEST(ProfileBatch, OneBadChangeWritesNothingAndKeepsTheBatch) {
    TempFolder folder;
    std::string file = folder.file("bad.ini");
    writeFile(file, "[s]\nk=old\n");
    ProfileBatch batch(file);
    batch.set("s", "k", "new");
    batch.set("s", "answer", "line one\nline two");
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    EXPECT_FALSE(batch.commit());
    setLogSink({});
    EXPECT_EQ(readFile(file), "[s]\nk=old\n");
    EXPECT_EQ(batch.size(), 2u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ProfileBatch::commit"), std::string::npos);
    EXPECT_NE(lines[0].find(file), std::string::npos);
}

TEST(ProfileCacheCost, ReadingManyKeysOpensTheFileOnce) {
    TempFolder folder;
    std::string file = folder.file("many.ini");
    ProfileBatch batch(file);
    for (int i = 0; i < 2000; ++i)
        batch.set("s", "key" + std::to_string(i), std::to_string(i));
    ASSERT_TRUE(batch.commit());
    // Past the short while in which a freshly written file is read again.
    waitUntilSettled(file);
    getProfileString("s", "key0", "", file);

    CountingSystem counting;
    for (int i = 0; i < 2000; ++i) {
        char buffer[16];
        GetPrivateProfileStringA("s", ("key" + std::to_string(i)).c_str(), "", buffer,
                                 sizeof buffer, file.c_str());
        ASSERT_EQ(std::string(buffer), std::to_string(i));
    }
    EXPECT_EQ(counting.opens, 0);
    EXPECT_EQ(counting.stats, 2000);
}

} // namespace
