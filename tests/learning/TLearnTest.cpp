#include "LearningTestSupport.h"

#include "learning/ChartView.h"
#include "learning/LearnThread.h"
#include "learning/TLearn.h"
#include "learning/TTest.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr QRgb black = 0xFF000000;
constexpr QRgb red = 0xFFFF0000;

QLineEdit* edit(TLearn& dialog, const char* name) {
    auto* found = dialog.findChild<QLineEdit*>(name);
    EXPECT_TRUE(found) << name;
    return found;
}

QPushButton* button(TLearn& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(name);
}

// Columns holding a pixel of the colour within rows [top, bottom].
std::set<int> columnsWith(const QImage& image, QRgb colour, int top, int bottom) {
    std::set<int> columns;
    for (int y = top; y <= bottom; ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                columns.insert(x);
    return columns;
}

int countOf(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == colour;
    return count;
}

class TLearnTest : public testing::Test {
protected:
    // A run on a net without stimulations, folders or learning messages: quick, and every
    // error is 0. Nothing it posts is handled until the test lets the dialog do so.
    void startQuickRun(TLearn& dialog, int iterations) {
        edit(dialog, "iterationsEdit")->setText(QString::number(iterations));
        dialog.Button1Click();
        ASSERT_TRUE(dialog.isRunning());
    }

    LearningFolder folder;
};

struct SizeCase {
    const char* name;
    int inputs;
    int outputs;
    const char* hidden;
};

class TLearnHiddenCount : public TLearnTest, public testing::WithParamInterface<SizeCase> {};

TEST_P(TLearnHiddenCount, ProposesHalfTheNeuronsButAtLeastFour) {
    const SizeCase& c = GetParam();
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), c.inputs, c.outputs)));
    EXPECT_EQ(edit(dialog, "inputCountEdit")->text(), QString::number(c.inputs));
    EXPECT_EQ(edit(dialog, "outputCountEdit")->text(), QString::number(c.outputs));
    EXPECT_EQ(edit(dialog, "hiddenCountEdit")->text(), c.hidden);
    EXPECT_EQ(edit(dialog, "iterationsEdit")->text(), "500");
    EXPECT_FALSE(dialog.isLearned());
}

