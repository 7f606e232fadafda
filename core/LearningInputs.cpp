#include "core/LearningInputs.h"

#include "core/InputMatcher.h"
#include "core/LearningMessages.h"
#include "core/MatchBudget.h"

#include <algorithm>
#include <atomic>
#include <thread>

std::vector<DoublePtr> LearningInputs::read(const LearningMessages& source,
                                            const InputMatcher& matcher,
                                            const std::vector<Message>& messages, int threads) {
    std::size_t count = messages.size();
    std::vector<MessageSource::TextMaker> makers;
    makers.reserve(count);
    for (const Message& message : messages)
        makers.push_back(source.prepareText(message.path));

    std::vector<DoublePtr> vectors(count);
    std::vector<char> failed(count, 0);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                std::string text = makers[i]();
                MatchBudget budget(messages[i].budgetName);
                vectors[i] = matcher.inputVector(text, budget);
            } catch (...) {
                failed[i] = 1; // done again below, where a failure can be shown or raised
            }
        }
    };
    std::size_t workers = threads > 0 ? static_cast<std::size_t>(threads)
                                      : std::max(1u, std::thread::hardware_concurrency());
    workers = std::max<std::size_t>(1, std::min(workers, count));
    std::vector<std::thread> pool;
    for (std::size_t w = 1; w < workers; ++w)
        pool.emplace_back(work);
    work(); // this thread is one of the workers
    for (std::thread& thread : pool)
        thread.join();

    for (std::size_t i = 0; i < count; ++i) {
        if (!failed[i])
            continue;
        MatchBudget budget(messages[i].budgetName);
        vectors[i] = matcher.inputVector(source.text(messages[i].path), budget);
    }
    return vectors;
}
