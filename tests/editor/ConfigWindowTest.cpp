#include "DialogDriver.h"
#include "../shell/ShellFixture.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/lock/FileLock.h"
#include "platform/profile/Loc.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "core/Net.h"
#include "editor/TInputForm.h"
#include "editor/TMain.h"
#include "editor/TMemoForm.h"
#include "editor/TSuggestForm.h"
#include "learning/TLearn.h"

#include <QAction>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>
#include <set>
#include <memory>
#include <sstream>
#include <gtest/gtest.h>

namespace {

using shellFixture::deliver;
using shellFixture::message;

void answerInput(const std::string& text) {
    whenDialog<TInputForm>([text](TInputForm* prompt) {
        prompt->InputEdit->setText(QString::fromStdString(text));
        prompt->OkBtn->click();
    });
}

void answerBox(QMessageBox::StandardButton button, QString* seen = nullptr) {
    whenDialog<QMessageBox>([button, seen](QMessageBox* box) {
        if (seen)
            *seen = box->text();
        box->button(button)->click();
    });
}

class ConfigWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        home = dir.path().toStdString();
        maildir = home + "/Maildir";
        shellFixture::copyStrings(home);
        locOpen(home + "/strings.ini");
        ASSERT_EQ(createStoreRoot(maildir), S_OK);
        connection = connectStore(maildir);
        previous = setErrorReporter([this](const std::string& caption, const std::string& text) {
            errors.push_back(caption + ": " + text);
        });
        setLogToStderr(false);
        QSettings("brevalo", "windows").clear(); // no layout left by an earlier test
    }
    void TearDown() override {
        window.reset();
        running = nullptr;
        connection = StoreConnection();
        setErrorReporter(previous);
        setLogToStderr(true);
        locClose();
    }

    ref_ptr<Net> makeNet() {
        return ref_ptr<Net>(
            new Net(home + "/zelko.ini", StoreMessages::of(connection.store.get())));
    }
    std::string learnDir() const { return maildir + "/.Brevalo.Learning set"; }
    std::string netFile() const {
        std::ifstream in(home + "/zelko.ini", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // A learning folder with these subjects (in this order) and a net over it with one
    // stimulation per entry of stimulations and one folder per entry of folders.
    ref_ptr<Net> writeNet(const std::vector<std::string>& subjects,
                          const std::vector<std::string>& stimulations,
                          const std::vector<std::string>& folders) {
        ref_ptr<Net> net = makeNet();
        net->getLearnFolder();
        for (std::size_t i = 0; i < subjects.size(); ++i)
            deliver(learnDir(), message(subjects[i], "Text of " + subjects[i] + "."),
                    "17000000" + std::to_string(10 + i) + ".M1P1.sample");
        for (const std::string& name : stimulations) {
            auto* neuron = new NeuronIn(name);
            neuron->addRegex(name);
            net->addInput(neuron);
        }
        for (const std::string& name : folders)
            net->addOutput(new NeuronOut(name));
        net->loadLearningSet();
        return net;
    }
    ref_ptr<FileData> entryNamed(Net* net, const std::string& subject) {
        for (int i = 0; i < net->fileCount(); ++i)
            if (net->getFile(i)->getName() == subject)
                return net->getFile(i);
        return nullptr;
    }
    TMain& open() {
        running = makeNet();
        window = std::make_unique<TMain>();
        window->openNet(running.get(), connection.store.get());
        return *window;
    }
    QTreeWidgetItem* inRoot() { return window->inTree->topLevelItem(0); }
    QTreeWidgetItem* outRoot() { return window->outTree->topLevelItem(0); }
    int rowOf(const std::string& subject) {
        for (int i = 0; i < window->fileList->topLevelItemCount(); ++i)
            if (window->fileList->topLevelItem(i)->text(0).toStdString() == subject)
                return i;
        return -1;
    }

    QTemporaryDir dir;
    std::string home;
    std::string maildir;
    StoreConnection connection;
    ErrorReporter previous;
    std::vector<std::string> errors;
    ref_ptr<Net> running;
    std::unique_ptr<TMain> window;
};

TEST_F(ConfigWindow, OpensWithTheTreesFilledAndTheRootsSelected) {
    ref_ptr<Net> net = writeNet({"Invoice 1", "Meeting"}, {"invoice", "meeting"}, {"Invoices"});
    net->getInput(0)->addRegex("bill");
    ASSERT_TRUE(net->save());
    TMain& w = open();
    EXPECT_EQ(w.windowTitle().toStdString(), locText("main.title"));
    EXPECT_EQ(w.minimumSize(), QSize(756, 673));
    ASSERT_EQ(inRoot()->childCount(), 2);
    EXPECT_EQ(inRoot()->child(0)->text(0), "invoice");
    EXPECT_EQ(TMain::imageOf(inRoot()->child(0)), 1);
    ASSERT_EQ(inRoot()->child(0)->childCount(), 2);
    EXPECT_EQ(inRoot()->child(0)->child(1)->text(0), "bill");
    EXPECT_EQ(TMain::imageOf(inRoot()->child(0)->child(1)), 2);
    EXPECT_TRUE(inRoot()->isExpanded());
    EXPECT_FALSE(inRoot()->child(0)->isExpanded());
    EXPECT_EQ(w.inTree->currentItem(), inRoot());
    EXPECT_EQ(w.outTree->currentItem(), outRoot());
    EXPECT_EQ(TMain::imageOf(outRoot()->child(0)), 3);
    EXPECT_EQ(w.fileList->topLevelItemCount(), 2);
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(0)), 6);
    EXPECT_NE(w.learnFolder(), nullptr);
    EXPECT_TRUE(w.NetLearn->isEnabled());
    EXPECT_FALSE(w.NetTest->isEnabled());
    EXPECT_FALSE(w.FileSave->isEnabled());
    EXPECT_FALSE(w.InEdit->isEnabled()) << "the root is selected";
    EXPECT_FALSE(w.OutEdit->isEnabled());
}

