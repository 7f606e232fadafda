#pragma once

#include "util/DoubleArray.h"
#include "util/Ref.h"

#include <cstdint>
#include <memory>
#include <vector>

// The learned network: input, one hidden and an output layer, fully connected, logistic
// units, trained one pattern at a time by plain gradient descent on the squared error.
// All buffers live in the object, so train and run allocate nothing.
class BackPropagation : public RefBase {
public:
    // Allocates everything, sets decay 1.0 and learning rate 0.3, then randomize().
    // Sizes below 0 count as 0.
    BackPropagation(int inputCount, int hiddenCount, int outputCount);

    // Fills the input and hidden-output slots, the weights and the biases with values
    // of randomValue(-1, 1), drawn in a fixed order.
    void randomize();

    double getLearningRate() const { return learningRate; }
    void setLearningRate(double rate) { learningRate = rate; }
    double getDecay() const { return decay; }
    void setDecay(double factor) { decay = factor; }

    // One training step on one pattern (input: at least inputCount values, target: at
    // least outputCount); returns that pattern's squared error before the update.
    double train(const double* input, const double* target);
    // Classification pass: writes outputCount values; changes no weight.
    void run(const double* input, double* output);

    int getInputCount() const { return inputCount; }
    int getHiddenCount() const { return hiddenCount; }
    int getOutputCount() const { return outputCount; }
    // Weight rows and biases for storing and restoring, as counted arrays
    // (doubleArrayCount gives their length). Rows are null when the index is out of range.
    double* hwRow(int hidden) const; // inputCount weights into hidden unit h
    double* owRow(int output) const; // hiddenCount weights into output o
    double* getHb() const { return hb.get(); }
    double* getOb() const { return ob.get(); }

    // The generator of the current thread: its state starts at 1 in every thread and
    // each call advances it (s = s * 22695477 + 1); the result lies in 0 ... 32767.
    static int nextRandom();
    // Starts the current thread's generator afresh (state 1, as in a new thread). A
    // learning run begins with it, so that its initial weights do not depend on what the
    // thread drew before (loading a stored network draws too).
    static void restartRandom();
    // lo + (hi - lo) * (nextRandom() * (1 / 32767)).
    static double randomValue(double lo, double hi);

    // Train and run use the vector code of the best instruction set the processor has,
    // or only that of every x86-64 processor (for comparing the two: both give the same
    // bits). Affects all networks of the process.
    static void useBaselineArithmetic(bool baseline);

private:
    struct ArrayDeleter {
        void operator()(double* array) const { deleteDoubleArray(array); }
    };
    using Array = std::unique_ptr<double[], ArrayDeleter>;
    static Array newArray(int count) { return Array(newDoubleArray(count)); }

    void forward();

    int inputCount;
    Array inputs;
    int hiddenCount;
    Array hiddenOutputs;
    Array hiddenSums;
    std::vector<Array> hw;
    Array hb;
    int outputCount;
    Array outputs; // the target pattern while training, the outputs after run
    Array outputSums;
    Array outputDeltas;
    std::vector<Array> ow;
    std::vector<double*> hwRows, owRows; // the rows of hw and ow, for the vector code
    Array ob;
    double decay;
    double learningRate;
    double error;
};

using BackPropagationPtr = ref_ptr<BackPropagation>;
