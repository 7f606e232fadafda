// The "Recently sorted…" window over the journal the tray program writes, and the tray's
// count of what it sorted, end to end: real messages arrive in a real store.

#include "../editor/DialogDriver.h"
#include "ShellFixture.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "shell/TRecentForm.h"
#include "shell/TSettingForm.h"
#include "shell/TSystray.h"
#include "sorting/Journal.h"
#include "tests/support/TempFolder.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

int filesIn(const std::string& folder) {
    int count = 0;
    for (const char* sub : {"/new", "/cur"})
        if (fs::is_directory(folder + sub))
            for ([[maybe_unused]] const auto& file : fs::directory_iterator(folder + sub))
                ++count;
    return count;
}

class RecentlySorted : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        home = dir.path().toStdString();
        maildir = home + "/Maildir";
        shellFixture::copyStrings(home);
        shellFixture::writeLearnedNet(home, maildir);
        environment.programFolder = std::string(BREVALO_BIN_DIR) + "/";
        environment.home = home + "/";
        environment.stateFolder = home + "/state/";
        environment.storeRoot = maildir;
        environment.autostartFile = home + "/autostart/brevalo.desktop";
        previous = setErrorReporter([this](const std::string& caption, const std::string& text) {
            errors.push_back(caption + ": " + text);
        });
        setLogToStderr(false);
    }
    void TearDown() override {
        form.reset();
        TSettingForm::setConfigurationWindow(nullptr);
        setErrorReporter(previous);
        setLogToStderr(true);
        locClose();
    }
    std::string invoices() const { return maildir + "/.Brevalo.Sorted.Invoices"; }
    std::string meetings() const { return maildir + "/.Brevalo.Sorted.Meetings"; }
    // Three messages arrive while the window is hidden and are sorted.
    TSettingForm& sortThree() {
        form = std::make_unique<TSettingForm>(environment);
        EXPECT_TRUE(form->started());
        form->showMainWindow(false);
        form->sortedMessageTimer->setInterval(0);
        shellFixture::deliver(maildir, shellFixture::invoiceMessage(1), "1700000101.M1P1.test");
        shellFixture::deliver(maildir, shellFixture::invoiceMessage(2), "1700000102.M1P1.test");
        shellFixture::deliver(maildir,
                              shellFixture::message("Meeting on Friday", "The meeting is at two."),
                              "1700000103.M1P1.test");
        EXPECT_TRUE(processUntil([&] {
            return filesIn(invoices()) == 2 && filesIn(meetings()) == 1 && filesIn(maildir) == 0;
        }));
        return *form;
    }
    // Another program (the learning command, say) saves the net while the tray program
    // runs: the two target folders trade names, so an invoice goes to the other one, and
    // the reply address changes.
    void saveAsAnotherProgram(const std::string& from) {
        StoreConnection other = connectStore(maildir);
        ref_ptr<Net> net(new Net(home + "/zelko.ini", StoreMessages::of(other.store.get())));
        net->load();
        std::string first = net->getOutput(0)->getName();
        net->getOutput(0)->setName(net->getOutput(1)->getName());
        net->getOutput(1)->setName(first);
        ASSERT_TRUE(net->save());
        ASSERT_TRUE(net->setFrom(from));
    }
    TRecentForm* openRecent(TSettingForm& f) {
        f.Recent1->trigger();
        TRecentForm* window = f.recentWindow();
        EXPECT_TRUE(window && window->isVisible());
        return window;
    }
    void select(TRecentForm* window, const std::string& subject) {
        window->table->clearSelection();
        for (int row = 0; row < window->rowCount(); ++row)
            if (window->entryOfRow(row).subject == subject)
                window->table->selectionModel()->select(window->table->model()->index(row, 0),
                                                        QItemSelectionModel::Select |
                                                            QItemSelectionModel::Rows);
    }

    QTemporaryDir dir;
    std::string home;
    std::string maildir;
    ProgramEnvironment environment;
    ErrorReporter previous;
    std::vector<std::string> errors;
    std::unique_ptr<TSettingForm> form;
};

