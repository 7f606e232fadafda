#include "learning/LearnThread.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "platform/ComInit.h"

#include <chrono>
#include <exception>

LearnThread::LearnThread(const ref_ptr<Net>& net, int hiddenCount, int iterations,
                         ProgressCallback callback, int context, double learningRate, double decay)
    : net(net), hiddenCount(hiddenCount), iterations(iterations), callback(callback),
      context(context), learningRate(learningRate), decay(decay), startTick(tickCount()) {}

LearnThread::~LearnThread() {
    // Never leave a run behind on the net this thread keeps alive.
    wait();
}

std::uint32_t LearnThread::tickCount() {
    using namespace std::chrono;
    auto now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(now.count());
}

void LearnThread::run() {
    // The run reads the learning messages from the store.
    CoInitialize(nullptr);
    startTick = tickCount();
    try {
        net->learn(hiddenCount, iterations, callback, context, learningRate, decay);
    } catch (const ComException& e) {
        errorText = "learn thread exception: " + comErrorText(e, e.what());
    } catch (const std::exception& e) {
        errorText = std::string("learn thread exception: ") + e.what();
    } catch (...) {
        errorText = "learn thread exception: Unknown";
    }
    CoUninitialize();
}
