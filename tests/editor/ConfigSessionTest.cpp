// A new user's first session, from an empty Maildir to a sorted message: the settings
// window's Configure button, the configuration window with every dialog it opens, a real
// learning run, and then the running program's sorting of a message delivered to the inbox.

#include "DialogDriver.h"
#include "../shell/ShellFixture.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "mail/StoreAccess.h"
#include "editor/TInputForm.h"
#include "editor/TMain.h"
#include "editor/TOutEditor.h"
#include "editor/TSelectFolderForm.h"
#include "learning/TLearn.h"
#include "learning/TTest.h"
#include "shell/TSettingForm.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

int filesIn(const std::string& folderDir) {
    int count = 0;
    for (const char* sub : {"/new", "/cur"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folderDir + sub, error))
            count += entry.is_regular_file();
    }
    return count;
}

void answerInput(const std::string& text) {
    whenDialog<TInputForm>([text](TInputForm* prompt) {
        prompt->InputEdit->setText(QString::fromStdString(text));
        prompt->OkBtn->click();
    });
}

struct Category {
    const char* stimulation;
    const char* expression;
    const char* folder;
    const char* reply;
    const char* subjects[2];
    const char* bodies[2];
};

const Category categories[] = {
    {"Invoices",
     "invoice",
     "Invoices",
     "Thank you for your invoice.",
     {"Invoice 1", "Invoice 2"},
     {"The invoice for March is attached.", "Your invoice is ready, please pay it."}},
    {"Meetings",
     "meeting|agenda",
     "Meetings",
     "I will come.",
     {"Meeting on Monday", "Agenda"},
     {"The meeting starts at ten.", "The agenda for Tuesday."}},
    {"Newsletters",
     "newsletter|unsubscribe",
     "Newsletters",
     "",
     {"Weekly news", "Monthly news"},
     {"This is our newsletter.", "Click here to unsubscribe from these mails."}},
};

