// Reading keys one call at a time must cost the same per key in any file size, and
// writing a whole net file must cost one rewrite.
#include "platform/profile/Profile.h"
#include "platform/profile/ProfileBatch.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string benchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/bench-profile-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(benchFolder(), ignored);
        });
        return pattern;
    }();
    return folder;
}

std::string keyName(long i) {
    return "hw." + std::to_string(i);
}

// A net-file-like value: 16 hexadecimal digits per weight, 8 weights.
std::string rowValue(long i) {
    std::string row = "_";
    for (int w = 0; w < 8; ++w) {
        if (w)
            row += '|';
        row += std::to_string(1000000000000000 + i * 8 + w);
    }
    return row + "_";
}

std::string fileWithKeys(long count) {
    std::string file = benchFolder() + "/keys" + std::to_string(count) + ".ini";
    ProfileBatch batch(file);
    batch.deleteSection("NeuronsHidden");
    for (long i = 0; i < count; ++i)
        batch.set("NeuronsHidden", keyName(i), rowValue(i));
    if (!batch.commit())
        std::abort();
    // A file changed a moment ago is read again on every call for a short while, in
    // case a second change falls into the same tick of the file clock; measure after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return file;
}

// Reads every key of a file of range(0) keys, one GetPrivateProfileStringA call each,
// as the net file's load does.
void readEveryKey(benchmark::State& state) {
    const long count = state.range(0);
    const std::string file = fileWithKeys(count);
    std::vector<std::string> keys;
    for (long i = 0; i < count; ++i)
        keys.push_back(keyName(i));
    char buffer[4096];
    for (auto _ : state) {
        for (const std::string& key : keys) {
            unsigned copied = GetPrivateProfileStringA("NeuronsHidden", key.c_str(), "", buffer,
                                                       sizeof buffer, file.c_str());
            benchmark::DoNotOptimize(copied);
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["per_key"] = benchmark::Counter(static_cast<double>(count),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}
BENCHMARK(readEveryKey)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Reads 10,000 keys spread over a file of range(0) keys.
void readTenThousandKeys(benchmark::State& state) {
    const long count = state.range(0);
    const std::string file = fileWithKeys(count);
    std::vector<std::string> keys;
    for (long i = 0; i < 10000; ++i)
        keys.push_back(keyName(i * (count / 10000)));
    char buffer[4096];
    for (auto _ : state) {
        for (const std::string& key : keys) {
            unsigned copied = GetPrivateProfileStringA("NeuronsHidden", key.c_str(), "", buffer,
                                                       sizeof buffer, file.c_str());
            benchmark::DoNotOptimize(copied);
        }
    }
    state.SetItemsProcessed(state.iterations() * 10000);
    state.counters["per_key"] = benchmark::Counter(
        10000, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(readTenThousandKeys)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// One batch as the net file's save writes it: delete the section, write 10,000 keys,
// replace the file once.
void batchWriteTenThousandKeys(benchmark::State& state) {
    const std::string file = benchFolder() + "/batch.ini";
    long round = 0;
    for (auto _ : state) {
        ProfileBatch batch(file);
        batch.deleteSection("NeuronsHidden");
        for (long i = 0; i < 10000; ++i)
            batch.set("NeuronsHidden", keyName(i), rowValue(i + round));
        if (!batch.commit())
            state.SkipWithError("commit failed");
        ++round;
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(batchWriteTenThousandKeys)->Unit(benchmark::kMillisecond);

// For comparison: one WritePrivateProfileStringA call (one rewrite) per key into a
// file that already holds 1,000 keys.
void singleWrite(benchmark::State& state) {
    const std::string file = fileWithKeys(1000);
    long i = 0;
    for (auto _ : state) {
        std::string key = keyName(i % 1000);
        if (!WritePrivateProfileStringA("NeuronsHidden", key.c_str(), rowValue(++i).c_str(),
                                        file.c_str()))
            state.SkipWithError("write failed");
    }
}
BENCHMARK(singleWrite)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