TEST_F(ConfigWindow, PaneWidthsGiveEachSideAQuarter) {
    TMain& w = open();
    w.show();
    QApplication::processEvents();
    QList<int> sizes = w.paneSplitter->sizes();
    int inner = w.paneSplitter->width() - 2 * w.paneSplitter->handleWidth();
    ASSERT_EQ(sizes.size(), 3);
    EXPECT_EQ(sizes[0], inner / 4);
    EXPECT_EQ(sizes[2], inner / 4);
    EXPECT_EQ(sizes[1], inner - 2 * (inner / 4));
}

// Long senders and subjects at the default size: the subject keeps a readable width; a
// header click sorts without losing the selection or the message shown; size and
// splitters come back in the next window.
TEST_F(ConfigWindow, LearningSetReadsSortsAndKeepsItsLayout) {
    const char* subjects[] = {"Quarterly invoice for consulting services", "Budget meeting",
                              "Agenda for the annual general meeting"};
    for (int i = 0; i < 3; ++i) {
        std::string text = message(subjects[i], "Text.");
        text.replace(text.find("Sender <sender@"), 15,
                     "Annabelle Kowalska-Smithson <annabelle.kowalska-smithson@");
        deliver(learnDir(), text, "17000000" + std::to_string(20 + i) + ".M1P1.sample");
    }
    writeNet({}, {}, {})->save();
    TMain& w = open();
    w.show();
    ASSERT_TRUE(processUntil([&] { return w.shownEntry() != nullptr; }, 5000));
    EXPECT_GE(w.fileList->header()->sectionSize(0), 180) << "subject column";

    w.fileList->clearSelection();
    w.fileList->topLevelItem(rowOf("Budget meeting"))->setSelected(true);
    QTest::mouseClick(w.fileList->header()->viewport(), Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(w.fileList->topLevelItem(0)->text(0), subjects[2]);
    EXPECT_EQ(w.fileList->topLevelItem(2)->text(0), subjects[0]);
    EXPECT_EQ(w.fileList->selectedItems(), QList{w.fileList->topLevelItem(1)});
    EXPECT_EQ(w.shownEntry()->getName(), "Budget meeting");

    w.resize(1000, 720);
    QApplication::processEvents();
    w.paneSplitter->setSizes({150, 600, 200});
    w.contentSplitter->setSizes({300, 250});
    QList<int> panes = w.paneSplitter->sizes(), content = w.contentSplitter->sizes();
    w.reject();
    TMain& again = open();
    again.show();
    QApplication::processEvents();
    EXPECT_EQ(again.size(), QSize(1000, 720));
    EXPECT_EQ(again.paneSplitter->sizes(), panes);
    EXPECT_EQ(again.contentSplitter->sizes(), content);
}

TEST_F(ConfigWindow, NonNumericLearningFolderOpensNothing) {
    std::ofstream(home + "/zelko.ini", std::ios::binary) << "[Global]\r\nlearnFolder=abc\r\n";
    TMain& w = open();
    EXPECT_EQ(w.learnFolder(), nullptr);
    EXPECT_EQ(w.fileList->topLevelItemCount(), 0);
    EXPECT_FALSE(w.NetLearn->isEnabled());
    EXPECT_FALSE(w.learnBtn->isEnabled());
    w.show();
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(w.fileList->selectedItems().isEmpty());
    EXPECT_EQ(w.shownEntry(), nullptr);
}

TEST_F(ConfigWindow, FirstPaintSelectsTheFirstRowAndShowsItsMatches) {
    writeNet({"Invoice 1", "Meeting"}, {"invoice"}, {})->save();
    TMain& w = open();
    w.show();
    ASSERT_TRUE(processUntil([&] { return w.shownEntry() != nullptr; }, 5000));
    EXPECT_EQ(w.fileList->topLevelItem(0)->isSelected(), true);
    EXPECT_EQ(w.fileList->selectedItems().size(), 1);
    QTextDocument* document = w.fileContentEdit->document();
    QString plain = document->toPlainText();
    int at = plain.indexOf("Invoice");
    ASSERT_GE(at, 0) << plain.toStdString();
    QTextCursor cursor(document);
    cursor.setPosition(at + 1);
    EXPECT_EQ(cursor.charFormat().background().color(), QColor(255, 0, 0));
    // Selecting the stimulation alone keeps the highlight; an expression node of none
    // (the other list row has no match) shows the plain text.
    w.fileList->topLevelItem(0)->setSelected(false);
    w.fileList->topLevelItem(1)->setSelected(true);
    EXPECT_EQ(w.shownEntry()->getName(), "Meeting");
    EXPECT_EQ(document->toPlainText().indexOf("Invoice"), -1);
}

TEST_F(ConfigWindow, ASecondExpressionCanBeAddedAtOnce) {
    TMain& w = open();
    answerInput("invoice");
    w.InAdd->trigger();
    ASSERT_EQ(inRoot()->childCount(), 1);
    EXPECT_EQ(w.inTree->currentItem(), inRoot()->child(0));
    EXPECT_TRUE(w.InAddStimulation->isEnabled());
    answerInput("inv(oice)?");
    w.InAddStimulation->trigger();
    EXPECT_TRUE(w.InAddStimulation->isEnabled()) << "the neuron stays selected";
    answerInput(" bill ");
    w.InAddStimulation->trigger();
    QTreeWidgetItem* neuron = inRoot()->child(0);
    ASSERT_EQ(neuron->childCount(), 2);
    EXPECT_EQ(neuron->child(0)->text(0), "inv(oice)?");
    EXPECT_EQ(neuron->child(1)->text(0), " bill ") << "kept exactly as typed";
    ASSERT_EQ(w.editedNet()->inputCount(), 1);
    EXPECT_EQ(w.editedNet()->getInput(0)->getRegexes(),
              (std::vector<std::string>{"inv(oice)?", " bill "}));
    EXPECT_TRUE(w.modified());
    EXPECT_TRUE(w.FileSave->isEnabled());
    EXPECT_EQ(running->inputCount(), 0) << "the running net is never edited";
}

TEST_F(ConfigWindow, EmptyAnswerChangesNothing) {
    TMain& w = open();
    answerInput("");
    w.InAdd->trigger();
    EXPECT_EQ(inRoot()->childCount(), 0);
    EXPECT_FALSE(w.modified());
}

TEST_F(ConfigWindow, DeletingTheOnlyExpressionAndThenTheNeuron) {
    writeNet({}, {"invoice", "meeting"}, {})->save();
    TMain& w = open();
    QTreeWidgetItem* neuron = inRoot()->child(0);
    w.inTree->setCurrentItem(neuron->child(0));
    QString seen;
    answerBox(QMessageBox::Ok, &seen);
    w.InDel->trigger();
    EXPECT_EQ(seen.toStdString(), locText("main.act.inDelStimulation.warn", "invoice"));
    EXPECT_EQ(neuron->childCount(), 0);
    EXPECT_EQ(w.editedNet()->getInput(0)->regexCount(), 0);

    w.inTree->setCurrentItem(inRoot()->child(1));
    w.inTree->currentItem()->setExpanded(true);
    answerBox(QMessageBox::Ok, &seen);
    w.InDel->trigger();
    EXPECT_EQ(seen.toStdString(), locText("main.act.inDel.warn", "meeting"));
    ASSERT_EQ(inRoot()->childCount(), 1);
    EXPECT_EQ(inRoot()->child(0)->text(0), "invoice");
    ASSERT_EQ(w.editedNet()->inputCount(), 1);
    EXPECT_EQ(w.editedNet()->getInput(0)->getName(), "invoice");
    EXPECT_TRUE(w.FileSave->isEnabled());
}

TEST_F(ConfigWindow, DeleteThenCancelStillEnablesSave) {
    writeNet({}, {"invoice"}, {})->save();
    TMain& w = open();
    w.inTree->setCurrentItem(inRoot()->child(0));
    answerBox(QMessageBox::Cancel);
    w.InDel->trigger();
    EXPECT_EQ(inRoot()->childCount(), 1);
    EXPECT_EQ(w.editedNet()->inputCount(), 1);
    EXPECT_TRUE(w.modified());
    EXPECT_TRUE(w.FileSave->isEnabled());
}

TEST_F(ConfigWindow, RightClickInTheStimulationTreeSelectsTheNodeAndShowsTheMenu) {
    writeNet({}, {"invoice", "meeting"}, {})->save();
    TMain& w = open();
    w.show();
    QApplication::processEvents();
    QTreeWidgetItem* meeting = inRoot()->child(1);
    QStringList entries;
    QTimer::singleShot(50, [&entries] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            entries << (action->isSeparator() ? QString("-") : action->text());
        menu->close();
    });
    w.inTreeContextPopup(w.inTree->visualItemRect(meeting).center());
    EXPECT_EQ(w.inTree->currentItem(), meeting);
    EXPECT_EQ(w.currentInNode(), meeting);
    EXPECT_EQ(entries.size(), 10);
    EXPECT_EQ(entries.value(5), "-");
    EXPECT_TRUE(w.InEdit->isEnabled());

    // Below the last node: no menu, nothing changes.
    w.inTreeContextPopup(QPoint(5, w.inTree->viewport()->height() - 2));
    EXPECT_EQ(w.inTree->currentItem(), meeting);

    w.InExpandAll->trigger();
    EXPECT_TRUE(inRoot()->child(0)->isExpanded());
    w.InColapse->trigger();
    EXPECT_FALSE(meeting->isExpanded());
    EXPECT_TRUE(inRoot()->child(0)->isExpanded());
    w.InColapseAll->trigger();
    EXPECT_FALSE(inRoot()->isExpanded());
    EXPECT_FALSE(inRoot()->child(0)->isExpanded());
}

