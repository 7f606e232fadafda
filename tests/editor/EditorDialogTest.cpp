#include "QtTestSupport.h"

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "mail/StoreAccess.h"
#include "core/NeuronOut.h"
#include "editor/ConfigImages.h"
#include "editor/FolderTreeItem.h"
#include "editor/TInputForm.h"
#include "editor/TMemoForm.h"
#include "editor/TOutEditor.h"
#include "editor/TSelectFolderForm.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fstream>
#include <gtest/gtest.h>

namespace {

// --- TInputForm

struct InputCase {
    const char* name;
    const char* typed;
    bool ok;
    const char* expected;
};

class InputQuery : public testing::TestWithParam<InputCase> {};

TEST_P(InputQuery, AnswersTheTypedTextOnlyAfterOk) {
    const InputCase& c = GetParam();
    whenModal([c](QDialog* dialog) {
        auto* form = static_cast<TInputForm*>(dialog);
        EXPECT_EQ(form->InputEdit->selectedText(), "initial");
        form->InputEdit->setText(c.typed);
        (c.ok ? form->OkBtn : form->CancelBtn)->click();
    });
    EXPECT_EQ(inputQuery("Title", "Label:", "initial"), c.expected);
    EXPECT_EQ(TInputForm::shared()->windowTitle(), "Title");
    EXPECT_EQ(TInputForm::shared()->InputLabel->text(), "Label:");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InputQuery,
    testing::Values(InputCase{"empty_ok_is_cancel", "", true, ""},
                    InputCase{"blanks_kept", "  two words ", true, "  two words "},
                    InputCase{"cancel_gives_empty", "typed", false, ""}),
    [](const testing::TestParamInfo<InputCase>& info) { return std::string(info.param.name); });

TEST(InputForm, EscapeAndCloseBoxAnswerTwo) {
    TInputForm form;
    whenModal([](QDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(form.exec(), 2);
    whenModal([](QDialog* dialog) { dialog->close(); });
    EXPECT_EQ(form.exec(), 2);
}

// --- TOutEditor

ref_ptr<NeuronOut> folderWith(const std::string& answer, std::vector<std::string> emails) {
    ref_ptr<NeuronOut> folder(new NeuronOut("Invoices"));
    folder->setAnswer(answer);
    folder->setEmails(emails);
    return folder;
}

TEST(OutEditor, ShowsTheFolder) {
    ref_ptr<NeuronOut> folder = folderWith("Thanks,\r\nwe pay soon", {"a@x.org", "b@x.org"});
    TOutEditor editor(nullptr);
    editor.setNeuron(folder.get());
    EXPECT_EQ(editor.nameEdit->text(), "Invoices");
    EXPECT_EQ(editor.answerMemo->toPlainText(), "Thanks,\nwe pay soon");
    EXPECT_EQ(editor.emailsMemo->toPlainText(), "a@x.org\nb@x.org");
}

TEST(OutEditor, TabLeavesTheResponseAndCtrlTabTypesATab) {
    TOutEditor editor(nullptr);
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    editor.answerMemo->setFocus();
    QTest::keyClicks(editor.answerMemo, "a");
    QTest::keyClick(editor.answerMemo, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClicks(editor.answerMemo, "b");
    EXPECT_EQ(editor.answerMemo->toPlainText(), "a\tb");
    EXPECT_TRUE(editor.answerMemo->hasFocus());
    QTest::keyClick(editor.answerMemo, Qt::Key_Tab);
    EXPECT_EQ(editor.answerMemo->toPlainText(), "a\tb");
    EXPECT_TRUE(editor.emailsMemo->hasFocus());
    QTest::keyClick(editor.emailsMemo, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(editor.answerMemo->hasFocus());
}

// --- The toolbar pictures

TEST(ConfigImages, TheThemesPictureWhereItHasOneElseTheDrawnOne) {
    QTemporaryDir themes;
    QDir(themes.path()).mkpath("probe/24x24/actions");
    std::ofstream(themes.filePath("probe/index.theme").toStdString())
        << "[Icon Theme]\nName=probe\nDirectories=24x24/actions\n\n"
           "[24x24/actions]\nSize=24\nType=Fixed\n";
    QImage red(24, 24, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(themes.filePath("probe/24x24/actions/list-add.png")));
    QStringList searchPaths = QIcon::themeSearchPaths();
    QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName("probe");

    auto pixels = [](const QIcon& icon) {
        return icon.pixmap(24).toImage().convertToFormat(QImage::Format_ARGB32);
    };
    EXPECT_EQ(pixels(ConfigImages::action(2)), red) << "list-add from the theme";
    EXPECT_EQ(pixels(ConfigImages::action(4)), pixels(ConfigImages::drawnAction(4)))
        << "edit-delete is not in the theme";
    for (int index = 0; index < 16; ++index)
        EXPECT_FALSE(ConfigImages::action(index).isNull()) << index;
    EXPECT_TRUE(ConfigImages::action(16).isNull());

    QIcon::setThemeName(themeName);
    QIcon::setThemeSearchPaths(searchPaths);
}

TEST(OutEditor, BlankAndEmptyAddressLinesAreDropped) {
    ref_ptr<NeuronOut> folder = folderWith("", {"old@x.org"});
    TOutEditor editor(nullptr);
    editor.setNeuron(folder.get());
    editor.emailsMemo->setPlainText("  someone@example.org\t \n\n   \t");
    editor.okBtn->click();
    EXPECT_EQ(editor.result(), 1);
    EXPECT_EQ(folder->getEmails(), std::vector<std::string>{"someone@example.org"});
}

TEST(OutEditor, MultiLineReplyIsKeptWithCrLf) {
    ref_ptr<NeuronOut> folder = folderWith("", {});
    TOutEditor editor(nullptr);
    editor.setNeuron(folder.get());
    editor.nameEdit->setText(" New name ");
    editor.answerMemo->setPlainText("Dear sender,\nthank you.\n\nBye");
    editor.okBtnClick();
    EXPECT_EQ(folder->getName(), " New name ");
    EXPECT_EQ(folder->getAnswer(), "Dear sender,\r\nthank you.\r\n\r\nBye");
}

TEST(OutEditor, CancelWritesNothing) {
    ref_ptr<NeuronOut> folder = folderWith("answer", {"a@x.org"});
    TOutEditor editor(nullptr);
    editor.setNeuron(folder.get());
    editor.nameEdit->setText("changed");
    editor.emailsMemo->clear();
    editor.cancelBtn->click();
    EXPECT_EQ(editor.result(), 2);
    EXPECT_EQ(folder->getName(), "Invoices");
    EXPECT_EQ(folder->getEmails(), std::vector<std::string>{"a@x.org"});
}

TEST(OutEditor, DetachingEmptiesNameAndReplyButKeepsAddresses) {
    ref_ptr<NeuronOut> folder = folderWith("answer", {"a@x.org"});
    TOutEditor editor(nullptr);
    editor.setNeuron(folder.get());
    editor.setNeuron(nullptr);
    EXPECT_FALSE(editor.neuron());
    EXPECT_TRUE(editor.nameEdit->text().isEmpty());
    EXPECT_TRUE(editor.answerMemo->toPlainText().isEmpty());
    EXPECT_EQ(editor.emailsMemo->toPlainText(), "a@x.org");
    // OK without a folder has nothing to write into.
    editor.okBtnClick();
}

// --- TSelectFolderForm over a real store

class FolderChooser : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(createStoreRoot(dir.path().toStdString() + "/Maildir"), S_OK);
        connection = connectStore(dir.path().toStdString() + "/Maildir");
        work = findOrCreateFolder(store(), FOLDERID_ROOT, "Work", true);
        reports = findOrCreateFolder(store(), work, "Reports", true);
        archive = findOrCreateFolder(store(), FOLDERID_ROOT, "Archive", true);
        sent = findOrCreateFolder(store(), FOLDERID_ROOT, "Sent", true);
        inboxId = folderIdOf(connection.inbox.get());
        form.fillFolders(store());
    }
    IStoreNamespace* store() { return connection.store.get(); }
    QTreeWidgetItem* itemOf(STOREFOLDERID id) {
        for (QTreeWidgetItemIterator it(form.folderTree); *it; ++it)
            if (FolderTreeItem::idOf(*it) == id && (*it)->parent())
                return *it;
        return nullptr;
    }
    void select(STOREFOLDERID id) { form.folderTree->setCurrentItem(itemOf(id)); }

    QTemporaryDir dir;
    StoreConnection connection;
    STOREFOLDERID work = 0, reports = 0, archive = 0, sent = 0, inboxId = 0;
    TSelectFolderForm form{nullptr};
};

TEST_F(FolderChooser, TreeHasOneRootAndTheFoldersSortedByName) {
    ASSERT_EQ(form.folderTree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = form.folderTree->topLevelItem(0);
    EXPECT_TRUE(root->isExpanded());
    QStringList names;
    for (int i = 0; i < root->childCount(); ++i)
        names << root->child(i)->text(0).section(' ', 0, 0);
    QStringList sorted = names;
    sorted.sort();
    EXPECT_EQ(names, sorted);
    ASSERT_NE(itemOf(reports), nullptr);
    EXPECT_EQ(itemOf(reports)->parent(), itemOf(work));
}

TEST_F(FolderChooser, RootAndSpecialFoldersDisableOk) {
    select(work);
    EXPECT_TRUE(form.OkBtn->isEnabled());
    EXPECT_EQ(form.selectedFolder(), work);

    form.folderTree->setCurrentItem(form.folderTree->topLevelItem(0));
    EXPECT_FALSE(form.OkBtn->isEnabled());
    EXPECT_EQ(form.selectedFolder(), FOLDERID_INVALID);

    select(sent);
    EXPECT_FALSE(form.OkBtn->isEnabled());
    EXPECT_EQ(form.selectedFolder(), FOLDERID_INVALID);
    select(inboxId);
    EXPECT_FALSE(form.OkBtn->isEnabled());

    select(reports);
    EXPECT_TRUE(form.OkBtn->isEnabled());
}

TEST_F(FolderChooser, SpecialFoldersCountWhenAllowed) {
    form.setAllowSpecialFolders(true);
    select(sent);
    EXPECT_EQ(form.selectedFolder(), sent);
}

TEST_F(FolderChooser, PreselectionOfAVanishedFolderSelectsNothing) {
    form.setSelectedFolder(archive);
    EXPECT_EQ(form.selectedFolder(), archive);
    TSelectFolderForm fresh(nullptr);
    fresh.fillFolders(store());
    fresh.setSelectedFolder(987654);
    EXPECT_EQ(fresh.folderTree->currentItem(), nullptr);
    EXPECT_EQ(fresh.selectedFolder(), FOLDERID_INVALID);
}

TEST_F(FolderChooser, ChooseFolderAnswersTheSelectionOnlyAfterOk) {
    whenModal([this](QDialog* dialog) {
        auto* chooser = static_cast<TSelectFolderForm*>(dialog);
        EXPECT_EQ(chooser->windowTitle(), "Pick one");
        EXPECT_EQ(chooser->selectedFolder(), work);
        chooser->folderTree->setCurrentItem(nullptr);
        for (QTreeWidgetItemIterator it(chooser->folderTree); *it; ++it)
            if (FolderTreeItem::idOf(*it) == reports && (*it)->parent())
                chooser->folderTree->setCurrentItem(*it);
        chooser->OkBtn->click();
    });
    EXPECT_EQ(chooseFolder(nullptr, "Pick one", store(), work), reports);

    whenModal([](QDialog* dialog) { static_cast<TSelectFolderForm*>(dialog)->CancelBtn->click(); });
    EXPECT_EQ(chooseFolder(nullptr, "Pick one", store(), work), FOLDERID_INVALID);

    // OK without a usable selection (the root) is the same as Cancel.
    whenModal([](QDialog* dialog) {
        auto* chooser = static_cast<TSelectFolderForm*>(dialog);
        chooser->folderTree->setCurrentItem(chooser->folderTree->topLevelItem(0));
        EXPECT_FALSE(chooser->OkBtn->isEnabled());
        chooser->done(1);
    });
    EXPECT_EQ(chooseFolder(nullptr, "Pick one", store(), 424242), FOLDERID_INVALID);
}

// --- TMemoForm

TEST(MemoForm, BreaksLinesAtCrLfAndCrLf) {
    EXPECT_EQ(textWithLineFeeds("a\r\nb\rc\nd\te"), "a\nb\nc\nd\te");
}

TEST(MemoForm, OkAnswersOneAndEscapeDoesNotClose) {
    whenModal([](QDialog* dialog) {
        auto* form = static_cast<TMemoForm*>(dialog);
        EXPECT_EQ(form->windowTitle(), "Caption");
        EXPECT_EQ(form->Memo1->toPlainText(), "one\ntwo");
        EXPECT_TRUE(form->Memo1->isReadOnly());
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(form, &escape);
        EXPECT_TRUE(form->isVisible());
        form->OkBtn->click();
    });
    showText(nullptr, "one\r\ntwo", "Caption");
}

} // namespace
