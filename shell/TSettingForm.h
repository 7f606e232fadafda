#pragma once

#include "util/ComPtr.h"
#include "util/DateTime.h"
#include "util/Ref.h"
#include "platform/Store.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "sorting/AutostartEntry.h"
#include "sorting/Journal.h"
#include "sorting/NetFileWatch.h"
#include "sorting/NotificationQueue.h"
#include "sorting/ProgramEnvironment.h"
#include "shell/SortedTally.h"

#include <QDate>
#include <QString>
#include <QTime>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class InboxMark;
class SentMailRecord;
class QAction;
class QCheckBox;
class QDateEdit;
class QFileSystemWatcher;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSocketNotifier;
class QTabWidget;
class QTimeEdit;
class QTimer;
class TRecentForm;
class TSystray;

// The settings window, which is also the program's main window: it holds the store
// connection, the inbox, the running net and the tray icon, and receives the inbox's
// notifications. Closing it, OK and Cancel hide it; "Exit" in the tray menu ends the
// program.
class TSettingForm : public QWidget, public INotifySink {
public:
    // Opens the store, the language file and the net, fills the controls and shows the
    // tray icon, then registers for the inbox's notifications and queues the messages that
    // arrived since the inbox mark (in the state folder; none when that is not set) ahead
    // of any notification. When the store cannot be opened the error is shown ("error")
    // and started() is false: the program ends.
    explicit TSettingForm(const ProgramEnvironment& environment, QWidget* parent = nullptr);
    ~TSettingForm() override;

    bool started() const { return isStarted; }
    // False when the store declined (or failed) the registration.
    bool notificationsRegistered() const { return registered; }

    Net* net() const { return runningNet.get(); }
    IStoreNamespace* store() const { return connection.store.get(); }
    IStoreFolder* inbox() const { return connection.inbox.get(); }
    TSystray* systray() const { return tray; }

    bool modified() const { return isModified; }
    // Stores the flag and enables Apply with it, when it changes.
    void setModified(bool flag);
    // Controls from the net file; Apply disabled afterwards.
    void loadSettings();
    // Controls to the net file, in one replacement of it (NetSettings::write); Apply
    // disabled afterwards (kept enabled, with an error box, when the file could not be
    // written: then it holds none of the new values).
    void applySettings();
    // The state line (blue when the net is learned, red otherwise), the counts line and the
    // tray hint.
    void updateState();
    void showMainWindow(bool shown);
    // Whether the window is to be shown when the loop starts ("-hide" clears it).
    bool showMainForm() const { return mainFormShown; }

    // A message the sorter moved out of the inbox into these folders. While the window is
    // hidden it counts in the tray's tooltip until the window is opened, and (with "Tell
    // me when mail is sorted") in the tray message that follows a burst of sorting.
    void noteSorted(const std::vector<std::string>& folders);
    // Shows the tray message for what was sorted since the last one.
    void showSortedMessage();
    const SortedTally& sortedSinceOpened() const { return sinceOpened; }

    // The configuration window: opens it modally on the running net over the store and
    // answers its result (1 OK, 2 Cancel). Until one is installed Configure is disabled
    // and says why.
    using ConfigurationWindow =
        std::function<int(QWidget* owner, Net* net, IStoreNamespace* store)>;
    static void setConfigurationWindow(ConfigurationWindow open);
    // What follows the configuration window's close: on OK the net is reloaded from the
    // file and the controls refilled; in any case the state line is refreshed.
    void configurationClosed(int result);

    // Handlers.
    void jobvariant3RadioClick();
    void enabledCheckClick();
    void enabledAlwaysRadioClick();
    void fromDatePickerChange();
    void fromEditChange();
    void applyBtnClick();
    void OkBtnClick();
    void CancelBtnClick();
    void configButtonClick();
    void destFolderButtonClick();
    void systrayLeftClick();
    void Restore1Click();
    // "Recently sorted…": the journal's window (made at the first call); nothing without
    // a state folder, where the journal lives.
    void Recent1Click();
    TRecentForm* recentWindow() const { return recentForm; }
    // The journal the sorter writes; none without a state folder.
    Journal* sortJournal() const { return journal.get(); }
    void Exit1Click();
    // The show request of other processes (1034).
    void wmZelkoShow();

