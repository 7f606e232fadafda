#include "shell/TSettingForm.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/lock/FileLock.h"
#include "platform/profile/Loc.h"
#include "core/NetFile.h"
#include "mail/StoreMessages.h"
#include "sorting/InboxMark.h"
#include "sorting/Journal.h"
#include "sorting/IncomingMail.h"
#include "sorting/SentMailRecord.h"
#include "editor/FolderImages.h"
#include "editor/TSelectFolderForm.h"
#include "shell/TRecentForm.h"
#include "shell/TSystray.h"

#include <QAction>
#include <QButtonGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The store's notifications are waiting in the window's queue.
class StoreNotifyEvent : public QEvent {
public:
    StoreNotifyEvent() : QEvent(type()) {}

    static QEvent::Type type() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
};

QString loc(const char* key) {
    return QString::fromStdString(locText(key));
}

// The object, its name set: tests and the screenshots find the controls by name.
template <class T> T* named(T* object, const char* name) {
    object->setObjectName(name);
    return object;
}

// The locale's long time format without the time zone: the times shown are local and
// the stored ones carry no zone.
QString longTimeFormat() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1String(" t"));
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

// The locale's short date with the year in four digits: a two-digit year would be read
// back in the wrong century.
QString shortDateFormat() {
    QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

TSettingForm::ConfigurationWindow& configurationWindow() {
    static TSettingForm::ConfigurationWindow open;
    return open;
}

// Counts a window that works on the running net for as long as it is open.
class NetHold {
public:
    explicit NetHold(int& holders) : count(holders) { ++count; }
    ~NetHold() { --count; }
    NetHold(const NetHold&) = delete;
    NetHold& operator=(const NetHold&) = delete;

private:
    int& count;
};

const char* const configMissingHint = "The configuration window is not part of this version yet";

} // namespace

QDate dateOfDateTime(DateTime value) {
    DateTimeParts parts = decodeDateTime(value);
    return QDate(parts.year, parts.month, parts.day);
}

QTime timeOfDateTime(DateTime value) {
    DateTimeParts parts = decodeDateTime(value);
    return QTime(parts.hour, parts.minute, parts.second);
}

DateTime dateTimeOf(const QDate& date, const QTime& time) {
    DateTimeParts parts;
    parts.year = date.year();
    parts.month = date.month();
    parts.day = date.day();
    parts.hour = time.hour();
    parts.minute = time.minute();
    parts.second = time.second();
    DateTime result = 0;
    if (!tryEncodeDateTime(parts, result))
        return 0;
    return result;
}

QString formatLearnDate(DateTime value) {
    QLocale locale = QLocale::system();
    QString text = locale.toString(dateOfDateTime(value), QLocale::ShortFormat);
    QTime time = timeOfDateTime(value);
    if (time == QTime(0, 0))
        return text;
    return text + ' ' + locale.toString(time, longTimeFormat());
}

