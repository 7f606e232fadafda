#pragma once

#include "core/CrossValidation.h"
#include "core/LearningRun.h"

#include <QThread>

#include <atomic>
#include <functional>
#include <string>

// The worker thread of one evaluation: reads the learning messages the run was made
// over (taken from the net on the window thread) and cross-validates them. It never
// touches the net. Its finished() signal is the end; result() and errorText() are to be
// read only then.
class EvaluateThread : public QThread {
public:
    EvaluateThread(LearningRun run, int inputCount, int outputCount,
                   EvaluationParameters parameters, CrossValidation::Progress progress);
    ~EvaluateThread() override;

    const Evaluation& result() const { return evaluation; }
    // Empty, or what ended the evaluation.
    const std::string& errorText() const { return error; }

protected:
    void run() override;

private:
    LearningRun messages;
    int inputCount;
    int outputCount;
    EvaluationParameters parameters;
    CrossValidation::Progress progress;
    Evaluation evaluation;
    std::string error;
};
