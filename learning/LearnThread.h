#pragma once

#include "core/BackPropagation.h"
#include "core/LearningRun.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <string>

// The worker thread of one learning run. It owns the run, which holds everything the run
// reads (taken from the net on the window thread when the run was made) and the network it
// trains: the worker never touches the net. Its finished() signal (emitted on the worker)
// is the end of the run; the window thread then installs network() in the net.
class LearnThread : public QThread {
    Q_OBJECT
public:
    // Nothing runs until start(). The start tick is taken now and again when the run
    // begins.
    LearnThread(LearningRun run, ProgressCallback callback, int context);
    ~LearnThread() override;

    int getHiddenCount() const { return learning.parameters().hiddenCount; }
    int getIterations() const { return learning.parameters().iterations; }
    int getContext() const { return context; }
    double getLearningRate() const { return learning.parameters().learningRate; }
    double getDecay() const { return learning.parameters().decay; }
    std::uint32_t getStartTick() const { return startTick.load(); }
    // Empty, or "learn thread exception: ..." for the exception that ended the run. Read
    // it only once the thread has ended.
    const std::string& getErrorText() const { return errorText; }
    // The trained network, also after an exception that ended the run (null when the run
    // could not even make it). Take it only once the thread has ended.
    BackPropagationPtr network() const { return learning.network(); }

    // Milliseconds of a monotonic clock, wrapping at 2^32 (differences stay right).
    static std::uint32_t tickCount();

protected:
    void run() override;

private:
    LearningRun learning;
    ProgressCallback callback;
    int context;
    std::atomic<std::uint32_t> startTick;
    std::string errorText;
};