INSTANTIATE_TEST_SUITE_P(Sizes, TLearnHiddenCount,
                         testing::Values(SizeCase{"three_and_two_give_the_minimum", 3, 2, "4"},
                                         SizeCase{"ten_and_seven_give_eight", 10, 7, "8"},
                                         SizeCase{"empty_net", 0, 0, "4"},
                                         SizeCase{"nine_and_zero_round_down", 9, 0, "4"},
                                         SizeCase{"large", 40, 11, "25"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TickCase {
    const char* name;
    int iterations;
    std::set<int> ticks;
};

class TLearnTicks : public TLearnTest, public testing::WithParamInterface<TickCase> {};

TEST_P(TLearnTicks, StandEveryHundredIterationsOnTheAxis) {
    const TickCase& c = GetParam();
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    if (c.iterations != 500)
        startQuickRun(dialog, c.iterations);
    const QImage& chart = dialog.chartImage();
    ASSERT_EQ(chart.size(), QSize(395, 280));
    // The picture has no black of its own: every black pixel is a tick, 266 to 274.
    EXPECT_EQ(columnsWith(chart, black, 0, 279), c.ticks);
    for (int x : c.ticks)
        for (int y = 266; y <= 273; ++y)
            EXPECT_EQ(chart.pixel(x, y), black) << x << "," << y;
    EXPECT_EQ(columnsWith(chart, black, 0, 265), std::set<int>{});
    EXPECT_EQ(columnsWith(chart, black, 275, 279), std::set<int>{});
    finishRun(dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Iterations, TLearnTicks,
    testing::Values(TickCase{"five_hundred", 500, {100, 172, 244, 316, 388}},
                    TickCase{"two_hundred_fifty", 250, {172, 316}},
                    TickCase{"one_hundred_ends_on_the_right", 100, {388}},
                    TickCase{"ninety_nine_has_none", 99, {}},
                    TickCase{"thousand", 1000, {64, 100, 136, 172, 208, 244, 280, 316, 352, 388}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TLearnTest, IterationCoordinatesMatchThePicture) {
    EXPECT_EQ(ChartView::x(0, 500), 28);
    EXPECT_EQ(ChartView::x(500, 500), 388);
    EXPECT_EQ(ChartView::x(1, 7), 79); // 51.43 truncated
    // Counts where 360 * k no longer fits 32 bits.
    EXPECT_EQ(ChartView::x(2000000000, 2000000000), 388);
    EXPECT_EQ(ChartView::x(1000000000, 2000000000), 208);
}

TEST_F(TLearnTest, ErrorTravelsTimesTenThousandTruncated) {
    EXPECT_EQ(TLearn::scaleError(0.12345), 1234);
    EXPECT_EQ(TLearn::scaleError(-0.12345), -1234);
    EXPECT_EQ(TLearn::scaleError(0.0), 0);
    // Beyond the 32-bit range the value saturates instead of being undefined.
    EXPECT_EQ(TLearn::scaleError(1e12), INT_MAX);
    EXPECT_EQ(TLearn::scaleError(-1e12), INT_MIN);
    EXPECT_EQ(TLearn::scaleError(NAN), 0);
}

TEST_F(TLearnTest, ErrorShowsFourDecimalsAndItsLabelThree) {
    // Three dialogs get one labelled point at iteration 100 each: 0.1234 and 0.1230 give
    // the same picture (both labelled "0.123"), 0.1240 another.
    QImage charts[3];
    QString shown[3];
    int scaled[3] = {TLearn::scaleError(0.12345), 1230, 1240};
    for (int i = 0; i < 3; ++i) {
        TLearn dialog;
        ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
        startQuickRun(dialog, 500);
        dialog.learnProgress(100, scaled[i]);
        charts[i] = dialog.chartImage().copy();
        shown[i] = edit(dialog, "errorEdit")->text();
        EXPECT_EQ(edit(dialog, "iterEdit")->text(), "100");
        finishRun(dialog);
    }
    EXPECT_EQ(shown[0], "0.1234");
    EXPECT_EQ(shown[1], "0.123");
    EXPECT_EQ(shown[2], "0.124");
    EXPECT_GT(countOf(charts[0], black), 5 * 8); // the label is there beside the ticks
    EXPECT_TRUE(charts[0] == charts[1]);
    EXPECT_FALSE(charts[0] == charts[2]);
}

TEST_F(TLearnTest, CurveStartsWithoutLineAndIsLabelledEveryHundred) {
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    startQuickRun(dialog, 500);
    QImage before = dialog.chartImage().copy();
    dialog.learnProgress(0, 400000); // 40
    EXPECT_EQ(countOf(dialog.chartImage(), red), 0);
    EXPECT_FALSE(dialog.chartImage() == before); // the label of iteration 0
    for (int i = 1; i <= 500; ++i)
        dialog.learnProgress(i, 400000 - 600 * i); // 40 falling to 10
    const QImage& chart = dialog.chartImage();
    // The line begins at iteration 0 (x 28) and ends at iteration 500 (x 388).
    std::set<int> curve = columnsWith(chart, red, 0, 279);
    ASSERT_FALSE(curve.empty());
    EXPECT_EQ(*curve.begin(), 28);
    EXPECT_EQ(*curve.rbegin(), 388);
    // Black above the axis is label text only: near x(k) for k = 0, 100, ..., 500.
    std::set<int> text = columnsWith(chart, black, 0, 262);
    for (int k = 0; k <= 500; k += 100) {
        int x = ChartView::x(k, 500);
        bool labelled = false;
        for (int column = x - 14; column <= x + 14; ++column)
            labelled = labelled || text.count(column);
        EXPECT_TRUE(labelled) << "iteration " << k;
    }
    for (int column : text) {
        bool nearLabel = false;
        for (int k = 0; k <= 500; k += 100)
            nearLabel = nearLabel || std::abs(column - ChartView::x(k, 500)) <= 15;
        EXPECT_TRUE(nearLabel) << "stray black at x " << column;
    }
    finishRun(dialog);
}

TEST_F(TLearnTest, UncheckedDrawChartStopsTheCurveAndCheckingJoinsWithOneLine) {
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    startQuickRun(dialog, 500);
    auto* check = dialog.findChild<QCheckBox*>("drawChartCheck");
    ASSERT_TRUE(check);
    EXPECT_TRUE(check->isChecked());
    const ChartView& view = dialog.chartView();
    for (int i = 0; i <= 200; ++i)
        dialog.learnProgress(i, 100000); // 10
    check->setChecked(false);
    QImage atUncheck = dialog.chartImage().copy();
    for (int i = 201; i < 300; ++i)
        dialog.learnProgress(i, 700000); // 70: would climb far above
    EXPECT_TRUE(dialog.chartImage() == atUncheck);
    // The fields go on without the chart.
    EXPECT_EQ(edit(dialog, "iterEdit")->text(), "299");
    EXPECT_EQ(edit(dialog, "errorEdit")->text(), "70");
    EXPECT_EQ(dialog.findChild<QProgressBar*>("progress")->value(), 299);
    check->setChecked(true);
    dialog.learnProgress(301, 100000);
    const QImage& chart = dialog.chartImage();
    const int y10 = view.y(10);
    // One straight line from iteration 200 to 301, all on the row of error 10.
    for (int x = ChartView::x(200, 500); x <= ChartView::x(301, 500); ++x)
        EXPECT_EQ(chart.pixel(x, y10), red) << x;
    std::set<int> aboveTheRow = columnsWith(chart, red, 0, y10 - 1);
    EXPECT_TRUE(aboveTheRow.empty());
    finishRun(dialog);
}

TEST_F(TLearnTest, RunReportsEveryIterationAndTheEnd) {
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    startQuickRun(dialog, 250);
    EXPECT_EQ(dialog.findChild<QProgressBar*>("progress")->maximum(), 250);
    finishRun(dialog);
    EXPECT_FALSE(dialog.isRunning());
    EXPECT_TRUE(dialog.isLearned());
    EXPECT_EQ(edit(dialog, "iterEdit")->text(), "250");
    EXPECT_EQ(edit(dialog, "errorEdit")->text(), "0");
    EXPECT_EQ(dialog.findChild<QProgressBar*>("progress")->value(), 250);
    EXPECT_FALSE(edit(dialog, "timeEdit")->text().isEmpty());
    // After the end, late progress changes nothing.
    dialog.learnProgress(3, 5000);
    EXPECT_EQ(edit(dialog, "iterEdit")->text(), "250");
}

TEST_F(TLearnTest, RunOverLearningSetTrainsTheNetAndLowersTheError) {
    ref_ptr<Net> net = folder.net();
    for (const char* word : {"word0", "word1"}) {
        ref_ptr<NeuronIn> stimulation(new NeuronIn(word));
        stimulation->addRegex(word);
        net->addInput(stimulation.get());
    }
    net->addOutput(new NeuronOut("A"));
    net->addOutput(new NeuronOut("B"));
    std::vector<std::string> bodies;
    for (int i = 0; i < 20; ++i)
        bodies.push_back(i % 2 ? "about word0" : "about word1");
    folder.fillLearningSet(*net, "Learn", bodies);
    ASSERT_EQ(net->fileCount(), 20);
    for (int i = 0; i < 20; ++i)
        net->getFile(i)->addTarget(net->getOutput(i % 2).get());

    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(net));
    EXPECT_FALSE(net->isLearned());
    dialog.Button1Click();
    ASSERT_TRUE(dialog.isRunning());
    finishRun(dialog);
    EXPECT_TRUE(dialog.isLearned());
    EXPECT_TRUE(net->isLearned());
    EXPECT_EQ(net->getNetwork()->getHiddenCount(), 4);
    EXPECT_LT(edit(dialog, "errorEdit")->text().toDouble(), 1.0);
    DoublePtr a = net->evaluate("word1");
    DoublePtr b = net->evaluate("word0");
    EXPECT_GT(a[0], 0.8);
    EXPECT_GT(b[1], 0.8);
    EXPECT_GT(countOf(dialog.chartImage(), red), 300);
}

// The run trains a network of its own: the net keeps what it had until the dialog, on its
// own thread, installs the run's network once the run has ended.
TEST_F(TLearnTest, TheNetGetsTheRunsNetworkWhenTheRunHasEnded) {
    ref_ptr<Net> net = netOfSize(folder.netFile(), 1, 1);
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(net));
    startQuickRun(dialog, 10);
    dialog.runningThread()->wait();
    EXPECT_FALSE(net->isLearned());
    finishRun(dialog);
    EXPECT_TRUE(net->isLearned());
    EXPECT_EQ(net->getNetwork()->getInputCount(), 1);
}

TEST_F(TLearnTest, StartDuringARunDoesNothing) {
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    startQuickRun(dialog, 300);
    LearnThread* first = dialog.runningThread();
    edit(dialog, "iterationsEdit")->setText("700");
    dialog.Button1Click();
    EXPECT_EQ(dialog.runningThread(), first);
    EXPECT_EQ(first->getIterations(), 300);
    EXPECT_EQ(dialog.findChild<QProgressBar*>("progress")->maximum(), 300);
    finishRun(dialog);
}

TEST_F(TLearnTest, CloseEscapeAndFrameAreRefusedWhileRunning) {
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    dialog.show();
    startQuickRun(dialog, 500);
    button(dialog, "closeBtn")->click();
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(edit(dialog, "iterationsEdit"), Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.close());
    dialog.reject();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.FormCloseQuery());

    finishRun(dialog);
    EXPECT_TRUE(dialog.FormCloseQuery());
    button(dialog, "closeBtn")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 1);
}

struct ModalCase {
    const char* name;
    bool run;
    const char* how; // "close", "escape" or "frame"
    int result;
};

class TLearnModalResult : public TLearnTest, public testing::WithParamInterface<ModalCase> {};

TEST_P(TLearnModalResult, TellsWhetherARunEnded) {
    const ModalCase& c = GetParam();
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    QTimer::singleShot(0, &dialog, [&] {
        if (c.run) {
            startQuickRun(dialog, 200);
            finishRun(dialog);
        }
        std::string how = c.how;
        if (how == "close")
            button(dialog, "closeBtn")->click();
        else if (how == "escape")
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
    });
    EXPECT_EQ(dialog.exec(), c.result);
}

INSTANTIATE_TEST_SUITE_P(Closing, TLearnModalResult,
                         testing::Values(ModalCase{"close_without_run", false, "close", 2},
                                         ModalCase{"escape_without_run", false, "escape", 2},
                                         ModalCase{"frame_without_run", false, "frame", 2},
                                         ModalCase{"close_after_run", true, "close", 1},
                                         ModalCase{"escape_after_run", true, "escape", 1},
                                         ModalCase{"frame_after_run", true, "frame", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TLearnTest, ExceptionInTheRunIsShownAndCountsAsLearned) {
    ref_ptr<Net> net = folder.net();
    folder.breakStore();
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(net));
    MessageBoxCatcher boxes;
    dialog.Button1Click();
    ASSERT_TRUE(dialog.isRunning());
    finishRun(dialog);
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0].rfind("Error: Learning failed: ", 0), 0u) << boxes.texts()[0];
    EXPECT_TRUE(dialog.isLearned());
    EXPECT_FALSE(dialog.isRunning());
}

struct BadCountCase {
    const char* name;
    const char* text;
    const char* report;
};

class TLearnBadIterations : public TLearnTest, public testing::WithParamInterface<BadCountCase> {};

TEST_P(TLearnBadIterations, StartNoRunAndSayWhy) {
    const BadCountCase& c = GetParam();
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    ReportRecorder reports;
    edit(dialog, "iterationsEdit")->setText(c.text);
    dialog.Button1Click();
    EXPECT_FALSE(dialog.isRunning());
    ASSERT_EQ(reports.texts().size(), 1u);
    EXPECT_EQ(reports.texts()[0], c.report);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, TLearnBadIterations,
    testing::Values(
        BadCountCase{"zero", "0", "Error: The number of iterations must be at least 1."},
        BadCountCase{"negative", "-5", "Error: The number of iterations must be at least 1."},
        BadCountCase{"letters", "abc", "Error: 'abc' is not a valid integer value"},
        BadCountCase{"empty", "", "Error: '' is not a valid integer value"},
        BadCountCase{"beyond_32_bits", "4294967296",
                     "Error: '4294967296' is not a valid integer value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TLearnTest, MissingPictureFailsSetNetAndStart) {
    ReportRecorder reports;
    TLearn dialog;
    QString shipped = dialog.getChartFile();
    dialog.setChartFile(QString::fromStdString(folder.path() + "/no-chart.bmp"));
    EXPECT_FALSE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    ASSERT_EQ(reports.texts().size(), 1u);
    EXPECT_NE(reports.texts()[0].find("no-chart.bmp"), std::string::npos);

    dialog.Button1Click();
    EXPECT_FALSE(dialog.isRunning());
    EXPECT_EQ(reports.texts().size(), 2u);

    writeFile(folder.path() + "/broken.bmp", "BM not really a picture");
    dialog.setChartFile(QString::fromStdString(folder.path() + "/broken.bmp"));
    dialog.Button1Click();
    EXPECT_FALSE(dialog.isRunning());
    EXPECT_EQ(reports.texts().size(), 3u);

    dialog.setChartFile(shipped);
    EXPECT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    EXPECT_EQ(reports.texts().size(), 3u);
}

TEST_F(TLearnTest, EachStartRedrawsThePicture) {
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(netOfSize(folder.netFile(), 0, 0)));
    QImage fresh = dialog.chartImage().copy();
    startQuickRun(dialog, 500);
    for (int i = 0; i <= 500; ++i)
        dialog.learnProgress(i, 300000 - 500 * i);
    finishRun(dialog);
    EXPECT_GT(countOf(dialog.chartImage(), red), 0);
    startQuickRun(dialog, 500);
    EXPECT_TRUE(dialog.chartImage() == fresh);
    finishRun(dialog);
    EXPECT_TRUE(dialog.isLearned());
}

TEST_F(TLearnTest, DestroyedWhileRunningWaitsForTheRun) {
    ref_ptr<Net> net = netOfSize(folder.netFile(), 0, 0);
    {
        TLearn dialog;
        ASSERT_TRUE(dialog.setNet(net));
        startQuickRun(dialog, 20000);
    }
    // The run's late reports find no dialog.
    processPosted();
    EXPECT_EQ(net->references(), 1);
    EXPECT_TRUE(net->isLearned());
}

// Evaluate cross-validates on its thread with the progress bar, keeps the dialog open
// meanwhile, shows the numbers and the picture, and leaves the net unlearned.
TEST_F(TLearnTest, EvaluateShowsTheNumbersAndThePictureAndLeavesTheNetAlone) {
    ref_ptr<Net> net = folder.net();
    for (const char* word : {"word0", "word1"}) {
        ref_ptr<NeuronIn> stimulation(new NeuronIn(word));
        stimulation->addRegex(word);
        net->addInput(stimulation.get());
    }
    net->addOutput(new NeuronOut("Alpha"));
    net->addOutput(new NeuronOut("Beta"));
    std::vector<std::string> bodies;
    for (int i = 0; i < 20; ++i)
        bodies.push_back(i % 2 ? "about word0" : "about word1");
    folder.fillLearningSet(*net, "Learn", bodies);
    for (int i = 0; i < 20; ++i)
        net->getFile(i)->addTarget(net->getOutput(i % 2).get());
    TLearn dialog;
    ASSERT_TRUE(dialog.setNet(net));
    edit(dialog, "iterationsEdit")->setText("100");
    dialog.evaluateBtn->click();
    ASSERT_TRUE(dialog.isEvaluating());
    EXPECT_FALSE(dialog.FormCloseQuery());
    EXPECT_FALSE(button(dialog, "Button1")->isEnabled());
    auto* bar = dialog.findChild<QProgressBar*>("progress");
    EXPECT_EQ(bar->maximum(), 5 * 100);
    ASSERT_TRUE(QTest::qWaitFor([&dialog] { return !dialog.isEvaluating(); }, 60000));
    processPosted();
    EXPECT_EQ(bar->value(), 5 * 100);
    EXPECT_TRUE(dialog.FormCloseQuery());
    EXPECT_TRUE(button(dialog, "Button1")->isEnabled());
    ASSERT_NE(dialog.evaluationWindow, nullptr);
    EXPECT_TRUE(dialog.evaluationWindow->isVisible());
    QString numbers = dialog.evaluationText->toPlainText();
    EXPECT_TRUE(numbers.contains("Alpha                 1.000   1.000  1.000        10"))
        << numbers.toStdString();
    EXPECT_TRUE(numbers.contains("accuracy of the top folder:           1.000"))
        << numbers.toStdString();
    EXPECT_FALSE(dialog.evaluationPicture->pixmap().isNull());
    EXPECT_FALSE(net->isLearned());
    EXPECT_FALSE(dialog.isLearned());
}

} // namespace

struct CurveCase {
    const char* name;
    long long iterations, tickStep;
    double first, last, scaleTop;
};

class ChartScale : public testing::TestWithParam<CurveCase> {};

// A straight curve from `first` to `last`, plotted at 200 points and at every tick: the
// scale fits the curve, ticks stay few, labels stay in the plot, clear of the axes and of
// each other.
TEST_P(ChartScale, FollowsTheCurveWithLabelsInsideThePlot) {
    const CurveCase& c = GetParam();
    ChartView view;
    view.start(c.iterations);
    std::set<long long> points;
    for (int i = 0; i <= 200; ++i)
        points.insert(c.iterations * i / 200);
    for (long long k = 0; k <= c.iterations; k += c.tickStep)
        points.insert(k);
    for (long long k : points)
        view.plot(k, c.first + (c.last - c.first) * static_cast<double>(k) /
                                   static_cast<double>(c.iterations));
    const QRect plot(ChartView::left + 1, 0, ChartView::pictureWidth - ChartView::left - 1,
                     ChartView::bottom - 5);
    const std::vector<QRect>& labels = view.labelPlaces();
    EXPECT_EQ(labels.size(), static_cast<size_t>(c.iterations / c.tickStep + 1));
    for (size_t i = 0; i < labels.size(); ++i)
        EXPECT_TRUE(plot.contains(labels[i]) && !(i > 0 && labels[i].intersects(labels[i - 1])))
            << "label " << i;
    EXPECT_DOUBLE_EQ(view.scaleTop(), c.scaleTop);
    int highest = 0;
    while (highest < ChartView::bottom && columnsWith(view.image(), red, highest, highest).empty())
        ++highest;
    EXPECT_LT(highest, ChartView::top + 40) << "the curve's top is far below the scale's";
    EXPECT_EQ(columnsWith(view.image(), black, 266, 274).size(),
              static_cast<size_t>(c.iterations / c.tickStep));
}

INSTANTIATE_TEST_SUITE_P(
    Curves, ChartScale,
    testing::Values(CurveCase{"falling_from_24_to_0_03", 500, 100, 24, 0.03, 25},
                    CurveCase{"below_one_half", 500, 100, 0.5, 0, 0.5},
                    CurveCase{"rising_past_its_first_point", 1000, 100, 2, 35.6, 40},
                    CurveCase{"one_point_two_million", 1200000, 200000, 3, 0.1, 3},
                    CurveCase{"two_billion", 2000000000, 200000000, 24, 0.03, 25}),
    [](const auto& info) { return std::string(info.param.name); });

// What a person meets first: the focus on a field they can change, the slider named.
TEST_F(TLearnTest, FirstFocusIsAFieldAPersonCanChangeAndTheSliderIsNamed) {
    TLearn learn;
    ASSERT_TRUE(learn.setNet(netOfSize(folder.netFile(), 1, 1)));
    TTest test;
    for (QDialog* dialog : std::initializer_list<QDialog*>{&learn, &test}) {
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
        QWidget* focus = QApplication::focusWidget();
        auto* line = qobject_cast<QLineEdit*>(focus);
        EXPECT_TRUE(focus && focus->isEnabled() && !(line && line->isReadOnly()));
        dialog->hide();
    }
    auto* named = test.findChild<QLabel*>("thresholdLabel");
    EXPECT_TRUE(named && named->buddy() == test.findChild<QSlider*>("thresholdBar"));
}
