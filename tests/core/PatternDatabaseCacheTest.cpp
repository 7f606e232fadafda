#include "core/PatternDatabaseCache.h"

#include "core/MatchBudget.h"
#include "core/NetSnapshot.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

namespace {

using Texts = std::vector<std::vector<std::string>>;

const Texts patterns = {{"\\binvoice\\b"}, {"fl[iy]ght", "(b)\\1"}, {"^never$"}};

// Builds the set as a new process would, with a cache over the file: how many databases
// it took from the file, and whether the set answers as it must.
int buildWithCache(const std::string& file, const Texts& texts) {
    PatternDatabaseCache cache(file);
    PatternSet::useDatabaseStore(&cache);
    PatternSet set(texts);
    PatternSet::useDatabaseStore(nullptr);
    MatchBudget budget("message", std::chrono::hours(1));
    std::vector<char> expected(texts.size(), 0);
    expected[1] = 1;
    expected[0] = texts[0][0] == "\\binvoice\\b";
    EXPECT_EQ(set.matchingInputs("an invoice for the flight", budget), expected);
    return cache.hits();
}

struct Fault {
    const char* name;
    // Spoils the cache file a first run wrote (bytes: its contents).
    std::function<void(const std::string& path, const std::string& bytes)> spoil;
    Texts now = patterns; // the patterns of the second run
    bool used = false;    // whether the second run may take databases from the file
};

class PatternCacheFile : public testing::TestWithParam<Fault> {};

// Whatever happened to the file, the set answers as a compiled one; only an intact file
// of the same patterns is used, and after any other the file is whole again.
TEST_P(PatternCacheFile, UsedOnlyWhenIntact) {
    const Fault& fault = GetParam();
    TempFolder folder;
    std::string file = folder.path() + "/zelko.ini.patterns";
    EXPECT_EQ(buildWithCache(file, patterns), 0);
    ASSERT_TRUE(fs::exists(file));
    fault.spoil(file, readFile(file));
    int second = buildWithCache(file, fault.now);
    EXPECT_EQ(second > 0, fault.used) << second;
    int third = buildWithCache(file, fault.now);
    EXPECT_GT(third, 0);
    EXPECT_TRUE(!fault.used || second == third) << second << " " << third;
    EXPECT_EQ(fs::directory_iterator(folder.path())->path(), file) << "a temporary file is left";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PatternCacheFile,
    testing::Values(Fault{"Intact", [](const std::string&, const std::string&) {}, patterns, true},
                    Fault{"OtherPatterns",
                          [](const std::string&, const std::string&) {},
                          {{"\\binvoices\\b"}, {"fl[iy]ghts?", "(b)\\1"}, {"^nevermore$"}}},
                    Fault{"Removed",
                          [](const std::string& path, const std::string&) { fs::remove(path); }},
                    Fault{"CutShort",
                          [](const std::string& path, const std::string& bytes) {
                              writeFile(path, bytes.substr(0, bytes.size() / 2));
                          }},
                    Fault{"LastByteMissing",
                          [](const std::string& path, const std::string& bytes) {
                              writeFile(path, bytes.substr(0, bytes.size() - 1));
                          }},
                    Fault{"DatabaseChanged",
                          [](const std::string& path, std::string bytes) {
                              bytes[bytes.size() - 40] ^= 0x20;
                              writeFile(path, bytes);
                          }},
                    Fault{"OtherLibraryVersion",
                          [](const std::string& path, std::string bytes) {
                              // A whole file as another version writes it: its own checksum.
                              char& digit = bytes[bytes.find('\n') + 1];
                              digit = digit == '9' ? '8' : '9';
                              bytes.resize(bytes.size() - 8);
                              std::uint64_t sum = NetSnapshot::digest(bytes);
                              for (int i = 0; i < 8; ++i)
                                  bytes += static_cast<char>(sum >> (8 * i));
                              writeFile(path, bytes);
                          }},
                    Fault{"NotACache", [](const std::string& path,
                                          const std::string&) { writeFile(path, "[Global]\n"); }}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

} // namespace
