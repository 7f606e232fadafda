#include "../editor/DialogDriver.h"
#include "../editor/QtTestSupport.h"
#include "ShellFixture.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "platform/profile/ProfileSystem.h"
#include "mail/StoreAccess.h"
#include "editor/FolderTreeItem.h"
#include "editor/TSelectFolderForm.h"
#include "shell/TSettingForm.h"
#include "shell/TSystray.h"
#include "tests/support/TempFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <gtest/gtest.h>

namespace {

class SettingWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        home = dir.path().toStdString();
        shellFixture::copyStrings(home);
        environment.programFolder = std::string(BREVALO_BIN_DIR) + "/";
        environment.home = home + "/";
        environment.storeRoot = home + "/Maildir";
        environment.autostartFile = home + "/config/autostart/brevalo.desktop";
        ASSERT_EQ(createStoreRoot(environment.storeRoot), S_OK);
        previous = setErrorReporter([this](const std::string& caption, const std::string& text) {
            errors.push_back(caption + ": " + text);
        });
        setLogToStderr(false);
    }
    void TearDown() override {
        form.reset();
        setErrorReporter(previous);
        setLogToStderr(true);
        locClose();
    }
    TSettingForm& open() {
        form = std::make_unique<TSettingForm>(environment);
        return *form;
    }
    void writeNet(const std::string& settings) {
        std::ofstream(home + "/zelko.ini", std::ios::binary) << "[settings]\r\n" << settings;
    }
    std::string netFile() const { return readFile(home + "/zelko.ini"); }
    bool fileHas(const std::string& line) const {
        return netFile().find(line) != std::string::npos;
    }

    QTemporaryDir dir;
    std::string home;
    ProgramEnvironment environment;
    ErrorReporter previous;
    std::vector<std::string> errors;
    std::unique_ptr<TSettingForm> form;
};

TEST_F(SettingWindow, EmptySettingsShowTheDefaults) {
    writeNet("");
    TSettingForm& f = open();
    ASSERT_TRUE(f.started());
    EXPECT_TRUE(f.jobvariant1Radio->isChecked());
    EXPECT_TRUE(f.storemail1Radio->isChecked());
    EXPECT_FALSE(f.storemail1Radio->isEnabled());
    EXPECT_TRUE(f.enabledCheck->isChecked());
    EXPECT_TRUE(f.enabledAlwaysRadio->isChecked());
    EXPECT_FALSE(f.fromDatePicker->isEnabled());
    EXPECT_EQ(f.fromDatePicker->date(), QDate::currentDate());
    EXPECT_EQ(f.toDatePicker->date(), QDate::currentDate());
    EXPECT_TRUE(f.fromEdit->text().isEmpty());
    EXPECT_FALSE(f.applyBtn->isEnabled());
    EXPECT_FALSE(f.modified());
    EXPECT_EQ(f.windowTitle(), "Brevalo");
    EXPECT_EQ(f.Restore1->text(), "Restore");
    EXPECT_TRUE(errors.empty());
}

TEST_F(SettingWindow, SaysWhichStoreAndNetFileAreInUse) {
    writeNet("");
    TSettingForm& f = open();
    EXPECT_EQ(f.storeLabel->text().toStdString(), "Mail store: " + environment.storeRoot);
    EXPECT_EQ(f.netFileLabel->text().toStdString(), "Net file: " + home + "/zelko.ini");
}

TEST_F(SettingWindow, StartAtLoginWritesAndRemovesTheAutostartEntry) {
    writeNet("");
    const std::string entry = environment.autostartFile;
    TSettingForm& f = open();
    f.showMainWindow(true);
    EXPECT_EQ(f.startAtLoginCheck->text(), "Start Brevalo when I log in");
    EXPECT_FALSE(f.startAtLoginCheck->isChecked());
    f.startAtLoginCheck->click();
    EXPECT_TRUE(f.applyBtn->isEnabled());
    EXPECT_FALSE(fileExists(entry)); // Apply or OK writes it
    f.applyBtn->click();
    EXPECT_NE(readFile(entry).find("\nExec=" + environment.programFolder + "brevalo -hide\n"),
              std::string::npos)
        << readFile(entry);
    EXPECT_FALSE(f.applyBtn->isEnabled());

    form.reset(); // the next start finds it on
    TSettingForm& again = open();
    again.showMainWindow(true);
    EXPECT_TRUE(again.startAtLoginCheck->isChecked());
    again.startAtLoginCheck->click();
    again.OkBtn->click();
    EXPECT_FALSE(fileExists(entry));
    EXPECT_TRUE(errors.empty());
}