    // The store's notifications: queued, and handled when the event loop reaches them
    // (arrivals that queued up together sorted as one batch, a batch at a time).
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    QTabWidget* pages;
    QWidget* settingsTab;
    QGroupBox* configPane;
    QLabel* Label1;
    QLabel* stateLabel;
    // How many target folders and learning messages the net has.
    QLabel* countsLabel;
    // Which store and which net file this program works on.
    QLabel* storeLabel;
    QLabel* netFileLabel;
    QPushButton* configButton;
    QGroupBox* variantsPane;
    QRadioButton* jobvariant1Radio;
    QRadioButton* jobvariant2Radio;
    QWidget* storemailPanel;
    QRadioButton* storemail1Radio;
    QRadioButton* storemail0Radio;
    QRadioButton* jobvariant3Radio;
    QPushButton* destFolderButton;
    QLabel* fromLabel;
    QLineEdit* fromEdit;
    QGroupBox* GroupBox1;
    QCheckBox* enabledCheck;
    // Writes or removes the desktop's autostart entry with Apply or OK.
    QCheckBox* startAtLoginCheck;
    // "Tell me when mail is sorted": the tray message after sorting.
    QCheckBox* notifySortedCheck;
    QRadioButton* enabledAlwaysRadio;
    QRadioButton* enabledPeriodRadio;
    QLabel* Label3;
    QDateEdit* fromDatePicker;
    QTimeEdit* fromTimePicker;
    QLabel* Label4;
    QDateEdit* toDatePicker;
    QTimeEdit* toTimePicker;
    QPushButton* applyBtn;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;
    QMenu* systrayMenu;
    // Gathers a burst of sorting into one tray message: started by the first message
    // sorted after the last tray message.
    QTimer* sortedMessageTimer;
    QAction* Restore1;
    QAction* Recent1;
    QAction* N1;
    QAction* Exit1;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void setCaptions();
    void connectHandlers();
    void registerNotifications();
    void unregisterNotifications();
    // What the sorter wrote to the journal: the sorted messages are counted, and the
    // journal's window, when open, shows them.
    void journalAppended(const std::vector<Journal::Entry>& entries);
    // noteSorted for the messages of a batch (the folders of each), the tooltip set once.
    void noteAllSorted(const std::vector<std::vector<std::string>>& messages);
    // Handles the queued notifications up to and including one batch of arrivals; asks
    // the loop to come back for the rest, so the window stays responsive between batches.
    void handleQueued();
    void sortArrived(const std::vector<MESSAGEID>& ids);
    // Before each batch: the net is loaded again when another program saved it since it
    // was read, unless a window holds it; true when it was.
    bool reloadNetIfChanged();
    // Loads the net again as soon as another program (brevalo-cli learn, import) saves it,
    // so the state line is true without waiting for mail.
    void watchNetFile(const QString& path);
    // Reads the net file into the running net; a failure is shown under context and
    // leaves the net as it was.
    void loadNet(const char* context);
    // A notification other than an arrival: logged.
    void handleStoreNotify(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    StoreConnection connection;
    AutostartEntry autostart;
    ref_ptr<Net> runningNet;
    NetFileWatch netFile;
    QFileSystemWatcher* netWatcher = nullptr;
    int netHolders = 0; // windows open on the running net: it is not loaded again meanwhile
    std::unique_ptr<InboxMark> mark;
    std::unique_ptr<SentMailRecord> sentMail;
    std::unique_ptr<Journal> journal;
    TRecentForm* recentForm = nullptr;
    QTimer* markTimer = nullptr;
    TSystray* tray = nullptr;
    QSocketNotifier* notifier = nullptr;
    NotificationQueue notifications;
    bool handlingPosted = false; // an event is on its way to handleQueued
    bool handlingQueue = false;
    bool reloadingNet = false;
    bool isStarted = false;
    bool registered = false;
    bool isModified = false;
    bool mainFormShown = true;
    bool notifySorted = false;
    SortedTally sinceOpened;
    SortedTally sinceMessage;
};

// The date and the time of day of a DateTime as the pickers show them, and back.
QDate dateOfDateTime(DateTime value);
QTime timeOfDateTime(DateTime value);
DateTime dateTimeOf(const QDate& date, const QTime& time);
// The learning date as the state line shows it: the short date, then the long time
// unless it is exactly midnight.
QString formatLearnDate(DateTime value);