TEST_F(ConfigWindow, RenamingANeuronKeepsItsExpressions) {
    writeNet({}, {"invoice"}, {})->save();
    TMain& w = open();
    w.inTree->setCurrentItem(inRoot()->child(0));
    answerInput("bills");
    w.InEdit->trigger();
    EXPECT_EQ(inRoot()->child(0)->text(0), "bills");
    EXPECT_EQ(inRoot()->child(0)->childCount(), 1);
    EXPECT_EQ(w.editedNet()->getInput(0)->getName(), "bills");
    EXPECT_TRUE(w.modified());
}

TEST_F(ConfigWindow, WhereAStimulationLooksIsChosenAndShown) {
    writeNet({}, {"invoice"}, {})->save();
    TMain& w = open();
    w.inTree->setCurrentItem(inRoot()->child(0));
    whenDialog<QInputDialog>([](QInputDialog* choice) {
        choice->setTextValue("Other field…");
        choice->accept();
    });
    answerInput("X-Tag");
    w.InField->trigger();
    EXPECT_EQ(w.editedNet()->getInput(0)->getField(), "header:X-Tag");
    EXPECT_EQ(inRoot()->child(0)->toolTip(0), "Looks at: Other field: X-Tag");
}

TEST_F(ConfigWindow, EditingAnExpressionReplacesItAndRehighlights) {
    writeNet({"Invoice 1"}, {"invoice"}, {})->save();
    TMain& w = open();
    w.fileList->topLevelItem(0)->setSelected(true);
    inRoot()->child(0)->setExpanded(true);
    w.inTree->setCurrentItem(inRoot()->child(0)->child(0));
    answerInput("text");
    w.InEdit->trigger();
    EXPECT_EQ(inRoot()->child(0)->child(0)->text(0), "text");
    EXPECT_EQ(w.editedNet()->getInput(0)->getRegex(0), "text");
    QTextDocument* document = w.fileContentEdit->document();
    int at = document->toPlainText().indexOf("Text of");
    ASSERT_GE(at, 0);
    QTextCursor cursor(document);
    cursor.setPosition(at + 1);
    EXPECT_EQ(cursor.charFormat().background().color(), QColor(255, 0, 0));
}

