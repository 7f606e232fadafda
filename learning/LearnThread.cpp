#include "learning/LearnThread.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "platform/ComInit.h"

#include <chrono>
#include <exception>
#include <utility>

LearnThread::LearnThread(LearningRun run, ProgressCallback callback, int context)
    : learning(std::move(run)), callback(callback), context(context), startTick(tickCount()) {}

LearnThread::~LearnThread() {
    // Never leave a run behind: its network and what it reads are this object's.
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
        learning.start();
        learning.train(callback, context);
    } catch (const ComException& e) {
        errorText = comErrorText(e, "Learning");
    } catch (const std::exception& e) {
        errorText = std::string("Learning failed: ") + e.what();
    } catch (...) {
        errorText = "Learning failed for an unknown reason";
    }
    CoUninitialize();
}
