#include "core/BackPropagation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// The generator's first draws in a fresh thread, worked out from s = s * 22695477 + 1
// (mod 2^32) and (s >> 16) & 0x7FFF starting at s = 1: s = 22695478 gives 346, ...
const int firstDraws[] = {346,   130,   10982, 1090,  11656, 7117,  17595, 6415,  22948,
                          31126, 9004,  14558, 3571,  22879, 18492, 1360,  5412,  26721,
                          22463, 25047, 27119, 31441, 7190,  13985, 31214, 27509, 30252,
                          26571, 14779, 19816, 21681, 19651, 17995, 23593};

double weight(int draw) {
    return -1.0 + 2.0 * (firstDraws[draw] * (1.0 / 32767));
}

template <class F> void inFreshThread(F f) {
    std::thread thread(f);
    thread.join();
}

void zero(BackPropagation& network) {
    for (int h = 0; h < network.getHiddenCount(); ++h) {
        std::fill_n(network.hwRow(h), network.getInputCount(), 0.0);
        network.getHb()[h] = 0.0;
    }
    for (int o = 0; o < network.getOutputCount(); ++o) {
        std::fill_n(network.owRow(o), network.getHiddenCount(), 0.0);
        network.getOb()[o] = 0.0;
    }
}

std::vector<double> weightsOf(const BackPropagation& network) {
    std::vector<double> all;
    for (int h = 0; h < network.getHiddenCount(); ++h) {
        all.insert(all.end(), network.hwRow(h), network.hwRow(h) + network.getInputCount());
        all.push_back(network.getHb()[h]);
    }
    for (int o = 0; o < network.getOutputCount(); ++o) {
        all.insert(all.end(), network.owRow(o), network.owRow(o) + network.getHiddenCount());
        all.push_back(network.getOb()[o]);
    }
    return all;
}

TEST(BackPropagationGolden, FirstDrawsOfAFreshThread) {
    inFreshThread([] {
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(BackPropagation::nextRandom(), firstDraws[i]) << "draw " << i;
    });
    inFreshThread([] {
        EXPECT_EQ(BackPropagation::randomValue(-1, 1), weight(0));
        EXPECT_NEAR(weight(0), -0.978881191442, 1e-12); // 2 * 346 / 32767 - 1
    });
}

TEST(BackPropagationGolden, InitialWeightsOf3x4x2) {
    inFreshThread([] {
        BackPropagation network(3, 4, 2);
        // Draws 0-2 fill the input slots; each hidden unit then takes its output slot,
        // its bias and its three weights; each output its bias and its four weights.
        for (int h = 0; h < 4; ++h) {
            int first = 3 + 5 * h;
            EXPECT_EQ(network.getHb()[h], weight(first + 1)) << "hb " << h;
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(network.hwRow(h)[i], weight(first + 2 + i)) << "hw " << h << i;
        }
        for (int o = 0; o < 2; ++o) {
            int first = 23 + 5 * o;
            EXPECT_EQ(network.getOb()[o], weight(first)) << "ob " << o;
            for (int h = 0; h < 4; ++h)
                EXPECT_EQ(network.owRow(o)[h], weight(first + 1 + h)) << "ow " << o << h;
        }
        EXPECT_NEAR(network.getHb()[0], -0.288552507096, 1e-12); // 11656
        EXPECT_NEAR(network.owRow(1)[3], 0.098361156041, 1e-12); // 17995
        EXPECT_EQ(BackPropagation::nextRandom(), firstDraws[33]);
        EXPECT_EQ(network.getLearningRate(), 0.3);
        EXPECT_EQ(network.getDecay(), 1.0);
        EXPECT_EQ(doubleArrayCount(network.hwRow(0)), 3);
        EXPECT_EQ(doubleArrayCount(network.owRow(0)), 4);
        EXPECT_EQ(network.hwRow(4), nullptr);
        EXPECT_EQ(network.owRow(-1), nullptr);
    });
}

TEST(BackPropagation, TwoFreshThreadsBuildIdenticalNetworks) {
    std::vector<double> first, second;
    inFreshThread([&] { first = weightsOf(BackPropagation(5, 6, 3)); });
    inFreshThread([&] { second = weightsOf(BackPropagation(5, 6, 3)); });
    EXPECT_EQ(first, second);
    // A second network in the same thread goes on with the generator.
    inFreshThread([&] {
        BackPropagation once(5, 6, 3);
        EXPECT_NE(weightsOf(BackPropagation(5, 6, 3)), first);
    });
}

TEST(BackPropagation, AllZeroNetworkGivesOneHalfAndTheExactError) {
    BackPropagation network(3, 4, 3);
    zero(network);
    const double input[] = {0.95, 0.05, 0.95};
    double output[3] = {};
    network.run(input, output);
    for (double value : output)
        EXPECT_EQ(value, 0.5);

    const double target[] = {0.95, 0.05, 0.05};
    double expected = 0.0;
    expected += (0.95 - 0.5) * (0.95 - 0.5);
    expected += (0.05 - 0.5) * (0.05 - 0.5);
    expected += (0.05 - 0.5) * (0.05 - 0.5);
    EXPECT_EQ(network.train(input, target), expected);
}