TEST_F(ConfigWindow, AssignEmailTogglesEveryRowOnItsOwn) {
    ref_ptr<Net> net = writeNet({"First", "Second", "Third"}, {}, {"Folder"});
    ref_ptr<NeuronOut> folder = net->getOutput(0);
    entryNamed(net.get(), "First")->addTarget(folder.get());
    entryNamed(net.get(), "Second")->addTarget(folder.get());
    ASSERT_TRUE(net->save());
    TMain& w = open();
    ASSERT_EQ(w.fileList->topLevelItemCount(), 3);
    w.outTree->setCurrentItem(outRoot()->child(0));
    w.fileList->selectAll();
    ASSERT_TRUE(w.OutCatSel->isEnabled());
    w.OutCatSel->trigger();
    Net* edited = w.editedNet().get();
    EXPECT_EQ(entryNamed(edited, "First")->targetCount(), 0);
    EXPECT_EQ(entryNamed(edited, "Second")->targetCount(), 0);
    ASSERT_EQ(entryNamed(edited, "Third")->targetCount(), 1);
    EXPECT_EQ(entryNamed(edited, "Third")->getTarget(0)->getName(), "Folder");
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(rowOf("First"))), 6);
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(rowOf("Second"))), 6);
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(rowOf("Third"))), 5);
    // The image follows the last row in list order.
    bool thirdLast = rowOf("Third") == 2;
    EXPECT_EQ(TMain::imageOf(outRoot()->child(0)), thirdLast ? 4 : 3);
    EXPECT_TRUE(w.modified());
}

TEST_F(ConfigWindow, RightClickOnAFolderAssignsWithoutMovingTheSelection) {
    ref_ptr<Net> net = writeNet({"First", "Second"}, {}, {"Folder A", "Folder B"});
    ASSERT_TRUE(net->save());
    TMain& w = open();
    w.show();
    QApplication::processEvents();
    w.fileList->topLevelItem(0)->setSelected(true);
    QTreeWidgetItem* b = outRoot()->child(1);
    QTest::mouseClick(w.outTree->viewport(), Qt::RightButton, {},
                      w.outTree->visualItemRect(b).center());
    EXPECT_EQ(w.outTree->currentItem(), outRoot()) << "the selection did not move";
    EXPECT_EQ(w.currentOutNode(), outRoot());
    FileData* first = w.entryOfRow(0);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->targetCount(), 1);
    EXPECT_EQ(first->getTarget(0)->getName(), "Folder B");
    EXPECT_EQ(TMain::imageOf(b), 4);
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(0)), 5);
    EXPECT_TRUE(w.modified());

    // On the root: nothing happens.
    w.setModified(false);
    QTest::mouseClick(w.outTree->viewport(), Qt::RightButton, {},
                      w.outTree->visualItemRect(outRoot()).center());
    EXPECT_EQ(first->targetCount(), 1);
    EXPECT_FALSE(w.modified());
    // A second right click on the folder takes the message out again.
    QTest::mouseClick(w.outTree->viewport(), Qt::RightButton, {},
                      w.outTree->visualItemRect(b).center());
    EXPECT_EQ(first->targetCount(), 0);
    EXPECT_EQ(TMain::imageOf(b), 3);
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(0)), 6);
}