TEST_F(SettingWindow, AnAutostartEntryThatCannotBeWrittenKeepsApplyAvailable) {
    writeNet("");
    writeFile(home + "/config", "a file where the folder would be");
    TSettingForm& f = open();
    f.showMainWindow(true);
    f.startAtLoginCheck->click();
    f.applyBtn->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("The autostart entry " + environment.autostartFile +
                             " could not be written"),
              std::string::npos)
        << errors[0];
    EXPECT_TRUE(f.applyBtn->isEnabled());
    EXPECT_TRUE(fileHas("enabled=_1_")); // the net's settings are written all the same
}

TEST_F(SettingWindow, UnknownJobVariantShowsAndWritesOne) {
    writeNet("jobvariant=_7_\r\n");
    TSettingForm& f = open();
    EXPECT_TRUE(f.jobvariant1Radio->isChecked());
    f.OkBtn->click();
    EXPECT_TRUE(fileHas("jobvariant=_1_"));
    EXPECT_FALSE(f.isVisible());
}

TEST_F(SettingWindow, StoreMailRadiosFollowVariantTwoButAreAlwaysWritten) {
    writeNet("jobvariant=_3_\r\nstoremail=_1_\r\n");
    TSettingForm& f = open();
    f.showMainWindow(true);
    EXPECT_TRUE(f.jobvariant3Radio->isChecked());
    EXPECT_FALSE(f.storemail0Radio->isEnabled());
    f.jobvariant2Radio->click();
    EXPECT_TRUE(f.storemail0Radio->isEnabled());
    f.storemail0Radio->click();
    // The storemail pair is a choice of its own, apart from the job variant.
    EXPECT_TRUE(f.jobvariant2Radio->isChecked());
    EXPECT_FALSE(f.storemail1Radio->isChecked());
    f.jobvariant3Radio->click();
    EXPECT_TRUE(f.jobvariant3Radio->isChecked());
    EXPECT_FALSE(f.jobvariant2Radio->isChecked());
    EXPECT_TRUE(f.storemail0Radio->isChecked());
    EXPECT_FALSE(f.storemail0Radio->isEnabled());
    f.applyBtn->click();
    EXPECT_TRUE(fileHas("jobvariant=_3_"));
    EXPECT_TRUE(fileHas("storemail=_0_"));
    EXPECT_FALSE(f.applyBtn->isEnabled());
}

// The profile's calls, except that a file replacement fails once `allowed` have been made.
class ReplacementBudget : public ProfileSystem {
public:
    explicit ReplacementBudget(int allowed)
        : allowed(allowed), previous(ProfileSystem::install(this)) {}
    ~ReplacementBudget() override { ProfileSystem::install(previous); }
    int rename(const char* from, const char* to) override {
        if (allowed == 0) {
            errno = ENOSPC;
            return -1;
        }
        --allowed;
        return ProfileSystem::rename(from, to);
    }

private:
    int allowed;
    ProfileSystem* previous;
};

struct ApplyCase {
    const char* name;
    int replacements; // how many replacements of the file succeed
    bool written;     // whether the file then holds the new values
};

void PrintTo(const ApplyCase& value, std::ostream* out) {
    *out << value.name;
}

class SettingWindowApply : public SettingWindow, public testing::WithParamInterface<ApplyCase> {};

// Apply writes the seven values in one replacement of the file: all of them or, when the
// file cannot be replaced, none (and Apply stays available for another try).
TEST_P(SettingWindowApply, WritesAllValuesOrNone) {
    const ApplyCase& c = GetParam();
    writeNet("jobvariant=_1_\r\nfrom=_old@example.org_\r\n");
    std::string before = netFile();
    TSettingForm& f = open();
    f.jobvariant2Radio->click();
    f.storemail0Radio->click();
    f.enabledPeriodRadio->click();
    f.fromEdit->setText("new@example.org");
    {
        ReplacementBudget budget(c.replacements);
        f.applyBtn->click();
    }
    if (c.written) {
        for (const char* line : {"jobvariant=_2_", "storemail=_0_", "enabled=_1_",
                                 "enabled.period=_1_", "from=_new@example.org_"})
            EXPECT_TRUE(fileHas(line)) << line << " in " << netFile();
        EXPECT_TRUE(errors.empty());
    } else {
        EXPECT_EQ(netFile(), before);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind("Error: The settings could not be written", 0), 0u) << errors[0];
    }
    EXPECT_EQ(f.applyBtn->isEnabled(), !c.written);
}