TEST(BackPropagation, ErrorIsThatOfThePatternBeforeTheUpdate) {
    BackPropagation network(4, 5, 2);
    network.setLearningRate(0.05);
    const double input[] = {0.95, 0.05, 0.05, 0.95};
    const double target[] = {0.05, 0.95};
    double first = network.train(input, target);
    double second = network.train(input, target);
    EXPECT_GT(first, 0.0);
    EXPECT_LT(second, first);
}

TEST(BackPropagation, DecayScalesTheLearningRateAfterEachStep) {
    const double input[] = {0.95, 0.05};
    const double target[] = {0.95};
    BackPropagation steady(2, 3, 1);
    for (int step = 0; step < 10; ++step)
        steady.train(input, target);
    EXPECT_EQ(steady.getLearningRate(), 0.3);

    BackPropagation halving(2, 3, 1);
    halving.setDecay(0.5);
    for (double expected : {0.15, 0.075, 0.0375}) {
        halving.train(input, target);
        EXPECT_EQ(halving.getLearningRate(), expected);
    }
    double before[1], after[1];
    halving.run(input, before);
    halving.run(input, after);
    EXPECT_EQ(before[0], after[0]);
    EXPECT_EQ(halving.getLearningRate(), 0.0375); // run does not touch it
}

TEST(BackPropagation, ZeroSizesAreAccepted) {
    BackPropagation noInputs(0, 2, 1);
    zero(noInputs);
    noInputs.getHb()[0] = 1.0;
    double output[1];
    noInputs.run(nullptr, output);
    EXPECT_EQ(output[0], 0.5); // output weights are 0

    BackPropagation noOutputs(3, 2, 0);
    const double input[] = {1, 2, 3};
    EXPECT_EQ(noOutputs.train(input, nullptr), 0.0);
}

// The bits of every weight and of each step's error, folded into one number (FNV-1a).
std::uint64_t fingerprint(const std::vector<double>& values) {
    std::uint64_t hash = 14695981039346656037ull;
    for (double value : values) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int byte = 0; byte < 8; ++byte) {
            hash ^= (bits >> (8 * byte)) & 0xFF;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

struct Pinned {
    const char* name;
    int inputs, hidden, outputs;
    std::uint64_t fingerprint; // of the weights and errors as trained before the vector code
};

void PrintTo(const Pinned& p, std::ostream* out) {
    *out << p.name;
}

// The net, and whether only the vector code of every x86-64 processor is used.
class BackPropagationPinned : public testing::TestWithParam<std::tuple<Pinned, bool>> {
protected:
    void SetUp() override { BackPropagation::useBaselineArithmetic(std::get<1>(GetParam())); }
    void TearDown() override { BackPropagation::useBaselineArithmetic(false); }
};

// Stored nets must train to the same bits after any change of the arithmetic's code and on
// every processor. Unlike the comparison with Reference below, this also catches a change
// of order or rounding that the compiler would make in both.
TEST_P(BackPropagationPinned, TrainsToTheBitsOfEarlierVersions) {
    const Pinned& p = std::get<0>(GetParam());
    std::vector<double> trace;
    inFreshThread([&] {
        BackPropagation network(p.inputs, p.hidden, p.outputs);
        network.setDecay(0.99);
        std::vector<double> input(p.inputs), target(p.outputs);
        for (int step = 0; step < 12; ++step) {
            for (int i = 0; i < p.inputs; ++i)
                input[i] = 0.05 + 0.225 * ((i * 7 + step) % 5);
            for (int o = 0; o < p.outputs; ++o)
                target[o] = (o + step) % 3 ? 0.05 : 0.95;
            trace.push_back(network.train(input.data(), target.data()));
        }
        std::vector<double> output(p.outputs);
        network.run(input.data(), output.data());
        trace.insert(trace.end(), output.begin(), output.end());
        std::vector<double> weights = weightsOf(network);
        trace.insert(trace.end(), weights.begin(), weights.end());
    });
    EXPECT_EQ(fingerprint(trace), p.fingerprint);
}

INSTANTIATE_TEST_SUITE_P(
    Nets, BackPropagationPinned,
    testing::Combine(testing::Values(Pinned{"odd", 37, 11, 3, 16602354229293969394ull},
                                     Pinned{"even", 64, 16, 8, 9458851601548878091ull}),
                     testing::Bool()),
    [](const testing::TestParamInfo<std::tuple<Pinned, bool>>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "_baseline" : "_best");
    });

// The network written straight from its definition, one sum at a time, against which
// the blocked loops of BackPropagation must agree to the last bit.
struct Reference {
    int I, H, O;
    std::vector<std::vector<double>> hw, ow;
    std::vector<double> hb, ob;
    double rate, decay;