TEST_F(ConfigWindow, ShownEntryMarksItsFolders) {
    ref_ptr<Net> net = writeNet({"First", "Second"}, {}, {"Folder A", "Folder B"});
    entryNamed(net.get(), "First")->addTarget(net->getOutput(1).get());
    ASSERT_TRUE(net->save());
    TMain& w = open();
    w.fileList->topLevelItem(rowOf("First"))->setSelected(true);
    EXPECT_EQ(TMain::imageOf(outRoot()->child(0)), 3);
    EXPECT_EQ(TMain::imageOf(outRoot()->child(1)), 4);
    w.fileList->clearSelection();
    EXPECT_EQ(TMain::imageOf(outRoot()->child(1)), 3);
    EXPECT_EQ(w.shownEntry(), nullptr);
    EXPECT_TRUE(w.fileContentEdit->document()->isEmpty());
}

TEST_F(ConfigWindow, DeletedFolderStillAmongTargetsKeepsRowImageFive) {
    ref_ptr<Net> net = writeNet({"First"}, {}, {"Folder"});
    entryNamed(net.get(), "First")->addTarget(net->getOutput(0).get());
    ASSERT_TRUE(net->save());
    TMain& w = open();
    w.outTree->setCurrentItem(outRoot()->child(0));
    answerBox(QMessageBox::Ok);
    w.OutDel->trigger();
    EXPECT_EQ(outRoot()->childCount(), 0);
    EXPECT_EQ(w.editedNet()->outputCount(), 0);
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(0)), 5);
    w.fillFileList();
    EXPECT_EQ(TMain::imageOf(w.fileList->topLevelItem(0)), 5);
    w.fileList->topLevelItem(0)->setSelected(true); // marks nothing, crashes nothing
    EXPECT_EQ(w.shownEntry()->getName(), "First");
}

TEST_F(ConfigWindow, CancelWithYesSavesAnswersTwoAndDoesNotReload) {
    ref_ptr<Net> settingsNet = makeNet();
    int result = 0;
    whenDialog<TMain>([](TMain* w) {
        answerInput("invoice");
        w->InAdd->trigger();
        answerBox(QMessageBox::Yes);
        w->CancelBtn->click();
    });
    // What the settings window runs for Configure.
    result = TMain::configure(nullptr, settingsNet.get(), connection.store.get());
    EXPECT_EQ(result, 2);
    EXPECT_NE(netFile().find("invoice"), std::string::npos) << "saved by Yes";
    EXPECT_EQ(settingsNet->inputCount(), 0) << "the caller's net is untouched";
}

TEST_F(ConfigWindow, CloseWarningCancelKeepsTheWindowOpenAndNoDropsTheChanges) {
    TMain& w = open();
    w.show();
    answerInput("invoice");
    w.InAdd->trigger();
    answerBox(QMessageBox::Cancel);
    w.reject();
    EXPECT_TRUE(w.isVisible());
    answerBox(QMessageBox::No);
    w.reject();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), 2);
    EXPECT_EQ(netFile().find("invoice"), std::string::npos);
}

TEST_F(ConfigWindow, OkSavesAndAnswersOne) {
    TMain& w = open();
    answerInput("invoice");
    w.InAdd->trigger();
    w.show();
    {
        // A command changing the net meanwhile: the save waits for the person's next try.
        FileLock command(home + "/zelko.ini.change-lock");
        ASSERT_TRUE(command.acquire(false));
        w.FileSave->trigger();
        EXPECT_TRUE(w.modified());
        EXPECT_EQ(netFile().find("invoice"), std::string::npos);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find("a brevalo-cli command is changing"), std::string::npos);
    }
    w.OkBtn->click();
    EXPECT_EQ(w.result(), 1);
    EXPECT_FALSE(w.modified());
    EXPECT_NE(netFile().find("invoice"), std::string::npos);
}

