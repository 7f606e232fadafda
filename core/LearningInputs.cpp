#include "core/LearningInputs.h"

#include "util/ParallelFor.h"
#include "core/InputMatcher.h"
#include "core/LearningMessages.h"
#include "core/MatchBudget.h"

std::vector<DoublePtr> LearningInputs::read(const LearningMessages& source,
                                            const InputMatcher& matcher,
                                            const std::vector<Message>& messages, int threads) {
    std::size_t count = messages.size();
    std::vector<MessageSource::TextMaker> makers;
    makers.reserve(count);
    for (const Message& message : messages)
        makers.push_back(source.prepareText(message.path, matcher.headerFields()));

    std::vector<DoublePtr> vectors(count);
    std::vector<char> failed(count, 0);
    parallelFor(count, threads > 0 ? static_cast<std::size_t>(threads) : 0,
                [&](std::size_t i, std::size_t) {
                    try {
                        std::string text = makers[i]();
                        MatchBudget budget(messages[i].budgetName);
                        vectors[i] = matcher.inputVector(text, budget);
                    } catch (...) {
                        failed[i] = 1; // done again below, where a failure can be shown or raised
                    }
                });

    for (std::size_t i = 0; i < count; ++i) {
        if (!failed[i])
            continue;
        MatchBudget budget(messages[i].budgetName);
        vectors[i] =
            matcher.inputVector(source.text(messages[i].path, matcher.headerFields()), budget);
    }
    return vectors;
}
