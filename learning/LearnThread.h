#pragma once

#include "util/Ref.h"
#include "core/Net.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <string>

// The worker thread of one learning run. It owns a reference to the net for as long as
// it exists; its finished() signal (emitted on the worker) is the end of the run.
class LearnThread : public QThread {
    Q_OBJECT
public:
    // Nothing runs until start(). The start tick is taken now and again when the run
    // begins.
    LearnThread(const ref_ptr<Net>& net, int hiddenCount, int iterations, ProgressCallback callback,
                int context, double learningRate, double decay);
    ~LearnThread() override;

    int getHiddenCount() const { return hiddenCount; }
    int getIterations() const { return iterations; }
    int getContext() const { return context; }
    double getLearningRate() const { return learningRate; }
    double getDecay() const { return decay; }
    std::uint32_t getStartTick() const { return startTick.load(); }
    // Empty, or "learn thread exception: ..." for the exception that ended the run. Read
    // it only once the thread has ended.
    const std::string& getErrorText() const { return errorText; }

    // Milliseconds of a monotonic clock, wrapping at 2^32 (differences stay right).
    static std::uint32_t tickCount();

protected:
    void run() override;

private:
    ref_ptr<Net> net;
    int hiddenCount;
    int iterations;
    ProgressCallback callback;
    int context;
    double learningRate;
    double decay;
    std::atomic<std::uint32_t> startTick;
    std::string errorText;
};