TEST_F(ConfigWindow, NotificationsOfTheLearningFolder) {
    writeNet({"First", "Second"}, {}, {})->save();
    TMain& w = open();
    ASSERT_NE(w.learnFolder(), nullptr);
    // A message-deleted notification for an id that is not in the learning set.
    MESSAGEID unknown = 987654;
    w.post(WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&unknown), 0);
    QApplication::processEvents();
    EXPECT_EQ(w.fileList->topLevelItemCount(), 2);
    EXPECT_EQ(w.editedNet()->fileCount(), 2);

    // A real delivery reaches the list through the store's notifications.
    deliver(learnDir(), message("Third", "Arrived later."), "1800000000.M1P1.late");
    ASSERT_TRUE(processUntil([&] {
        connection.store->DispatchNotifications();
        return w.fileList->topLevelItemCount() == 3;
    }));
    EXPECT_EQ(w.editedNet()->fileCount(), 3);
    EXPECT_FALSE(w.modified()) << "notifications do not modify";

    // A known id: the row and the entry go.
    ref_ptr<FileData> first = entryNamed(w.editedNet().get(), "First");
    MESSAGEID id = static_cast<MESSAGEID>(std::stoul(first->getId()));
    w.post(WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&id), 0);
    id = 0; // read at once, not when the event is handled
    QApplication::processEvents();
    EXPECT_EQ(w.fileList->topLevelItemCount(), 2);
    EXPECT_EQ(rowOf("First"), -1);
    EXPECT_EQ(entryNamed(w.editedNet().get(), "First"), nullptr);

    // The folder deleted: no folder, nothing registered, an empty learning set.
    w.post(WM_DELETEFOLDER, 0, 0);
    QApplication::processEvents();
    EXPECT_EQ(w.learnFolder(), nullptr);
}

TEST_F(ConfigWindow, DeletedNotificationFindsIdsAboveTheSignedRange) {
    ref_ptr<Net> net = makeNet();
    net->getLearnFolder();
    // The folder hands out ids from above 2^31 on.
    std::ofstream(learnDir() + "/brevalo-uidlist", std::ios::binary | std::ios::trunc)
        << "brevalo-uidlist 2 3000000000\n";
    deliver(learnDir(), message("Late", "Text of Late."), "1700000010.M1P1.sample");
    net->loadLearningSet();
    EXPECT_NE(net->getFileContent(net->getLearnFolder() + "/3000000000").find("Text of Late"),
              std::string::npos);
    ASSERT_TRUE(net->save());
    TMain& w = open();
    ASSERT_EQ(w.fileList->topLevelItemCount(), 1);
    ASSERT_EQ(w.editedNet()->getFile(0)->getId(), "3000000000");
    MESSAGEID id = 3000000000u;
    w.post(WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&id), 0);
    QApplication::processEvents();
    EXPECT_EQ(w.fileList->topLevelItemCount(), 0);
    EXPECT_EQ(w.editedNet()->fileCount(), 0);
}

TEST_F(ConfigWindow, NotificationsWaitWhileALearningRunIsOpen) {
    ref_ptr<Net> net = writeNet({"Invoice 1", "Invoice 2"}, {"invoice"}, {"Invoices"});
    for (int i = 0; i < net->fileCount(); ++i)
        net->getFile(i)->addTarget(net->getOutput(0).get());
    ASSERT_TRUE(net->save());
    TMain& w = open();
    ref_ptr<FileData> first = entryNamed(w.editedNet().get(), "Invoice 1");
    MESSAGEID id = static_cast<MESSAGEID>(std::stoul(first->getId()));
    int heldDuringRun = -1;
    int filesDuringRun = -1;
    whenDialog<TLearn>([&](TLearn* dialog) {
        w.post(WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&id), 0);
        QApplication::processEvents();
        heldDuringRun = w.heldNotifications();
        filesDuringRun = w.editedNet()->fileCount();
        dialog->closeBtnClick();
    });
    w.NetLearn->trigger();
    EXPECT_EQ(heldDuringRun, 1);
    EXPECT_EQ(filesDuringRun, 2);
    EXPECT_EQ(w.heldNotifications(), 0);
    EXPECT_EQ(w.editedNet()->fileCount(), 1);
    EXPECT_EQ(w.fileList->topLevelItemCount(), 1);
    EXPECT_FALSE(w.modified()) << "closed without a run";
}

struct CheckCase {
    const char* name;
    bool assigned;
    bool matched;
    std::vector<const char*> reportKeys; // empty: the check passes
};

class LearningSetCheckWindow : public ConfigWindow,
                               public testing::WithParamInterface<CheckCase> {};

