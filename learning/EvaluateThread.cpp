#include "learning/EvaluateThread.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "platform/ComInit.h"

#include <exception>
#include <utility>

EvaluateThread::EvaluateThread(LearningRun run, int inputCount, int outputCount,
                               EvaluationParameters parameters, CrossValidation::Progress progress)
    : messages(std::move(run)), inputCount(inputCount), outputCount(outputCount),
      parameters(std::move(parameters)), progress(std::move(progress)) {}

EvaluateThread::~EvaluateThread() {
    // What the evaluation reads is this object's.
    wait();
}

void EvaluateThread::run() {
    // The messages are read from the store.
    CoInitialize(nullptr);
    try {
        CrossValidation validation(inputCount, outputCount, messages.takePatterns(), parameters);
        evaluation = validation.run(progress);
    } catch (const ComException& e) {
        error = comErrorText(e, "Evaluating the net");
    } catch (const std::exception& e) {
        error = e.what();
    }
    CoUninitialize();
}
