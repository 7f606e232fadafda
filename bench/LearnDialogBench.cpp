// A learning run of 500 iterations over 200 learning messages in the learning dialog,
// chart drawn. Counters:
// - max_gap_ms: longest time between two progress reports handled on the user-interface
//   thread (the first report comes after the run has read all 200 messages);
// - max_gap_after_first_ms: the same from the second report on (training only);
// - ui_stall_ms: longest lateness of a 1 ms timer on the user-interface thread, i.e.
//   the longest time the thread did not get back to its event loop;
// - catch_up_ms: from the end of the worker to the last report handled.

#include "LearningTestSupport.h"

#include "util/Log.h"
#include "learning/LearnThread.h"
#include "learning/TLearn.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int messages = 200;
constexpr int stimulations = 12;
constexpr int folders = 6;

ref_ptr<Net> learningNet(LearningFolder& folder) {
    ref_ptr<Net> net = folder.net();
    for (int i = 0; i < stimulations; ++i) {
        ref_ptr<NeuronIn> stimulation(new NeuronIn("s" + std::to_string(i)));
        stimulation->addRegex("\\bword" + std::to_string(i) + "\\b");
        stimulation->addRegex("topic" + std::to_string(i) + "[a-z]*");
        net->addInput(stimulation.get());
    }
    for (int o = 0; o < folders; ++o)
        net->addOutput(new NeuronOut("f" + std::to_string(o)));
    std::vector<std::string> bodies;
    for (int m = 0; m < messages; ++m) {
        std::string body = "Hello,\r\n";
        for (int line = 0; line < 20; ++line)
            body += "some ordinary text of line " + std::to_string(line) + " with word" +
                    std::to_string((m + line) % stimulations) + "\r\n";
        bodies.push_back(body);
    }
    folder.fillLearningSet(*net, "Learn", bodies);
    for (int m = 0; m < net->fileCount(); ++m)
        net->getFile(m)->addTarget(net->getOutput(m % folders).get());
    return net;
}

void LearningRunInTheDialog(benchmark::State& state) {
    LearningFolder folder;
    ref_ptr<Net> net = learningNet(folder);
    double maxGap = 0, maxGapAfterFirst = 0, uiStall = 0, catchUp = 0;
    for (auto _ : state) {
        TLearn dialog;
        if (!dialog.setNet(net)) {
            state.SkipWithError("no chart picture");
            return;
        }
        dialog.show();
        QElapsedTimer clock;
        clock.start();
        std::vector<qint64> handled;
        handled.reserve(600);
        QObject::connect(dialog.findChild<QLineEdit*>("iterEdit"), &QLineEdit::textChanged,
                         [&] { handled.push_back(clock.nsecsElapsed()); });
        qint64 lastTick = clock.nsecsElapsed();
        qint64 longestTick = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            qint64 now = clock.nsecsElapsed();
            longestTick = std::max(longestTick, now - lastTick);
            lastTick = now;
        });
        qint64 workerEnd = 0;
        QEventLoop loop;
        dialog.Button1Click();
        LearnThread* thread = dialog.runningThread();
        // Direct: noted on the worker the moment it ends.
        QObject::connect(
            thread, &QThread::finished, thread, [&] { workerEnd = clock.nsecsElapsed(); },
            Qt::DirectConnection);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!dialog.isRunning())
                loop.quit();
        });
        poll.start(2);
        ticker.start();
        loop.exec();
        ticker.stop();

        qint64 gap = 0, gapAfterFirst = 0;
        for (std::size_t i = 1; i < handled.size(); ++i) {
            gap = std::max(gap, handled[i] - handled[i - 1]);
            if (i >= 2)
                gapAfterFirst = std::max(gapAfterFirst, handled[i] - handled[i - 1]);
        }
        if (!handled.empty())
            gap = std::max(gap, handled.front());
        maxGap = std::max(maxGap, gap / 1e6);
        maxGapAfterFirst = std::max(maxGapAfterFirst, gapAfterFirst / 1e6);
        uiStall = std::max(uiStall, longestTick / 1e6);
        if (!handled.empty())
            catchUp = std::max(catchUp, (handled.back() - workerEnd) / 1e6);
        if (handled.size() != 501)
            state.SkipWithError("not every progress report was handled");
    }
    state.counters["max_gap_ms"] = maxGap;
    state.counters["max_gap_after_first_ms"] = maxGapAfterFirst;
    state.counters["ui_stall_ms"] = uiStall;
    state.counters["catch_up_ms"] = catchUp;
}

BENCHMARK(LearningRunInTheDialog)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    setLogToStderr(false);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