TEST(ConfigSession, NewUserBuildsLearnsTestsAndTheProgramSorts) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::string home = dir.path().toStdString();
    std::string maildir = home + "/Maildir";
    shellFixture::copyStrings(home);
    std::vector<std::string> errors;
    ErrorReporter previous =
        setErrorReporter([&errors](const std::string& caption, const std::string& text) {
            errors.push_back(caption + ": " + text);
        });
    setLogToStderr(false);

    ProgramEnvironment environment;
    environment.programFolder = std::string(BREVALO_BIN_DIR) + "/";
    environment.home = home + "/";
    environment.storeRoot = maildir;
    ASSERT_EQ(createStoreRoot(maildir), S_OK);
    TSettingForm::setConfigurationWindow(&TMain::configure);
    auto form = std::make_unique<TSettingForm>(environment);
    ASSERT_TRUE(form->started());
    ASSERT_TRUE(form->notificationsRegistered());
    EXPECT_FALSE(form->net()->isLearned());
    EXPECT_TRUE(form->configButton->isEnabled());

    // The user keeps some sample messages in a folder of their own.
    STOREFOLDERID samples = findOrCreateFolder(form->store(), FOLDERID_ROOT, "Samples", true);
    int n = 0;
    for (const Category& c : categories)
        for (int i = 0; i < 2; ++i)
            shellFixture::deliver(maildir + "/.Samples",
                                  shellFixture::message(c.subjects[i], c.bodies[i]),
                                  "17100000" + std::to_string(10 + n++) + ".M1P1.sample");

    std::string answer;
    std::string content;
    int rowsAfterChoice = -1;
    bool learnedInWindow = false;
    whenDialog<TMain>([&](TMain* w) {
        QTreeWidgetItem* outRoot = w->outTree->topLevelItem(0);
        for (const Category& c : categories) {
            answerInput(c.stimulation);
            w->InAdd->trigger();
            answerInput(c.expression);
            w->InAddStimulation->trigger();
            whenDialog<TOutEditor>([&c](TOutEditor* editor) {
                editor->nameEdit->setText(c.folder);
                editor->answerMemo->setPlainText(c.reply);
                editor->okBtn->click();
            });
            w->OutAdd->trigger();
        }
        whenDialog<TSelectFolderForm>([samples](TSelectFolderForm* chooser) {
            chooser->setSelectedFolder(samples);
            chooser->OkBtn->click();
        });
        w->FileSelectFolder->trigger();
        rowsAfterChoice = w->fileList->topLevelItemCount();

        // Assign: the rows of each category, then its folder's Assign email.
        for (int k = 0; k < 3; ++k) {
            w->fileList->clearSelection();
            for (int row = 0; row < w->fileList->topLevelItemCount(); ++row) {
                QString subject = w->fileList->topLevelItem(row)->text(0);
                for (const char* s : categories[k].subjects)
                    if (subject == s)
                        w->fileList->topLevelItem(row)->setSelected(true);
            }
            w->outTree->setCurrentItem(outRoot->child(k));
            w->OutCatSel->trigger();
        }

        whenDialog<TLearn>([](TLearn* learn) {
            learn->Button1Click();
            processUntil([learn] { return !learn->isRunning(); }, 120000);
            learn->closeBtnClick();
        });
        w->NetLearn->trigger();
        learnedInWindow = w->NetTest->isEnabled();

        // Try the net on the first invoice.
        w->fileList->clearSelection();
        for (int row = 0; row < w->fileList->topLevelItemCount(); ++row)
            if (w->fileList->topLevelItem(row)->text(0) == "Invoice 1")
                w->fileList->topLevelItem(row)->setSelected(true);
        whenDialog<TTest>([&](TTest* test) {
            test->propagateBtnClick();
            content = test->contentText();
            answer = test->answerText();
            test->closeBtnClick();
        });
        w->NetTest->trigger();

        w->FileSave->trigger();
        w->OkBtn->click();
    });
    form->configButton->click();

    EXPECT_EQ(rowsAfterChoice, 6);
    EXPECT_TRUE(learnedInWindow);
    EXPECT_NE(content.find("The invoice for March is attached."), std::string::npos) << content;
    EXPECT_NE(answer.find("Thank you for your invoice."), std::string::npos) << answer;
    EXPECT_EQ(answer.find("I will come."), std::string::npos) << answer;

    // OK reloaded the settings window's net from the file.
    Net* net = form->net();
    EXPECT_TRUE(net->isLearned());
    ASSERT_EQ(net->inputCount(), 3);
    EXPECT_EQ(net->getInput(1)->getRegex(0), "meeting|agenda");
    ASSERT_EQ(net->outputCount(), 3);
    EXPECT_EQ(net->getOutput(0)->getAnswer(), "Thank you for your invoice.");
    EXPECT_EQ(net->getLearnFolder(), std::to_string(samples));
    EXPECT_EQ(net->fileCount(), 6);
    for (int i = 0; i < net->fileCount(); ++i)
        EXPECT_EQ(net->getFile(i)->targetCount(), 1) << net->getFile(i)->getName();

    // A message arrives in the inbox: the running program sorts it.
    shellFixture::deliver(maildir, shellFixture::invoiceMessage(42), "1800000000.M1P1.arrived");
    std::string target = maildir + "/.Brevalo.Sorted.Invoices";
    EXPECT_TRUE(processUntil([&] { return filesIn(target) == 1 && filesIn(maildir) == 0; }));
    EXPECT_EQ(filesIn(maildir + "/.Brevalo.Sorted.Meetings"), 0);
    EXPECT_EQ(filesIn(maildir + "/.Samples"), 6) << "the learning messages stay";
    EXPECT_TRUE(errors.empty()) << errors.front();

    form.reset();
    TSettingForm::setConfigurationWindow(nullptr);
    setErrorReporter(previous);
    setLogToStderr(true);
    locClose();
}

} // namespace