TSettingForm::TSettingForm(const ProgramEnvironment& environment, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      autostart(environment), netFile(environment.netFile()) {
    setObjectName("SettingForm");
    buildLayout();

    tray = new TSystray(this);
    tray->onLeftClick = [this](TSystray*) { systrayLeftClick(); };
    tray->setPopupMenu(systrayMenu);
    tray->setIcon(FolderImages::application());

    try {
        connection = connectStore(environment.storeRoot);
    } catch (const ComException& e) {
        reportError("Error", comErrorText(e, "Opening the mail store " + environment.storeRoot));
        return;
    }

    locOpen(environment.stringsFile());
    setCaptions();
    storeLabel->setText(
        QString::fromStdString(locText("settings.storeInUse", environment.storeRoot)));
    netFileLabel->setText(
        QString::fromStdString(locText("settings.netInUse", environment.netFile())));

    std::string homeError;
    if (!environment.makeHome(&homeError))
        reportError("error", "cannot make the folder " + environment.home + ": " + homeError);
    runningNet = new Net(environment.netFile(), StoreMessages::of(connection.store.get()));
    netFile.loaded(); // the file as it is now that makeHome may have put it in place
    runningNet->load();
    watchNetFile(QString::fromStdString(environment.netFile()));

    connectHandlers();
    loadSettings();
    updateState();
    tray->setEnabled(true);
    isStarted = true;

    registerNotifications();
    if (!environment.stateFolder.empty()) {
        mark = std::make_unique<InboxMark>(environment.inboxMarkFile(), environment.storeRoot);
        // The mark reaches its file within a second of the last message looked at.
        markTimer = new QTimer(this);
        markTimer->setSingleShot(true);
        markTimer->setInterval(1000);
        connect(markTimer, &QTimer::timeout, this, [this] { mark->flush(); });
        journal = std::make_unique<Journal>(environment.journalFile());
        journal->appended = [this](const std::vector<Journal::Entry>& entries) {
            journalAppended(entries);
        };
        // Queued now, so they are handled before any notification the loop dispatches.
        std::vector<MESSAGEID> ids = mark->catchUp(connection.inbox.get(), journal.get());
        // Mail that failed to go out at the last run is tried once more.
        sentMail = std::make_unique<SentMailRecord>(environment.sentMailFile());
        for (MESSAGEID id : messagesToRetry(connection.inbox.get(), *sentMail))
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                ids.push_back(id);
        for (MESSAGEID id : ids)
            post(WM_NEWMSGS, id, 0);
    }
    Recent1->setEnabled(journal != nullptr);
}

TSettingForm::~TSettingForm() {
    unregisterNotifications();
    delete tray;
    tray = nullptr;
    runningNet = nullptr;
    connection.inbox.reset();
    connection.store.reset();
}

void TSettingForm::buildLayout() {
    pages = named(new QTabWidget(this), "pages");
    settingsTab = named(new QWidget, "settingsTab");
    pages->addTab(settingsTab, QString());

    configPane = named(new QGroupBox(settingsTab), "configPane");
    Label1 = named(new QLabel(configPane), "Label1");
    stateLabel = named(new QLabel(configPane), "stateLabel");
    stateLabel->setWordWrap(true);
    countsLabel = named(new QLabel(configPane), "countsLabel");
    configButton = named(new QPushButton(configPane), "configButton");
    storeLabel = named(new QLabel(configPane), "storeLabel");
    netFileLabel = named(new QLabel(configPane), "netFileLabel");
    for (QLabel* path : {storeLabel, netFileLabel}) {
        path->setWordWrap(true);
        path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* configLayout = new QGridLayout(configPane);
    configLayout->addWidget(Label1, 0, 0);
    configLayout->addWidget(stateLabel, 1, 0);
    configLayout->addWidget(countsLabel, 2, 0);
    configLayout->addWidget(storeLabel, 3, 0, 1, 2);
    configLayout->addWidget(netFileLabel, 4, 0, 1, 2);
    configLayout->addWidget(configButton, 0, 1, 3, 1, Qt::AlignRight | Qt::AlignVCenter);
    configLayout->setColumnStretch(0, 1);

    variantsPane = named(new QGroupBox(settingsTab), "variantsPane");
    jobvariant1Radio = named(new QRadioButton(variantsPane), "jobvariant1Radio");
    jobvariant2Radio = named(new QRadioButton(variantsPane), "jobvariant2Radio");
    // A panel of their own keeps the storemail pair apart from the variant radios.
    storemailPanel = named(new QWidget(variantsPane), "storemailPanel");
    storemail1Radio = named(new QRadioButton(storemailPanel), "storemail1Radio");
    storemail0Radio = named(new QRadioButton(storemailPanel), "storemail0Radio");
    auto* storemailLayout = new QVBoxLayout(storemailPanel);
    storemailLayout->setContentsMargins(22, 0, 0, 0);
    storemailLayout->setSpacing(2);
    storemailLayout->addWidget(storemail1Radio);
    storemailLayout->addWidget(storemail0Radio);
    jobvariant3Radio = named(new QRadioButton(variantsPane), "jobvariant3Radio");
    destFolderButton = named(new QPushButton(variantsPane), "destFolderButton");
    destFolderButton->setIcon(FolderImages::folder(0));
    fromLabel = named(new QLabel(variantsPane), "fromLabel");
    fromEdit = named(new QLineEdit(variantsPane), "fromEdit");
    fromLabel->setBuddy(fromEdit);
    auto* fromRow = new QHBoxLayout;
    fromRow->addWidget(fromLabel);
    fromRow->addWidget(fromEdit, 1);
    // Explicit groups: automatic exclusivity spans every radio below a parent, so the
    // storemail pair would otherwise take part in the choice of the job variant.
    auto* variantGroup = new QButtonGroup(variantsPane);
    for (QRadioButton* radio : {jobvariant1Radio, jobvariant2Radio, jobvariant3Radio})
        variantGroup->addButton(radio);
    auto* storemailGroup = new QButtonGroup(storemailPanel);
    storemailGroup->addButton(storemail1Radio);
    storemailGroup->addButton(storemail0Radio);
    auto* variantsLayout = new QVBoxLayout(variantsPane);
    auto* topRow = new QHBoxLayout;
    topRow->addStretch();
    topRow->addWidget(destFolderButton);
    variantsLayout->addLayout(topRow);
    variantsLayout->addWidget(jobvariant1Radio);
    variantsLayout->addWidget(jobvariant2Radio);
    variantsLayout->addWidget(storemailPanel);
    variantsLayout->addWidget(jobvariant3Radio);
    variantsLayout->addSpacing(6);
    variantsLayout->addLayout(fromRow);

    GroupBox1 = named(new QGroupBox(settingsTab), "GroupBox1");
    enabledCheck = named(new QCheckBox(GroupBox1), "enabledCheck");
    enabledAlwaysRadio = named(new QRadioButton(GroupBox1), "enabledAlwaysRadio");
    enabledPeriodRadio = named(new QRadioButton(GroupBox1), "enabledPeriodRadio");
    Label3 = named(new QLabel(GroupBox1), "Label3");
    Label4 = named(new QLabel(GroupBox1), "Label4");
    auto makeDate = [this](const char* name) {
        auto* picker = named(new QDateEdit(GroupBox1), name);
        picker->setCalendarPopup(true);
        picker->setDisplayFormat(shortDateFormat());
        return picker;
    };
    auto makeTime = [this](const char* name) {
        auto* picker = named(new QTimeEdit(GroupBox1), name);
        picker->setDisplayFormat(longTimeFormat());
        return picker;
    };
    fromDatePicker = makeDate("fromDatePicker");
    fromTimePicker = makeTime("fromTimePicker");
    toDatePicker = makeDate("toDatePicker");
    toTimePicker = makeTime("toTimePicker");
    auto* periodGroup = new QButtonGroup(GroupBox1);
    periodGroup->addButton(enabledAlwaysRadio);
    periodGroup->addButton(enabledPeriodRadio);
    auto* generalLayout = new QGridLayout(GroupBox1);
    generalLayout->addWidget(enabledCheck, 0, 0, 1, 5);
    generalLayout->addWidget(enabledAlwaysRadio, 1, 0, 1, 5);
    generalLayout->addWidget(enabledPeriodRadio, 2, 0);
    generalLayout->addWidget(Label3, 2, 1, Qt::AlignRight);
    generalLayout->addWidget(fromDatePicker, 2, 2);
    generalLayout->addWidget(fromTimePicker, 2, 3);
    generalLayout->addWidget(Label4, 3, 1, Qt::AlignRight);
    generalLayout->addWidget(toDatePicker, 3, 2);
    generalLayout->addWidget(toTimePicker, 3, 3);
    startAtLoginCheck = named(new QCheckBox(GroupBox1), "startAtLoginCheck");
    generalLayout->addWidget(startAtLoginCheck, 4, 0, 1, 5);
    notifySortedCheck = named(new QCheckBox(GroupBox1), "notifySortedCheck");
    generalLayout->addWidget(notifySortedCheck, 5, 0, 1, 5);
    generalLayout->setColumnStretch(4, 1);
    generalLayout->setColumnMinimumWidth(0, 0);

    auto* tabLayout = new QVBoxLayout(settingsTab);
    tabLayout->addWidget(configPane);
    tabLayout->addWidget(variantsPane);
    tabLayout->addWidget(GroupBox1);
    tabLayout->addStretch();

    applyBtn = named(new QPushButton(this), "applyBtn");
    applyBtn->setEnabled(false);
    OkBtn = named(new QPushButton(this), "OkBtn");
    CancelBtn = named(new QPushButton(this), "CancelBtn");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(applyBtn);
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addLayout(buttons);

    systrayMenu = named(new QMenu(this), "systrayMenu");
    Restore1 = named(systrayMenu->addAction(QString()), "Restore1");
    Recent1 = named(systrayMenu->addAction(QString()), "Recent1");
    N1 = named(systrayMenu->addSeparator(), "N1");
    Exit1 = named(systrayMenu->addAction(QString()), "Exit1");
    connect(Restore1, &QAction::triggered, this, [this] { Restore1Click(); });
    connect(Recent1, &QAction::triggered, this, [this] { Recent1Click(); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });

    sortedMessageTimer = named(new QTimer(this), "sortedMessageTimer");
    sortedMessageTimer->setSingleShot(true);
    sortedMessageTimer->setInterval(3000);
    connect(sortedMessageTimer, &QTimer::timeout, this, [this] { showSortedMessage(); });

    setWindowIcon(FolderImages::application());
}

void TSettingForm::setCaptions() {
    QString title = loc("settings.title");
    QApplication::setApplicationName(title);
    setWindowTitle(title);
    pages->setTabText(0, loc("settings.tabProperties"));
    configPane->setTitle(loc("settings.paneConfiguration"));
    Label1->setText(loc("settings.currentState"));
    configButton->setText(loc("settings.configureButton"));
    variantsPane->setTitle(loc("settings.paneOptions"));
    jobvariant1Radio->setText(loc("settings.jobvariant1"));
    jobvariant2Radio->setText(loc("settings.jobvariant2"));
    storemail1Radio->setText(loc("settings.storeemail1"));
    storemail0Radio->setText(loc("settings.storeemail0"));
    jobvariant3Radio->setText(loc("settings.jobvariant3"));
    destFolderButton->setText(loc("settings.buttonDestFolder"));
    fromLabel->setText(loc("settings.email"));
    fromLabel->setToolTip(loc("settings.email.hint"));
    fromEdit->setToolTip(fromLabel->toolTip());
    GroupBox1->setTitle(loc("settings.paneGeneral"));
    enabledCheck->setText(loc("settings.enabled"));
    startAtLoginCheck->setText(loc("settings.startAtLogin"));
    notifySortedCheck->setText(loc("settings.notifySorted"));
    enabledAlwaysRadio->setText(loc("settings.useAlways"));
    enabledPeriodRadio->setText(loc("settings.usePeriod"));
    Label3->setText(loc("settings.usePeriod.from"));
    Label4->setText(loc("settings.usePeriod.to"));
    applyBtn->setText(loc("settings.buttonApply"));
    OkBtn->setText(loc("settings.buttonOk"));
    CancelBtn->setText(loc("settings.buttonCancel"));
    Restore1->setText(loc("systray.restore"));
    Recent1->setText(loc("systray.recent"));
    Exit1->setText(loc("systray.exit"));

    bool configurable = static_cast<bool>(configurationWindow());
    configButton->setEnabled(configurable);
    configButton->setToolTip(configurable ? QString() : QString(configMissingHint));

    // Fixed size: what the captions need, as a dialog frame of its own.
    layout()->activate();
    setFixedSize(sizeHint());
}

void TSettingForm::connectHandlers() {
    for (QRadioButton* radio : {jobvariant1Radio, jobvariant2Radio, jobvariant3Radio})
        connect(radio, &QRadioButton::clicked, this, [this] { jobvariant3RadioClick(); });
    connect(enabledCheck, &QCheckBox::clicked, this, [this] { enabledCheckClick(); });
    connect(startAtLoginCheck, &QCheckBox::clicked, this, [this] { setModified(true); });
    connect(notifySortedCheck, &QCheckBox::clicked, this, [this] { setModified(true); });
    for (QRadioButton* radio : {enabledAlwaysRadio, enabledPeriodRadio})
        connect(radio, &QRadioButton::clicked, this, [this] { enabledAlwaysRadioClick(); });
    for (QDateEdit* picker : {fromDatePicker, toDatePicker})
        connect(picker, &QDateEdit::dateChanged, this, [this] { fromDatePickerChange(); });
    for (QTimeEdit* picker : {fromTimePicker, toTimePicker})
        connect(picker, &QTimeEdit::timeChanged, this, [this] { fromDatePickerChange(); });
    connect(fromEdit, &QLineEdit::textChanged, this, [this] { fromEditChange(); });
    connect(applyBtn, &QPushButton::clicked, this, [this] { applyBtnClick(); });
    connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
    connect(configButton, &QPushButton::clicked, this, [this] { configButtonClick(); });
    connect(destFolderButton, &QPushButton::clicked, this, [this] { destFolderButtonClick(); });
}

void TSettingForm::setModified(bool flag) {
    if (flag == isModified)
        return;
    isModified = flag;
    applyBtn->setEnabled(flag);
}

void TSettingForm::loadSettings() {
    NetSettings::Values values = runningNet->settings().read();

    // Checking a radio runs its handler as the user's click would.
    QRadioButton* variant = values.jobVariant == 3   ? jobvariant3Radio
                            : values.jobVariant == 2 ? jobvariant2Radio
                                                     : jobvariant1Radio;
    variant->setChecked(true);
    jobvariant3RadioClick();
    (values.storeMail != 0 ? storemail1Radio : storemail0Radio)->setChecked(true);
    enabledCheck->setChecked(values.enabled != 0);
    (values.enabledPeriod != 0 ? enabledPeriodRadio : enabledAlwaysRadio)->setChecked(true);
    enabledAlwaysRadioClick();
    fromDatePicker->setDate(dateOfDateTime(values.periodFrom));
    fromTimePicker->setTime(timeOfDateTime(values.periodFrom));
    toDatePicker->setDate(dateOfDateTime(values.periodTo));
    toTimePicker->setTime(timeOfDateTime(values.periodTo));
    fromEdit->setText(QString::fromStdString(values.from));
    enabledCheckClick();
    startAtLoginCheck->setChecked(autostart.enabled());
    notifySorted = values.notifySorted != 0;
    notifySortedCheck->setChecked(notifySorted);
    setModified(false);
}

void TSettingForm::applySettings() {
    NetSettings::Values values;
    values.jobVariant = jobvariant1Radio->isChecked() ? 1 : jobvariant2Radio->isChecked() ? 2 : 3;
    values.storeMail = storemail1Radio->isChecked() ? 1 : 0;
    values.enabled = enabledCheck->isChecked() ? 1 : 0;
    values.enabledPeriod = enabledPeriodRadio->isChecked() ? 1 : 0;
    values.periodFrom = dateTimeOf(fromDatePicker->date(), fromTimePicker->time());
    values.periodTo = dateTimeOf(toDatePicker->date(), toTimePicker->time());
    values.from = fromEdit->text().toStdString();
    values.notifySorted = notifySortedCheck->isChecked() ? 1 : 0;

    // One batch: a failure cannot leave some of the values written and the others not.
    if (!runningNet->settings().write(values)) {
        // The changes are not saved: Apply stays available for another try.
        reportError("Error", "The settings could not be written to " + runningNet->getFileName());
        setModified(true);
        return;
    }
    notifySorted = values.notifySorted != 0;
    bool startAtLogin = startAtLoginCheck->isChecked();
    if (startAtLogin != autostart.enabled()) {
        std::string error;
        if (!(startAtLogin ? autostart.write(&error) : autostart.remove(&error))) {
            reportError("Error", "The autostart entry " + autostart.path() + " could not be " +
                                     (startAtLogin ? "written: " : "removed: ") + error);
            setModified(true);
            return;
        }
    }
    setModified(false);
}

void TSettingForm::updateState() {
    QString text;
    QColor colour;
    if (runningNet->isLearned()) {
        std::string date = formatLearnDate(runningNet->getLearnDate()).toStdString();
        text = QString::fromStdString(locText("settings.currentState.ok", date));
        colour = QColor(0, 0, 255);
    } else {
        text = loc("settings.currentState.no");
        colour = QColor(255, 0, 0);
    }
    stateLabel->setText(text);
    countsLabel->setText(QString::fromStdString(locText("settings.currentState.counts",
                                                        std::to_string(runningNet->outputCount()),
                                                        std::to_string(runningNet->fileCount()))));
    QPalette palette = stateLabel->palette();
    palette.setColor(QPalette::WindowText, colour);
    stateLabel->setPalette(palette);
    // The count first: the tooltip is cut at its end.
    if (!sinceOpened.empty()) {
        int count = sinceOpened.messages();
        std::string number = std::to_string(count);
        text = QString::fromStdString(count == 1 ? locText("systray.sortedCount.one")
                                                 : locText("systray.sortedCount", number)) +
               '\n' + text;
    }
    tray->setHint(text);
}

void TSettingForm::journalAppended(const std::vector<Journal::Entry>& entries) {
    std::vector<std::vector<std::string>> sorted;
    for (const Journal::Entry& entry : entries) {
        // Sorted: the message left the inbox for its folders.
        if (entry.action != "moved" && entry.action != "forwarded" && entry.action != "answered")
            continue;
        std::vector<std::string>& folders = sorted.emplace_back();
        for (const Journal::Folder& folder : entry.folders)
            folders.push_back(folder.name);
    }
    noteAllSorted(sorted);
    if (recentForm && recentForm->isVisible())
        recentForm->reload();
}

void TSettingForm::Recent1Click() {
    if (!journal)
        return;
    if (!recentForm)
        recentForm = new TRecentForm(
            *journal, connection.store.get(),
            [this] { return rootTargetFolderId(runningNet.get()); }, this);
    recentForm->show();
    recentForm->raise();
    recentForm->activateWindow();
}

void TSettingForm::noteSorted(const std::vector<std::string>& folders) {
    noteAllSorted({folders});
}

void TSettingForm::noteAllSorted(const std::vector<std::vector<std::string>>& messages) {
    if (isVisible() || messages.empty())
        return; // the person is looking at the program
    for (const std::vector<std::string>& folders : messages)
        sinceOpened.add(folders);
    updateState();
    if (!notifySorted)
        return;
    for (const std::vector<std::string>& folders : messages)
        sinceMessage.add(folders);
    if (!sortedMessageTimer->isActive())
        sortedMessageTimer->start();
}

void TSettingForm::showSortedMessage() {
    sortedMessageTimer->stop();
    if (sinceMessage.empty())
        return;
    int count = sinceMessage.messages();
    std::string folders = sinceMessage.folderSummary();
    std::string text = count == 1
                           ? locText("systray.sortedMessage.one", folders)
                           : locText("systray.sortedMessage", std::to_string(count), folders);
    sinceMessage.clear();
    tray->showMessage(loc("settings.title"), QString::fromStdString(text));
}

void TSettingForm::showMainWindow(bool shown) {
    mainFormShown = shown;
    if (!shown) {
        hide();
        return;
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TSettingForm::setConfigurationWindow(ConfigurationWindow open) {
    configurationWindow() = std::move(open);
}

void TSettingForm::configurationClosed(int result) {
    if (result == 1) {
        loadNet("Loading the net");
        loadSettings();
    }
    updateState();
}

void TSettingForm::loadNet(const char* context) {
    // Remembered before the read: a save that comes during it is loaded at the next check.
    netFile.loaded();
    try {
        runningNet->load();
    } catch (const ComException& e) {
        showComError(e, context);
    }
}

void TSettingForm::watchNetFile(const QString& path) {
    // A save replaces the file by a rename, which only its folder sees; a rewrite in place
    // only the file itself.
    netWatcher = new QFileSystemWatcher(this);
    netWatcher->addPath(QFileInfo(path).absolutePath());
    auto changed = [this, path] {
        if (QFileInfo::exists(path) && !netWatcher->files().contains(path))
            netWatcher->addPath(path);
        // A batch being sorted (with an error box open) keeps its net; the next one looks
        // again.
        if (handlingQueue || reloadingNet)
            return;
        // An error box about the file must not see another reload under it.
        reloadingNet = true;
        reloadNetIfChanged();
        reloadingNet = false;
    };
    connect(netWatcher, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(netWatcher, &QFileSystemWatcher::fileChanged, this, changed);
    changed();
}

bool TSettingForm::reloadNetIfChanged() {
    // What the open window saves is loaded when it closes with OK, or at the first
    // batch after it closed otherwise.
    if (netHolders > 0 || !netFile.changed())
        return false;
    debugLog("ZELKO: net file changed, loading it again");
    loadNet("Loading the net");
    // The settings the person is editing and has not applied yet stay in the controls.
    if (!isModified)
        loadSettings();
    updateState();
    return true;
}

void TSettingForm::jobvariant3RadioClick() {
    bool storeChoice = jobvariant2Radio->isChecked();
    storemail1Radio->setEnabled(storeChoice);
    storemail0Radio->setEnabled(storeChoice);
    setModified(true);
}

void TSettingForm::enabledCheckClick() {
    bool on = enabledCheck->isChecked();
    enabledAlwaysRadio->setEnabled(on);
    enabledPeriodRadio->setEnabled(on);
    enabledAlwaysRadioClick();
}

void TSettingForm::enabledAlwaysRadioClick() {
    bool period = enabledPeriodRadio->isChecked();
    for (QWidget* picker :
         {static_cast<QWidget*>(fromDatePicker), static_cast<QWidget*>(fromTimePicker),
          static_cast<QWidget*>(toDatePicker), static_cast<QWidget*>(toTimePicker)})
        picker->setEnabled(period);
    setModified(true);
}

void TSettingForm::fromDatePickerChange() {
    setModified(true);
}

void TSettingForm::fromEditChange() {
    setModified(true);
}

void TSettingForm::applyBtnClick() {
    applySettings();
}

void TSettingForm::OkBtnClick() {
    applySettings();
    showMainWindow(false);
}

void TSettingForm::CancelBtnClick() {
    showMainWindow(false);
}

void TSettingForm::configButtonClick() {
    const ConfigurationWindow& open = configurationWindow();
    if (!open)
        return;
    int result = 0;
    {
        NetHold hold(netHolders);
        result = open(this, runningNet.get(), connection.store.get());
    }
    configurationClosed(result);
}

void TSettingForm::destFolderButtonClick() {
    NetHold hold(netHolders);
    try {
        STOREFOLDERID current = static_cast<STOREFOLDERID>(toInt(runningNet->getDestFolder(), -1));
        STOREFOLDERID chosen = chooseFolder(this, locText("selectfolder.title.settings"),
                                            connection.store.get(), current);
        if (chosen == FOLDERID_INVALID)
            return;
        runningNet->setDestFolder(formatString("%d", static_cast<int>(chosen)));
    } catch (const ComException& e) {
        showComError(e, "Choosing the target folder");
    }
}

void TSettingForm::systrayLeftClick() {
    showMainWindow(!isVisible());
}

void TSettingForm::Restore1Click() {
    showMainWindow(true);
}

void TSettingForm::Exit1Click() {
    // exit(), not quit(): quit() asks the windows to close, and this one only hides. The
    // others are asked first, innermost first (a dialog over the configuration window
    // decides before the window does): one that keeps unsaved changes open keeps the
    // program too.
    for (QWidget* modal; (modal = QApplication::activeModalWidget()) && modal != this;)
        if (!modal->close() || modal->isVisible())
            return;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != this && window->isVisible() && !window->inherits("QMenu") && !window->close())
            return;
    QCoreApplication::exit(0);
}

void TSettingForm::wmZelkoShow() {
    debugLog("wmZelkoShow");
    showMainWindow(true);
}

void TSettingForm::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    notifications.push(message, wParam, lParam);
    // One event for what the store's dispatch hands over at once: by the time the loop
    // reaches it, a burst of arrivals is queued whole.
    if (handlingPosted)
        return;
    handlingPosted = true;
    QCoreApplication::postEvent(this, new StoreNotifyEvent);
}

bool TSettingForm::event(QEvent* event) {
    if (event->type() != StoreNotifyEvent::type())
        return QWidget::event(event);
    handlingPosted = false;
    handleQueued();
    return true;
}

void TSettingForm::handleQueued() {
    // An error box shown while a batch is sorted runs a loop of its own: what comes
    // meanwhile waits for the batch at hand to end.
    if (handlingQueue)
        return;
    handlingQueue = true;
    bool sorted = false;
    while (!sorted && !notifications.empty())
        sorted = notifications.takeNext(
            [this](const std::vector<MESSAGEID>& ids) { sortArrived(ids); },
            [this](const NotificationQueue::Notification& notification) {
                handleStoreNotify(notification.message, notification.param(), notification.lParam);
            });
    handlingQueue = false;
    if (!notifications.empty() && !handlingPosted) {
        handlingPosted = true;
        QCoreApplication::postEvent(this, new StoreNotifyEvent);
    }
}

void TSettingForm::sortArrived(const std::vector<MESSAGEID>& ids) {
    // A message that could not be handled has been shown ("Sorting a new message failed")
    // and stays in the inbox. The net is the one saved now: another program may have
    // learned it.
    try {
        processNewMessagesInBatches(SorterContext{connection.store.get(), connection.inbox.get(),
                                                  runningNet.get(), mark.get(), sentMail.get(),
                                                  journal.get()},
                                    ids, [this] { return reloadNetIfChanged(); });
    } catch (const std::exception& e) {
        // Nothing may leave an event handler: the messages stay where they are.
        reportError("Error", std::string("Sorting new messages failed: ") + e.what());
    }
    if (mark && mark->unsaved() && !markTimer->isActive())
        markTimer->start();
}

void TSettingForm::handleStoreNotify(std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam) {
    switch (message) {
    case WM_DELETEMSGS:
    case WM_MARKEDASREAD:
    case WM_MARKEDASUNREAD:
        break;
    default:
        return;
    }
    try {
        onStoreNotify(SorterContext{connection.store.get(), connection.inbox.get(),
                                    runningNet.get(), mark.get(), sentMail.get(), journal.get()},
                      message, wParam, lParam);
    } catch (const std::exception& e) {
        // Nothing may leave an event handler: the message stays where it is.
        reportError("Error", std::string("Sorting a new message failed: ") + e.what());
    }
}

void TSettingForm::closeEvent(QCloseEvent* event) {
    // The program lives in the tray: the close button hides the window as Cancel does, and
    // says once where the program went; "Exit" in the tray menu ends it.
    event->ignore();
    CancelBtnClick();
    NetFile file(runningNet->getFileName());
    if (file.readInt("settings", "tray.closeHintShown", 0) != 0)
        return;
    tray->showMessage(loc("settings.title"), loc("systray.keepsSorting"));
    // A command changing the net rewrites the whole file: the flag waits for a quiet moment
    // (the hint shows once more) rather than undoing that command's change.
    FileLock changeLock(runningNet->getFileName() + ".change-lock");
    if (changeLock.acquire(false))
        file.writeInt("settings", "tray.closeHintShown", 1);
}

void TSettingForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Opened: what was sorted meanwhile has been seen.
    if (sinceOpened.empty())
        return;
    sinceOpened.clear();
    updateState();
}

void TSettingForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        CancelBtnClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSettingForm::registerNotifications() {
    try {
        registered = registerFolderWindow(connection.inbox.get(), this);
    } catch (const ComException& e) {
        reportError("Error", comErrorText(e, "Watching the inbox for new mail"));
        return;
    }
    if (!registered)
        return;
    int handle = connection.store->NotificationHandle();
    if (handle < 0)
        return;
    notifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        HRESULT hr = connection.store->DispatchNotifications();
        if (FAILED(hr))
            debugLog("DispatchNotifications failed: %#x", static_cast<unsigned>(hr));
    });
}

void TSettingForm::unregisterNotifications() {
    delete notifier;
    notifier = nullptr;
    if (!registered)
        return;
    registered = false;
    try {
        unregisterFolderWindow(connection.inbox.get(), this);
    } catch (const ComException& e) {
        reportError("Error", comErrorText(e, "Stopping the watch on the inbox"));
    }
}