TEST_F(RecentlySorted, ShowsTheDecisionsNewestFirstFiltersAndMovesBack) {
    TSettingForm& f = sortThree();
    // The tray counted what the sorter journalled.
    EXPECT_TRUE(
        f.systray()->shownTooltip().startsWith("3 messages sorted since you last opened Brevalo\n"))
        << f.systray()->shownTooltip().toStdString();
    TRecentForm* window = openRecent(f);
    ASSERT_TRUE(window);
    ASSERT_EQ(window->rowCount(), 3);
    QApplication::processEvents();
    const QAbstractItemView* view = window->table;
    for (int column : {0, 2, 3, 4})
        EXPECT_GE(window->table->horizontalHeader()->sectionSize(column),
                  view->sizeHintForColumn(column))
            << "column " << column << " shows its whole text";
    EXPECT_EQ(window->entryOfRow(0).subject, "Meeting on Friday");
    EXPECT_EQ(window->entryOfRow(2).subject, "Invoice 1");
    EXPECT_EQ(window->table->model()->index(2, 3).data().toString(), "moved");
    EXPECT_TRUE(window->table->model()->index(2, 4).data().toString().startsWith("Invoices "));

    struct FilterCase {
        const char* text;
        int rows;
    };
    for (FilterCase c : {FilterCase{"invoice", 2}, FilterCase{"MEETINGS", 1},
                         FilterCase{"sender@example", 3}, FilterCase{"travel", 0}}) {
        window->filterEdit->setText(c.text);
        EXPECT_EQ(window->rowCount(), c.rows) << c.text;
    }
    window->filterEdit->clear();
    // Sorted by subject: the other way round.
    window->table->sortByColumn(1, Qt::AscendingOrder);
    EXPECT_EQ(window->entryOfRow(0).subject, "Invoice 1");

    EXPECT_FALSE(window->moveBackBtn->isEnabled()) << "nothing selected";
    select(window, "Invoice 1");
    ASSERT_TRUE(window->moveBackBtn->isEnabled());
    std::vector<std::string> lines;
    setLogSink([&lines](const std::string& line) { lines.push_back(line); });
    QHeaderView* header = window->table->horizontalHeader();
    header->resizeSection(2, header->sectionSize(2) + 40); // as a person drags it
    std::vector<int> widths;
    for (int column = 0; column < 5; ++column)
        widths.push_back(header->sectionSize(column));
    window->moveBackBtn->click();
    QApplication::processEvents();
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(header->sectionSize(column), widths[column]) << "column " << column;
    EXPECT_EQ(filesIn(maildir), 1) << "back in the inbox, once";
    EXPECT_EQ(filesIn(invoices()), 1) << "its copy is gone";
    ASSERT_EQ(window->rowCount(), 4) << "the undo is a journal line of its own";
    // Taken back, the decision cannot be taken back again.
    select(window, "Invoice 1");
    EXPECT_FALSE(window->moveBackBtn->isEnabled());
    // The tray program hears of its arrival and leaves it where undo put it.
    EXPECT_TRUE(processUntil([&] {
        for (const std::string& line : lines)
            if (line.find("message arrived: msg 2674") != std::string::npos)
                return true;
        return false;
    }));
    setLogSink(nullptr);
    QApplication::processEvents();
    EXPECT_EQ(filesIn(maildir), 1);
    EXPECT_EQ(filesIn(invoices()), 1);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

// Mail fetched in a burst is sorted as one batch: one journal append and one update of the
// tray's count; a message that fails stays in the inbox while the rest of its batch is
// sorted; a lone arrival is still sorted at once.
TEST_F(RecentlySorted, ArrivalsThatQueueUpTogetherAreSortedAsOneBatch) {
    std::ofstream(meetings()) << "a file where the folder would be"; // every meeting fails
    form = std::make_unique<TSettingForm>(environment);
    ASSERT_TRUE(form->started());
    form->showMainWindow(false);
    Journal* journal = form->sortJournal();
    ASSERT_TRUE(journal);
    std::vector<std::size_t> appends; // entries per append
    auto forward = journal->appended;
    journal->appended = [&](const std::vector<Journal::Entry>& entries) {
        appends.push_back(entries.size());
        forward(entries);
    };
    // Delivered before the loop runs: the store announces them together.
    for (int n = 0; n < 40; ++n)
        shellFixture::deliver(maildir,
                              n % 10 == 9 ? shellFixture::message("Meeting " + std::to_string(n),
                                                                  "The meeting is at two.")
                                          : shellFixture::invoiceMessage(n),
                              "17000002" + std::to_string(10 + n) + ".M1P1.test");
    EXPECT_TRUE(processUntil([&] { return !appends.empty(); }));
    EXPECT_EQ(appends, std::vector<std::size_t>{40});
    EXPECT_EQ(filesIn(invoices()), 36);
    EXPECT_EQ(filesIn(maildir), 4) << "the meetings stay in the inbox";
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0].rfind("Error: Sorting a new message failed: ", 0), 0u) << errors[0];
    EXPECT_TRUE(form->systray()->shownTooltip().startsWith("36 messages sorted since"))
        << form->systray()->shownTooltip().toStdString();

    shellFixture::deliver(maildir, shellFixture::invoiceMessage(99), "1700000300.M1P1.test");
    EXPECT_TRUE(processUntil([&] { return filesIn(invoices()) == 37; }));
    EXPECT_EQ(appends, (std::vector<std::size_t>{40, 1}));
}

TEST_F(RecentlySorted, ArrivalsGoByTheNetAsItIsSavedNow) {
    int arrived = 0;
    auto invoiceArrives = [&] {
        ++arrived;
        shellFixture::deliver(maildir, shellFixture::invoiceMessage(arrived),
                              "17000004" + std::to_string(10 + arrived) + ".M1P1.test");
        EXPECT_TRUE(processUntil([&] {
            return filesIn(maildir) == 0 && filesIn(invoices()) + filesIn(meetings()) == arrived;
        }));
    };
    // While the configuration window is open, the net in memory stays.
    TSettingForm::setConfigurationWindow([&](QWidget*, Net*, IStoreNamespace*) {
        saveAsAnotherProgram("first@example.org");
        invoiceArrives();
        EXPECT_EQ(filesIn(invoices()), 1);
        return 2; // Cancel: nothing is loaded at the close
    });
    form = std::make_unique<TSettingForm>(environment);
    ASSERT_TRUE(form->started());
    form->configButton->click();
    EXPECT_EQ(arrived, 1);

    invoiceArrives();
    EXPECT_EQ(filesIn(meetings()), 1) << "sorted by the net as it was saved";
    EXPECT_EQ(form->fromEdit->text().toStdString(), "first@example.org");

    // Settings the person is editing and has not applied stay in the window.
    form->fromEdit->setText("mine@example.org");
    saveAsAnotherProgram("second@example.org");
    invoiceArrives();
    EXPECT_EQ(filesIn(invoices()), 2) << "the folders traded their names back";
    EXPECT_EQ(form->fromEdit->text().toStdString(), "mine@example.org");
    EXPECT_TRUE(form->applyBtn->isEnabled());
    EXPECT_TRUE(errors.empty()) << errors.front();
}

} // namespace