TEST_P(LearningSetCheckWindow, ReportsOrOpensTheLearningDialog) {
    const CheckCase& c = GetParam();
    ref_ptr<Net> net =
        writeNet({"Invoice 1", "Invoice 2"}, {c.matched ? "invoice" : "planet"}, {"Invoices"});
    if (c.assigned)
        for (int i = 0; i < net->fileCount(); ++i)
            net->getFile(i)->addTarget(net->getOutput(0).get());
    ASSERT_TRUE(net->save());
    TMain& w = open();
    std::string caption;
    std::string report;
    bool learningOpened = false;
    whenDialog<TMemoForm>([&](TMemoForm* memo) {
        caption = memo->windowTitle().toStdString();
        report = memo->Memo1->toPlainText().toStdString();
        memo->OkBtn->click();
    });
    whenDialog<TLearn>([&](TLearn* dialog) {
        learningOpened = true;
        dialog->closeBtnClick();
    });
    std::vector<std::string> lines;
    setLogSink([&lines](const std::string& line) { lines.push_back(line); });
    w.NetLearn->trigger();
    setLogSink(nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor is gone";
    if (c.reportKeys.empty()) {
        EXPECT_TRUE(learningOpened);
        EXPECT_TRUE(report.empty());
        return;
    }
    EXPECT_FALSE(learningOpened);
    EXPECT_EQ(caption, "Error");
    std::string expected;
    for (const char* key : c.reportKeys)
        expected += locText(key) + "\n\tInvoice 1\n\tInvoice 2\n" +
                    (std::string(key) == "main.wrongIn" ? "\n" : "");
    while (!expected.empty() && expected.back() == '\n')
        expected.pop_back();
    std::string shown = report;
    while (!shown.empty() && shown.back() == '\n')
        shown.pop_back();
    EXPECT_EQ(shown, expected);
    int timeLines = 0;
    for (const std::string& line : lines)
        timeLines += line.rfind("checkFileAssignments", 0) == 0;
    EXPECT_EQ(timeLines, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LearningSetCheckWindow,
    testing::Values(CheckCase{"Passes", true, true, {}},
                    CheckCase{"OnlyUnassigned", false, true, {"main.wrongOut"}},
                    CheckCase{"NoStimulation", true, false, {"main.wrongIn"}},
                    CheckCase{"Both", false, false, {"main.wrongIn", "main.wrongOut"}}),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

// The check's report offers suggested words for messages no stimulation matches; the
// checked ones become stimulations of their own. A common word ("our") is offered unchecked.
TEST_F(ConfigWindow, TheCheckOffersSuggestionsAndAddTakesTheCheckedWords) {
    ref_ptr<Net> net = writeNet({"Our invoice 1", "Our invoice 2", "Trip 1", "Trip 2"}, {"planet"},
                                {"Invoices", "Travel"});
    for (int i = 0; i < net->fileCount(); ++i)
        net->getFile(i)->addTarget(net->getOutput(i < 2 ? 0 : 1).get());
    ASSERT_TRUE(net->save());
    TMain& w = open();
    whenDialog<TMemoForm>(
        [](TMemoForm* memo) { memo->findChild<QPushButton*>("OfferBtn")->click(); });
    std::vector<std::string> shown;
    whenDialog<TSuggestForm>([&shown](TSuggestForm* form) {
        for (int g = 0; g < form->suggestionTree->topLevelItemCount(); ++g) {
            QTreeWidgetItem* group = form->suggestionTree->topLevelItem(g);
            shown.push_back(group->text(0).toStdString());
            for (int r = 0; r < group->childCount(); ++r)
                shown.push_back(group->child(r)->text(0).toStdString() + " " +
                                group->child(r)->text(1).toStdString() + " " +
                                group->child(r)->text(2).toStdString());
        }
        form->suggestionTree->topLevelItem(1)->child(0)->setCheckState(0, Qt::Unchecked);
        form->AddBtn->click();
    });
    w.NetLearn->trigger();
    EXPECT_EQ(shown, (std::vector<std::string>{"Invoices", "invoice 2 / 2 0 / 2", "our 2 / 2 0 / 2",
                                               "Travel", "trip 2 / 2 0 / 2"}));
    ASSERT_EQ(inRoot()->childCount(), 2);
    EXPECT_EQ(inRoot()->child(1)->text(0), "invoice");
    EXPECT_EQ(w.editedNet()->getInput(1)->getRegex(0), "\\binvoice\\b");
    EXPECT_TRUE(w.modified());
}

// "Learn without these" learns at once, leaving out the messages no stimulation matches.
TEST_F(ConfigWindow, TheCheckOffersLearningWithoutTheUnmatchedMessages) {
    ref_ptr<Net> net = writeNet({"Invoice 1", "Meeting", "Invoice 2"}, {"invoice"}, {"Invoices"});
    for (int i = 0; i < net->fileCount(); ++i)
        net->getFile(i)->addTarget(net->getOutput(0).get());
    ASSERT_TRUE(net->save());
    TMain& w = open();
    whenDialog<TMemoForm>([](TMemoForm* memo) {
        auto* offer = memo->findChild<QPushButton*>("learnWithoutBtn");
        (offer ? offer : memo->OkBtn)->click();
    });
    QString said;
    whenDialog<TLearn>([&said](TLearn* dialog) {
        said = dialog->leftOutLabel->text();
        EXPECT_TRUE(processUntil([dialog] { return dialog->isLearned(); }));
        dialog->closeBtnClick();
    });
    w.NetLearn->trigger();
    EXPECT_EQ(said.toStdString(), locText("learn.leftOut", "1"));
    ASSERT_TRUE(w.editedNet()->isLearned());
    auto weights = [&w] {
        const BackPropagation& network = *w.editedNet()->getNetwork();
        return std::vector<double>(network.owRow(0), network.owRow(0) + 4);
    };
    std::vector<double> learned = weights();
    int leftOut = 0;
    w.editedNet()->learn(4, 500, nullptr, 0, 0.3, 1.0, nullptr, &leftOut);
    EXPECT_EQ(learned, weights()) << "the net learned leaving out the one message";
}

TEST_F(ConfigWindow, EmptyLearningSetPassesTheCheck) {
    TMain& w = open();
    EXPECT_EQ(w.fileList->topLevelItemCount(), 0);
    EXPECT_FALSE(w.NetLearn->isEnabled());
    EXPECT_TRUE(w.checkFileAssignments());
}

// --- Keys

struct KeyCase {
    const char* name;
    bool outTree;
    int level; // the selected node: 0 the root, 1 a stimulation or folder, 2 an expression
    int key;
    const char* titleKey; // the window the key opens; empty: none
};

class ConfigWindowKeys : public ConfigWindow, public testing::WithParamInterface<KeyCase> {};

TEST_P(ConfigWindowKeys, OpenTheCommandOfTheSelectedNode) {
    const KeyCase& c = GetParam();
    writeNet({}, {"invoice"}, {"Invoices"})->save();
    TMain& w = open();
    QTreeWidget* tree = c.outTree ? w.outTree : w.inTree;
    QTreeWidgetItem* node = tree->topLevelItem(0);
    for (int level = 0; level < c.level; ++level)
        node = node->child(0);
    tree->setCurrentItem(node);
    std::string title;
    if (*c.titleKey)
        whenDialog<QDialog>([&title](QDialog* dialog) {
            title = dialog->windowTitle().toStdString();
            dialog->reject();
        });
    QTest::keyClick(tree, static_cast<Qt::Key>(c.key));
    if (*c.titleKey) {
        EXPECT_EQ(title, locText(c.titleKey));
    } else {
        QApplication::processEvents();
        EXPECT_EQ(title, "");
        EXPECT_FALSE(node->isExpanded()) << "Enter on the root folds it";
    }
    // Cancelled, nothing changed: the key left the net alone.
    EXPECT_EQ(w.editedNet()->inputCount(), 1);
    EXPECT_EQ(w.editedNet()->getInput(0)->regexCount(), 1);
    EXPECT_EQ(w.editedNet()->outputCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ConfigWindowKeys,
    testing::Values(KeyCase{"InsertOnTheRootAddsAStimulation", false, 0, Qt::Key_Insert,
                            "main.act.inAdd.title"},
                    KeyCase{"InsertOnAStimulationAddsAnExpression", false, 1, Qt::Key_Insert,
                            "main.act.inAddStimulation.title"},
                    KeyCase{"InsertOnAnExpressionAddsAnotherToItsStimulation", false, 2,
                            Qt::Key_Insert, "main.act.inAddStimulation.title"},
                    KeyCase{"F2RenamesAStimulation", false, 1, Qt::Key_F2, "main.act.inEdit.title"},
                    KeyCase{"EnterChangesAnExpression", false, 2, Qt::Key_Return,
                            "main.act.inEditStimulation.title"},
                    KeyCase{"DeleteAsksFirst", false, 2, Qt::Key_Delete, "warn"},
                    KeyCase{"EnterOnTheRootOpensNothing", false, 0, Qt::Key_Return, ""},
                    KeyCase{"InsertAddsAFolder", true, 0, Qt::Key_Insert, "outeditor.title.add"},
                    KeyCase{"F2EditsAFolder", true, 1, Qt::Key_F2, "outeditor.title.edit"},
                    KeyCase{"EnterEditsAFolder", true, 1, Qt::Key_Enter, "outeditor.title.edit"},
                    KeyCase{"DeleteAsksFirstForAFolder", true, 1, Qt::Key_Delete, "warn"}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigWindow, TabReachesEveryToolbarButtonAndTree) {
    writeNet({"Invoice 1"}, {"invoice"}, {"Invoices"})->save();
    TMain& w = open();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.inTree->setCurrentItem(inRoot()->child(0));
    w.outTree->setCurrentItem(outRoot()->child(0));
    std::set<QWidget*> wanted{w.inTree, w.outTree, w.fileList, w.suggestBtn, w.learnBtn, w.OkBtn};
    for (QToolBar* toolbar : {w.inToolbar, w.fileToolbar, w.outToolbar})
        for (QAction* action : toolbar->actions())
            if (action->isEnabled())
                wanted.insert(toolbar->widgetForAction(action));
    std::set<QWidget*> reached;
    w.inToolbar->widgetForAction(w.InAdd)->setFocus(Qt::TabFocusReason);
    for (int press = 0; press < 40; ++press) {
        reached.insert(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    for (QWidget* widget : wanted)
        EXPECT_TRUE(reached.count(widget))
            << widget->metaObject()->className() << " " << widget->toolTip().toStdString();
}

TEST_F(ConfigWindow, ColumnsShowTheirWholeTextAndTheSubjectTakesTheRest) {
    ref_ptr<Net> net = writeNet({"Invoice 1"}, {"invoice"}, {"Invoices"});
    ASSERT_TRUE(net->save());
    TMain& w = open();
    w.show();
    QApplication::processEvents();
    QHeaderView* header = w.fileList->header();
    // The tree keeps the view's measure to itself; the view's own is the same call.
    const QAbstractItemView* view = w.fileList;
    for (int column : {1, 2})
        EXPECT_GE(header->sectionSize(column),
                  std::max(view->sizeHintForColumn(column), header->sectionSizeHint(column)))
            << "column " << column;
    int total = 0;
    for (int column = 0; column < 3; ++column)
        total += header->sectionSize(column);
    EXPECT_EQ(total, w.fileList->viewport()->width());
}

} // namespace
