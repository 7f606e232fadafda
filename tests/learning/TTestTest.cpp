#include "LearningTestSupport.h"

#include "platform/profile/Loc.h"
#include "core/MatchBudget.h"
#include "core/NeuronIn.h"
#include "learning/TTest.h"
#include "tests/support/LogRecorder.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace {

struct Row {
    std::string name;
    std::string percent;
    bool marked;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << row.name << " " << row.percent << (row.marked ? " (marked)" : "");
}

template <class T> T* child(TTest& dialog, const char* name) {
    T* found = dialog.findChild<T*>(name);
    EXPECT_TRUE(found) << name;
    return found;
}

std::vector<Row> rows(TTest& dialog) {
    auto* list = child<QTableWidget>(dialog, "folderList");
    std::vector<Row> result;
    for (int r = 0; r < list->rowCount(); ++r)
        result.push_back(Row{list->item(r, 0)->text().toStdString(),
                             list->item(r, 1)->text().toStdString(),
                             !list->item(r, 1)->icon().isNull()});
    return result;
}

class TTestTest : public testing::Test {
protected:
    void SetUp() override {
        // The shipped language file, so the texts are those the user sees.
        locOpen(std::string(BREVALO_BIN_DIR) + "/strings.ini");
    }
    void TearDown() override { locClose(); }

    QSlider* slider(TTest& dialog) { return child<QSlider>(dialog, "thresholdBar"); }
    std::string stored() { return readFile(folder.netFile()); }

    LearningFolder folder;
};

TEST_F(TTestTest, CreatedWithTheSliderAtEighty) {
    TTest dialog;
    EXPECT_EQ(slider(dialog)->value(), 80);
    EXPECT_EQ(child<QLineEdit>(dialog, "thresholdEdit")->text(), "80");
    EXPECT_EQ(slider(dialog)->minimum(), 0);
    EXPECT_EQ(slider(dialog)->maximum(), 100);
    // Moving it without a net shows the value and stores nothing.
    slider(dialog)->setValue(33);
    EXPECT_EQ(child<QLineEdit>(dialog, "thresholdEdit")->text(), "33");
    EXPECT_FALSE(std::filesystem::exists(folder.netFile()));
}

struct ThresholdCase {
    const char* name;
    const char* storedLine; // null: no threshold in the file
    int slider;
    const char* after; // the threshold line afterwards; null: the file is unchanged
};

class TTestThreshold : public TTestTest, public testing::WithParamInterface<ThresholdCase> {};

TEST_P(TTestThreshold, SliderTakesTheStoredThresholdAndStoresWhatItShows) {
    const ThresholdCase& c = GetParam();
    std::string file = "[settings]\njobvariant=_1_\n";
    if (c.storedLine)
        file += std::string(c.storedLine) + "\n";
    writeFile(folder.netFile(), file);
    ref_ptr<Net> net = netOfSize(folder.netFile(), 1, 1);
    TTest dialog;
    dialog.setNet(net);
    EXPECT_EQ(slider(dialog)->value(), c.slider);
    EXPECT_EQ(child<QLineEdit>(dialog, "thresholdEdit")->text(), QString::number(c.slider));
    if (!c.after) {
        EXPECT_EQ(stored(), file);
        return;
    }
    EXPECT_NE(stored().find(c.after), std::string::npos) << stored();
    EXPECT_EQ(net->getThreshold(), c.slider);
}