    explicit Reference(const BackPropagation& n)
        : I(n.getInputCount()), H(n.getHiddenCount()), O(n.getOutputCount()),
          rate(n.getLearningRate()), decay(n.getDecay()) {
        for (int h = 0; h < H; ++h)
            hw.emplace_back(n.hwRow(h), n.hwRow(h) + I);
        for (int o = 0; o < O; ++o)
            ow.emplace_back(n.owRow(o), n.owRow(o) + H);
        hb.assign(n.getHb(), n.getHb() + H);
        ob.assign(n.getOb(), n.getOb() + O);
    }

    static double sigma(double x) { return 1.0 / (std::exp(-x) + 1.0); }

    double train(const std::vector<double>& in, const std::vector<double>& target) {
        std::vector<double> hs(H), ho(H), os(O), delta(O);
        for (int h = 0; h < H; ++h) {
            double sum = hb[h];
            for (int i = 0; i < I; ++i)
                sum += hw[h][i] * in[i];
            hs[h] = sum;
            ho[h] = sigma(sum);
        }
        for (int o = 0; o < O; ++o) {
            double sum = ob[o];
            for (int h = 0; h < H; ++h)
                sum += ow[o][h] * ho[h];
            os[o] = sum;
        }
        double e = 0;
        for (int o = 0; o < O; ++o) {
            double y = sigma(os[o]);
            delta[o] = (target[o] - y) * (sigma(os[o]) * (1 - sigma(os[o])));
            for (int h = 0; h < H; ++h)
                ow[o][h] += delta[o] * ho[h] * rate;
            ob[o] += delta[o] * rate;
            e += (target[o] - y) * (target[o] - y);
        }
        for (int h = 0; h < H; ++h) {
            double s = 0;
            for (int o = 0; o < O; ++o)
                s += delta[o] * ow[o][h];
            double d = s * (sigma(hs[h]) * (1 - sigma(hs[h])));
            hb[h] += d * rate;
            for (int i = 0; i < I; ++i)
                hw[h][i] += rate * d * in[i];
        }
        rate = decay * rate;
        return e;
    }

    std::vector<double> run(const std::vector<double>& in) const {
        std::vector<double> ho(H), out(O);
        for (int h = 0; h < H; ++h) {
            double sum = hb[h];
            for (int i = 0; i < I; ++i)
                sum += hw[h][i] * in[i];
            ho[h] = sigma(sum);
        }
        for (int o = 0; o < O; ++o) {
            double sum = ob[o];
            for (int h = 0; h < H; ++h)
                sum += ow[o][h] * ho[h];
            out[o] = sigma(sum);
        }
        return out;
    }
};

struct Sizes {
    const char* name;
    int inputs, hidden, outputs;
};

void PrintTo(const Sizes& s, std::ostream* out) {
    *out << s.name;
}

class BackPropagationArithmetic : public testing::TestWithParam<Sizes> {};

TEST_P(BackPropagationArithmetic, MatchesTheDefinitionBitForBit) {
    const Sizes& s = GetParam();
    BackPropagation network(s.inputs, s.hidden, s.outputs);
    network.setDecay(0.99);
    Reference reference(network);
    std::vector<std::vector<double>> inputs, targets;
    for (int p = 0; p < 3; ++p) {
        inputs.emplace_back();
        for (int i = 0; i < s.inputs; ++i)
            inputs.back().push_back((i + p) % 3 ? 0.05 : 0.95);
        targets.emplace_back();
        for (int o = 0; o < s.outputs; ++o)
            targets.back().push_back(o == p ? 0.95 : 0.05);
    }
    for (int step = 0; step < 9; ++step) {
        int p = step % 3;
        ASSERT_EQ(network.train(inputs[p].data(), targets[p].data()),
                  reference.train(inputs[p], targets[p]))
            << "step " << step;
    }
    EXPECT_EQ(network.getLearningRate(), reference.rate);
    Reference trained(network);
    EXPECT_EQ(trained.hw, reference.hw);
    EXPECT_EQ(trained.ow, reference.ow);
    EXPECT_EQ(trained.hb, reference.hb);
    EXPECT_EQ(trained.ob, reference.ob);

    std::vector<double> output(s.outputs);
    network.run(inputs[1].data(), output.data());
    EXPECT_EQ(output, reference.run(inputs[1]));
}

INSTANTIATE_TEST_SUITE_P(Sizes, BackPropagationArithmetic,
                         testing::Values(Sizes{"one_each", 1, 1, 1}, Sizes{"odd_sizes", 7, 13, 5},
                                         Sizes{"block_multiples", 8, 16, 4},
                                         Sizes{"wide_hidden", 3, 21, 9},
                                         Sizes{"no_hidden", 4, 0, 3}),
                         [](const testing::TestParamInfo<Sizes>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
