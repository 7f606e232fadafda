#include "util/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

void parallelFor(std::size_t count, std::size_t threads,
                 const std::function<void(std::size_t index, std::size_t thread)>& work) {
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = std::min(threads, count);
    std::atomic<std::size_t> next{0};
    auto run = [&](std::size_t thread) {
        for (std::size_t i = next++; i < count; i = next++)
            work(i, thread);
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t)
        pool.emplace_back(run, t);
    run(0);
    for (std::thread& thread : pool)
        thread.join();
}
