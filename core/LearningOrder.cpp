#include "core/LearningOrder.h"

#include <algorithm>
#include <numeric>

namespace {

// Any fixed value does: what matters is that every run starts from the same one.
constexpr std::mt19937::result_type seed = 5489u;

bool lessThan(const DoublePtr& a, const DoublePtr& b) {
    const double* first = a.get();
    const double* second = b.get();
    return std::lexicographical_compare(first, first + doubleCount(a), second,
                                        second + doubleCount(b));
}

} // namespace

LearningOrder::LearningOrder(const std::vector<DoublePtr>& inputs,
                             const std::vector<DoublePtr>& targets)
    : generator(seed), order(std::min(inputs.size(), targets.size())) {
    std::iota(order.begin(), order.end(), 0);
    // Patterns equal in both vectors are interchangeable, so ties need no further key.
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        if (lessThan(inputs[a], inputs[b]))
            return true;
        if (lessThan(inputs[b], inputs[a]))
            return false;
        return lessThan(targets[a], targets[b]);
    });
}

std::uint32_t LearningOrder::below(std::uint32_t bound) {
    // Multiply and keep the high word; the few low words that would favour some results
    // are drawn again.
    std::uint64_t product = static_cast<std::uint64_t>(generator()) * bound;
    auto low = static_cast<std::uint32_t>(product);
    if (low < bound) {
        std::uint32_t rejected = static_cast<std::uint32_t>(-bound) % bound;
        while (low < rejected) {
            product = static_cast<std::uint64_t>(generator()) * bound;
            low = static_cast<std::uint32_t>(product);
        }
    }
    return static_cast<std::uint32_t>(product >> 32);
}

const std::vector<int>& LearningOrder::shuffled() {
    for (std::size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[below(static_cast<std::uint32_t>(i))]);
    return order;
}