INSTANTIATE_TEST_SUITE_P(
    Stored, TTestThreshold,
    testing::Values(
        ThresholdCase{"eighty_writes_nothing", "threshold=_80.000000_", 80, nullptr},
        ThresholdCase{"none_writes_nothing", nullptr, 80, nullptr},
        ThresholdCase{"fraction_is_cut_and_stored", "threshold=_75.5_", 75,
                      "threshold=_75.000000_"},
        ThresholdCase{"above_hundred_is_kept_in_range", "threshold=_150_", 100,
                      "threshold=_100.000000_"},
        ThresholdCase{"negative_is_kept_in_range", "threshold=_-3_", 0, "threshold=_0.000000_"},
        ThresholdCase{"fraction_cut_to_eighty_writes_nothing", "threshold=_80.9_", 80, nullptr},
        ThresholdCase{"not_a_number_shows_eighty", "threshold=_nan_", 80, nullptr},
        ThresholdCase{"huge_is_kept_in_range", "threshold=_1e300_", 100, "threshold=_100.000000_"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TTestTest, MovingTheSliderStoresAtOnceWhileANetIsSet) {
    ref_ptr<Net> net = netOfSize(folder.netFile(), 1, 1);
    TTest dialog;
    dialog.setNet(net);
    slider(dialog)->setValue(42);
    EXPECT_EQ(net->getThreshold(), 42);
    QTest::keyClick(slider(dialog), Qt::Key_PageUp);
    EXPECT_EQ(net->getThreshold(), 52);
    dialog.setNet(nullptr);
    slider(dialog)->setValue(10);
    EXPECT_EQ(net->getThreshold(), 52);
}

TEST_F(TTestTest, FindFoldersIsDisabledForAnUnlearnedNet) {
    TTest dialog;
    dialog.setNet(netOfSize(folder.netFile(), 2, 2));
    EXPECT_FALSE(child<QPushButton>(dialog, "propagateBtn")->isEnabled());
    dialog.setNet(netWithOutputs(folder.netFile(), {{"A", ""}}, {0.5}));
    EXPECT_TRUE(child<QPushButton>(dialog, "propagateBtn")->isEnabled());
}

TEST_F(TTestTest, ChosenFoldersComeFirstAndAnswerTheResponse) {
    ref_ptr<Net> net = netWithOutputs(
        folder.netFile(), {{"A", "Answer of A"}, {"B", "Answer of B"}, {"C", "Answer of C"}},
        {0.9, 0.2, 0.85});
    TTest dialog;
    dialog.setNet(net);
    dialog.setText("Some text\r\nwith two lines");
    EXPECT_EQ(dialog.contentText(), "Some text\r\nwith two lines");
    ASSERT_EQ(slider(dialog)->value(), 80);
    child<QPushButton>(dialog, "propagateBtn")->click();
    EXPECT_EQ(
        rows(dialog),
        (std::vector<Row>{{"A", "90.0%", true}, {"C", "85.0%", true}, {"B", "20.0%", false}}));
    EXPECT_EQ(dialog.answerText(), "Thank you for your message.\r\n\r\nAnswer of A\r\n\r\n"
                                   "Answer of C\r\n\r\nKind regards");
    EXPECT_EQ(child<QTabWidget>(dialog, "contentanswerTabs")->currentWidget()->objectName(),
              "answerTab");

    // A new text shows the content page with an empty list again.
    dialog.setText("other");
    EXPECT_EQ(rows(dialog).size(), 0u);
    EXPECT_EQ(child<QTabWidget>(dialog, "contentanswerTabs")->currentWidget()->objectName(),
              "contentTab");
}

TEST_F(TTestTest, ChosenFolderWithoutAnswerNamesItself) {
    ref_ptr<Net> net = netWithOutputs(
        folder.netFile(), {{"Sales", ""}, {"Support", "We will call you."}}, {0.95, 0.81});
    TTest dialog;
    dialog.setNet(net);
    child<QPushButton>(dialog, "propagateBtn")->click();
    EXPECT_EQ(dialog.answerText(),
              "Thank you for your message.\r\n\r\nYour message has been passed on to: Sales."
              "\r\n\r\nWe will call you.\r\n\r\nKind regards");
}

struct SliderCase {
    const char* name;
    int threshold;
    std::vector<Row> rows;
    bool noAnswer;
};

class TTestSlider : public TTestTest, public testing::WithParamInterface<SliderCase> {};

TEST_P(TTestSlider, ChoosesTheFoldersAtOrAboveIt) {
    const SliderCase& c = GetParam();
    ref_ptr<Net> net = netWithOutputs(
        folder.netFile(), {{"A", "a"}, {"B", "b"}, {"C", "c"}, {"D", "d"}}, {0.9, 0.2, 1.0, 0.0});
    TTest dialog;
    dialog.setNet(net);
    slider(dialog)->setValue(c.threshold);
    child<QPushButton>(dialog, "propagateBtn")->click();
    EXPECT_EQ(rows(dialog), c.rows);
    if (c.noAnswer)
        EXPECT_EQ(dialog.answerText(),
                  "No folder reached the threshold, so there is no suggested response.");
    else
        EXPECT_EQ(dialog.answerText().rfind("Thank you for your message.\r\n\r\n", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, TTestSlider,
                         testing::Values(SliderCase{"hundred_takes_only_an_output_of_one",
                                                    100,
                                                    {{"C", "100.0%", true},
                                                     {"A", "90.0%", false},
                                                     {"B", "20.0%", false},
                                                     {"D", "0.0%", false}},
                                                    false},
                                         SliderCase{"zero_takes_every_folder",
                                                    0,
                                                    {{"A", "90.0%", true},
                                                     {"B", "20.0%", true},
                                                     {"C", "100.0%", true},
                                                     {"D", "0.0%", true}},
                                                    false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TTestTest, NoFolderAtHundredGivesTheNoAnswerText) {
    ref_ptr<Net> net = netWithOutputs(folder.netFile(), {{"A", "a"}, {"B", "b"}}, {0.999, 0.5});
    TTest dialog;
    dialog.setNet(net);
    slider(dialog)->setValue(100);
    child<QPushButton>(dialog, "propagateBtn")->click();
    EXPECT_EQ(rows(dialog), (std::vector<Row>{{"A", "99.9%", false}, {"B", "50.0%", false}}));
    EXPECT_EQ(dialog.answerText(),
              "No folder reached the threshold, so there is no suggested response.");
}

TEST_F(TTestTest, TextNoStimulationMatchesShowsNoPercentages) {
    ref_ptr<Net> net =
        netWithOutputs(folder.netFile(), {{"A", "a"}, {"B", "b"}}, {0.99, 0.9}, "invoice");
    TTest dialog;
    dialog.setNet(net);
    const std::string said =
        "No stimulation matches this text: the message stays in the inbox, and there is no "
        "suggested response.";
    dialog.setText("Cheap watches, today only");
    child<QPushButton>(dialog, "propagateBtn")->click();
    auto* list = child<QTableWidget>(dialog, "folderList");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text().toStdString(), said);
    EXPECT_EQ(list->columnSpan(0, 0), 2);
    EXPECT_EQ(dialog.answerText(), said);
    // A text that matches lists the folders again, one per row.
    dialog.setText("Your invoice");
    child<QPushButton>(dialog, "propagateBtn")->click();
    EXPECT_EQ(rows(dialog), (std::vector<Row>{{"A", "99.0%", true}, {"B", "90.0%", true}}));
    EXPECT_EQ(list->columnSpan(0, 0), 1);
}

TEST_F(TTestTest, HugeTextGivesUpABacktrackingPatternAndShowsTheOthersResult) {
    ref_ptr<Net> net =
        netWithOutputs(folder.netFile(), {{"A", "a"}, {"B", "b"}}, {0.99, 0.9}, "invoice");
    // Quadratic for a backtracking matcher (\h keeps it from the linear scan): every
    // "invoice" of the one sentence starts a search to its end.
    ref_ptr<NeuronIn> heavy(new NeuronIn("heavy"));
    heavy->addRegex("invoice.*due\\h");
    net->addInput(heavy.get());
    BackPropagationPtr network(new BackPropagation(2, 0, 2));
    network->getOb()[0] = std::log(0.99 / 0.01);
    network->getOb()[1] = std::log(0.9 / 0.1);
    net->setNetwork(network);
    std::string text;
    while (text.size() < (1u << 20))
        text += "invoice number 12\r\n";
    text += ". Then due soon.";
    TTest dialog;
    dialog.setNet(net);
    dialog.setText(text);
    LogRecorder log;
    std::int64_t before = MatchBudget::totalGivenUp();
    child<QPushButton>(dialog, "propagateBtn")->click();
    EXPECT_EQ(MatchBudget::totalGivenUp() - before, 1);
    // One line names the text and the pattern given up on.
    EXPECT_TRUE(log.contains("'(invoice.*due\\h)'")) << testing::PrintToString(log.lines());
    EXPECT_TRUE(log.contains("test dialog text")) << testing::PrintToString(log.lines());
    EXPECT_EQ(rows(dialog), (std::vector<Row>{{"A", "99.0%", true}, {"B", "90.0%", true}}));
}

TEST_F(TTestTest, EvaluationWithoutResultLeavesEverythingAsItWas) {
    ref_ptr<Net> net = netWithOutputs(folder.netFile(), {{"A", "a"}}, {0.9});
    TTest dialog;
    dialog.setNet(net);
    child<QPushButton>(dialog, "propagateBtn")->click();
    ASSERT_EQ(rows(dialog).size(), 1u);
    std::string answer = dialog.answerText();
    // A folder added since learning: the network no longer fits and gives nothing.
    net->addOutput(new NeuronOut("new"));
    dialog.propagateBtnClick();
    EXPECT_EQ(rows(dialog).size(), 1u);
    EXPECT_EQ(dialog.answerText(), answer);
}

struct EnterCase {
    const char* name;
    const char* focus; // the object name of the widget with the focus
    Qt::KeyboardModifiers modifiers;
    bool finds;
};

class TTestEnter : public TTestTest, public testing::WithParamInterface<EnterCase> {};

TEST_P(TTestEnter, RunsFindFoldersOutsideTheTextAndCtrlEnterInIt) {
    const EnterCase& c = GetParam();
    TTest dialog;
    dialog.setNet(netWithOutputs(folder.netFile(), {{"A", "a"}}, {0.9}));
    dialog.setText("text");
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QWidget* focus = child<QWidget>(dialog, c.focus);
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_Return, c.modifiers);
    EXPECT_EQ(rows(dialog).size(), c.finds ? 1u : 0u);
    EXPECT_EQ(dialog.contentText() == "text", c.finds) << "Enter in the text starts a line";
    // The percentages are never cut off.
    const QAbstractItemView* list = child<QTableWidget>(dialog, "folderList");
    if (c.finds) {
        EXPECT_GE(child<QTableWidget>(dialog, "folderList")->columnWidth(1),
                  list->sizeHintForColumn(1));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TTestEnter,
    testing::Values(EnterCase{"OnTheButton", "propagateBtn", Qt::NoModifier, true},
                    EnterCase{"OnTheSlider", "thresholdBar", Qt::NoModifier, true},
                    EnterCase{"InTheTextANewLine", "contentMemo", Qt::NoModifier, false},
                    EnterCase{"CtrlInTheText", "contentMemo", Qt::ControlModifier, true}),
    [](const testing::TestParamInfo<EnterCase>& info) { return std::string(info.param.name); });

TEST_F(TTestTest, ClosingAnswersCancel) {
    for (const char* how : {"close", "escape", "frame"}) {
        TTest dialog;
        QTimer::singleShot(0, &dialog, [&dialog, how] {
            std::string way = how;
            if (way == "close")
                dialog.findChild<QPushButton*>("closeBtn")->click();
            else if (way == "escape")
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.close();
        });
        EXPECT_EQ(dialog.exec(), 2) << how;
    }
}

} // namespace