INSTANTIATE_TEST_SUITE_P(Replacements, SettingWindowApply,
                         testing::Values(ApplyCase{"one_replacement_takes_all", 1, true},
                                         ApplyCase{"failed_replacement_writes_none", 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingWindow, OnlyTheToTimeChangedKeepsTheToDate) {
    writeNet("enabled.period=_1_\r\nenabled.period.from=_20050823083200_\r\n"
             "enabled.period.to=_20051224180000_\r\n");
    TSettingForm& f = open();
    EXPECT_TRUE(f.toTimePicker->isEnabled());
    EXPECT_EQ(f.toDatePicker->date(), QDate(2005, 12, 24));
    f.toTimePicker->setTime(QTime(7, 45, 30));
    EXPECT_TRUE(f.applyBtn->isEnabled());
    f.applyBtn->click();
    EXPECT_TRUE(fileHas("enabled.period.to=_20051224074530_"));
    EXPECT_TRUE(fileHas("enabled.period.from=_20050823083200_"));
}

TEST_F(SettingWindow, StoreMailChangeAloneLeavesApplyDisabledButOkSavesIt) {
    writeNet("jobvariant=_2_\r\nstoremail=_1_\r\n");
    TSettingForm& f = open();
    f.storemail0Radio->click();
    EXPECT_TRUE(f.storemail0Radio->isChecked());
    EXPECT_FALSE(f.applyBtn->isEnabled());
    f.OkBtn->click();
    EXPECT_TRUE(fileHas("storemail=_0_"));
}

TEST_F(SettingWindow, CancelHidesAndKeepsTheEditsUnsaved) {
    writeNet("from=_old@example.org_\r\n");
    TSettingForm& f = open();
    f.showMainWindow(true);
    std::string before = netFile();
    f.fromEdit->setText("new@example.org");
    f.enabledCheck->click();
    f.CancelBtn->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(netFile(), before);
    f.Restore1->trigger();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.fromEdit->text(), "new@example.org");
    EXPECT_FALSE(f.enabledCheck->isChecked());
    EXPECT_FALSE(f.enabledPeriodRadio->isEnabled());
    EXPECT_TRUE(f.applyBtn->isEnabled());
}

TEST_F(SettingWindow, TellMeWhenMailIsSortedIsOffByDefaultAndKeptWithApply) {
    writeNet("");
    TSettingForm& f = open();
    EXPECT_EQ(f.notifySortedCheck->text(), "Tell me when mail is sorted");
    EXPECT_FALSE(f.notifySortedCheck->isChecked());
    f.notifySortedCheck->click();
    EXPECT_TRUE(f.applyBtn->isEnabled());
    f.applyBtn->click();
    EXPECT_TRUE(fileHas("notify.sorted=_1_"));
    form.reset();
    EXPECT_TRUE(open().notifySortedCheck->isChecked());
}

struct SortedCase {
    const char* name;
    bool notify;
    bool visible;
    const char* tooltip; // the first line; empty: the state line alone
    const char* message;
};

class SortedWhileHidden : public SettingWindow, public testing::WithParamInterface<SortedCase> {};

TEST_P(SortedWhileHidden, CountsInTheTooltipUntilOpenedAndSaysSoOnce) {
    const SortedCase& c = GetParam();
    writeNet(c.notify ? "notify.sorted=_1_\r\n" : "");
    TSettingForm& f = open();
    f.showMainWindow(c.visible);
    f.sortedMessageTimer->setInterval(0);
    f.noteSorted({"Invoices"});
    f.noteSorted({"Travel", "Invoices"});
    f.noteSorted({"Invoices"});
    QString state = f.stateLabel->text();
    QString expected = *c.tooltip ? QString(c.tooltip) + "\n" + state : state;
    EXPECT_EQ(f.systray()->shownTooltip(), expected);
    if (*c.message) {
        ASSERT_TRUE(processUntil([&] { return !f.systray()->lastMessage().isEmpty(); }));
    }
    QApplication::processEvents();
    EXPECT_EQ(f.systray()->lastMessage(), c.message);
    EXPECT_FALSE(f.sortedMessageTimer->isActive());

    // Opened, the count starts again.
    f.showMainWindow(true);
    EXPECT_EQ(f.systray()->shownTooltip(), state);
    f.showMainWindow(false);
    f.noteSorted({"Travel"});
    EXPECT_EQ(f.systray()->shownTooltip().section('\n', 0, 0),
              "1 message sorted since you last opened Brevalo");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SortedWhileHidden,
    testing::Values(SortedCase{"WithTheMessage", true, false,
                               "3 messages sorted since you last opened Brevalo",
                               "3 messages sorted: Invoices 3, Travel 1"},
                    SortedCase{"MessageOff", false, false,
                               "3 messages sorted since you last opened Brevalo", ""},
                    SortedCase{"WindowOpen", true, true, "", ""}),
    [](const testing::TestParamInfo<SortedCase>& info) { return std::string(info.param.name); });

TEST_F(SettingWindow, ChosenRootFolderIsKeptAfterCancel) {
    writeNet("");
    TSettingForm& f = open();
    STOREFOLDERID target = findOrCreateFolder(f.store(), FOLDERID_ROOT, "Sorted mail", true);
    whenModal([target](QDialog* dialog) {
        auto* chooser = static_cast<TSelectFolderForm*>(dialog);
        for (QTreeWidgetItemIterator it(chooser->folderTree); *it; ++it)
            if ((*it)->parent() && FolderTreeItem::idOf(*it) == target)
                chooser->folderTree->setCurrentItem(*it);
        chooser->OkBtn->click();
    });
    f.destFolderButton->click();
    f.CancelBtn->click();
    EXPECT_TRUE(fileHas("destFolder=_" + std::to_string(target) + "_"));
    EXPECT_TRUE(errors.empty());
}

TEST_F(SettingWindow, StateLineAndTooltipFollowTheNet) {
    writeNet("");
    TSettingForm& f = open();
    EXPECT_EQ(f.stateLabel->text(), "The network is not trained yet");
    EXPECT_EQ(f.stateLabel->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(f.systray()->hint(), f.stateLabel->text());
    EXPECT_EQ(f.systray()->shownTooltip(), f.stateLabel->text());
    EXPECT_TRUE(f.systray()->shown());

    // The configuration window saved a learned net and closed: the state follows.
    shellFixture::writeLearnedNet(home, environment.storeRoot);
    locOpen(environment.stringsFile());
    f.configurationClosed(1);
    EXPECT_TRUE(f.stateLabel->text().startsWith("The network is trained (learned on "));
    EXPECT_EQ(f.stateLabel->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(f.systray()->shownTooltip(), f.stateLabel->text());
}

TEST_F(SettingWindow, ConfigureIsDisabledUntilAConfigurationWindowIsInstalled) {
    writeNet("");
    TSettingForm& f = open();
    EXPECT_FALSE(f.configButton->isEnabled());
    EXPECT_FALSE(f.configButton->toolTip().isEmpty());
    form.reset();

    int opened = 0;
    TSettingForm::setConfigurationWindow([&opened](QWidget*, Net* net, IStoreNamespace*) {
        ++opened;
        net->setJobVariant(3); // saved by the window; the settings are reloaded on OK
        return 1;
    });
    TSettingForm& g = open();
    EXPECT_TRUE(g.configButton->isEnabled());
    g.configButton->click();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(g.jobvariant3Radio->isChecked());
    EXPECT_FALSE(g.applyBtn->isEnabled());
    TSettingForm::setConfigurationWindow(nullptr);
}

TEST_F(SettingWindow, UnopenableStoreEndsTheStart) {
    std::ofstream(home + "/not-a-folder") << "x";
    environment.storeRoot = home + "/not-a-folder";
    TSettingForm& f = open();
    EXPECT_FALSE(f.started());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(
        errors[0].rfind("Error: Opening the mail store " + environment.storeRoot + " failed: ", 0),
        0u)
        << errors[0];
    EXPECT_FALSE(f.systray()->shown());
}

TEST_F(SettingWindow, StoreNotificationsReachTheSorterAsEvents) {
    shellFixture::writeLearnedNet(home, environment.storeRoot);
    TSettingForm& f = open();
    ASSERT_TRUE(f.notificationsRegistered());
    std::vector<std::string> lines;
    setLogSink([&lines](const std::string& line) { lines.push_back(line); });
    // A new-message notification for a message the inbox does not hold: the store's
    // failure is shown and the window lives on.
    f.post(WM_NEWMSGS, 987654, 0);
    f.post(WM_DELETEFOLDER, 1, 0); // not one of the sorter's
    EXPECT_TRUE(errors.empty()) << "handled later, as a posted window message";
    QCoreApplication::processEvents();
    setLogSink(nullptr);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Error: Sorting a new message failed: ", 0), 0u) << errors[0];
    int arrived = 0;
    for (const std::string& line : lines)
        arrived += line.find("message arrived: msg 2674 wp 987654") != std::string::npos;
    EXPECT_EQ(arrived, 1);
}

TEST_F(SettingWindow, LeftClickTogglesTheWindow) {
    writeNet("");
    TSettingForm& f = open();
    f.showMainWindow(false);
    f.systray()->iconCallback(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(f.isVisible());
    f.systray()->iconCallback(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(f.isVisible());
}

TEST_F(SettingWindow, ExitFromTheTrayEndsTheRunWhileTheWindowIsHidden) {
    writeNet("");
    TSettingForm& f = open();
    f.showMainWindow(true);
    f.CancelBtn->click();
    ASSERT_FALSE(f.isVisible());
    EXPECT_TRUE(f.systray()->shown());
    // Only a guard against a hang: the loop must end through "Exit" long before.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(60000);
    QTimer::singleShot(0, f.Exit1, [&f] { f.Exit1->trigger(); });
    EXPECT_EQ(QApplication::exec(), 0);
    guard.stop();
}

// The close button (and Alt+F4) hides the window; the first time, a tray message says so.
TEST_F(SettingWindow, CloseHidesToTheTrayAndSaysSoOnce) {
    writeNet("");
    TSettingForm& f = open();
    for (bool first : {true, false}) {
        f.showMainWindow(true);
        f.systray()->showMessage("", "");
        QCloseEvent close;
        QApplication::sendEvent(&f, &close);
        EXPECT_FALSE(close.isAccepted() || f.isVisible());
        EXPECT_EQ(f.systray()->lastMessage().startsWith("Brevalo keeps sorting"), first);
    }
}

TEST_F(SettingWindow, NetImportedInATerminalShowsWithoutWaitingForMail) {
    writeNet("");
    QTemporaryDir other;
    shellFixture::copyStrings(other.path().toStdString());
    shellFixture::writeLearnedNet(other.path().toStdString(), environment.storeRoot);
    TSettingForm& f = open();
    std::string cli = std::string(BREVALO_BIN_DIR) + "/brevalo-cli ", json = home + "/n.json";
    ASSERT_EQ(std::system(("export MAILDIR=" + environment.storeRoot +
                           "; BREVALO_HOME=" + other.path().toStdString() + " " + cli + "export " +
                           json + " && BREVALO_HOME=" + home + " " + cli + "import " + json)
                              .c_str()),
              0);
    const QString counts = "Target folders: 2, learning messages: 4";
    for (int i = 0; i < 1500 && f.countsLabel->text() != counts; ++i) {
        QThread::msleep(20); // the watcher's news come through the loop
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(f.countsLabel->text(), counts);
    EXPECT_TRUE(f.stateLabel->text().startsWith("The network is trained"));
}

// --- TSystray alone

TEST(Systray, RightClickWithoutMenuDoesNothing) {
    TSystray tray;
    tray.setPopupMenu(nullptr);
    tray.iconCallback(QSystemTrayIcon::Context);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST(Systray, MenuDestroyedBeforeTheTrayIsForgotten) {
    TSystray tray;
    auto* menu = new QMenu;
    tray.setPopupMenu(menu);
    delete menu;
    EXPECT_EQ(tray.popupMenu(), nullptr);
    tray.iconCallback(QSystemTrayIcon::Context);
}

TEST(Systray, DisabledIconIgnoresTheMouseAndIsRemoved) {
    TSystray tray;
    int clicks = 0;
    tray.onLeftClick = [&clicks](TSystray*) { ++clicks; };
    tray.setEnabled(true);
    EXPECT_TRUE(tray.shown());
    tray.iconCallback(QSystemTrayIcon::Trigger);
    tray.setEnabled(false);
    EXPECT_FALSE(tray.shown());
    tray.iconCallback(QSystemTrayIcon::Trigger);
    EXPECT_EQ(clicks, 1);
    // An event without a handler does nothing.
    tray.setEnabled(true);
    tray.onDblClick = nullptr;
    tray.iconCallback(QSystemTrayIcon::DoubleClick);
}

TEST(Systray, HintIsCutTo127CharactersAndRefreshedOnlyWhileShown) {
    TSystray tray;
    tray.setEnabled(false);
    tray.setHint("first");
    EXPECT_TRUE(tray.shownTooltip().isEmpty());
    tray.setEnabled(true);
    EXPECT_EQ(tray.shownTooltip(), "first");
    tray.setHint(QString(200, 'x'));
    EXPECT_EQ(tray.hint().size(), 127);
    EXPECT_EQ(tray.shownTooltip(), QString(127, 'x'));
    // A character outside the basic plane is never cut in half.
    tray.setHint(QString(126, 'y') + QString::fromUtf8("\xF0\x9F\x93\xA7"));
    EXPECT_EQ(tray.hint(), QString(126, 'y'));
}

} // namespace
