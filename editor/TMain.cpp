#include "editor/TMain.h"

#include "util/ErrorReport.h"
#include "util/Exception.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/lock/FileLock.h"
#include "platform/profile/Loc.h"
#include "core/HeaderField.h"
#include "core/LearningSetCheck.h"
#include "core/MatchBudget.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"
#include "mail/StoreAccess.h"
#include "learning/TLearn.h"
#include "learning/TTest.h"
#include "editor/ConfigImages.h"
#include "editor/HighlightMatches.h"
#include "editor/RtfReader.h"
#include "editor/TInputForm.h"
#include "editor/TMemoForm.h"
#include "editor/TOutEditor.h"
#include "editor/TSuggestForm.h"
#include "editor/TSelectFolderForm.h"
#include "editor/ViewLookup.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTime>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace {

// The choices of "Where it looks", in the order shown; "header:" asks for the name.
const char* const fieldKeys[] = {"", "subject", "sender", "recipients", "list", "header:"};

// How a field key is shown: "Subject", or "Other field: X-Tag".
std::string fieldChoice(const std::string& key) {
    if (key.rfind("header:", 0) == 0 && key.size() > 7)
        return locText("main.field.header", key.substr(7));
    return locText(("main.field." + (key.empty()        ? std::string("body")
                                     : key == "header:" ? std::string("other")
                                                        : key))
                       .c_str());
}

// One store notification on its way from the store's dispatch to the window.
class StoreNotifyEvent : public QEvent {
public:
    explicit StoreNotifyEvent(const LearningSetFollower::Notification& notification)
        : QEvent(type()), notification(notification) {}

    static QEvent::Type type() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }

    LearningSetFollower::Notification notification;
};

QEvent::Type deferredUpdateType() {
    return static_cast<QEvent::Type>(QEvent::User + TMain::DeferredUpdateEvent - 1024);
}

QString loc(const char* key) {
    return QString::fromStdString(locText(key));
}

// A row of the learning set: the received column sorts by time, the others by text.
class FileRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == 2)
            return data(2, Qt::UserRole).toLongLong() < other.data(2, Qt::UserRole).toLongLong();
        return text(column).localeAwareCompare(other.text(column)) < 0;
    }
};

// Where the window's size and splitters are remembered, per user.
QSettings windowSettings() {
    return QSettings("brevalo", "windows");
}

// A row's data: its message id.
QVariant rowData(const FileData* entry) {
    return QString::fromStdString(entry->getId());
}

// The locale's long time format without the time zone: the stored times carry none.
QString longTimeFormat() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1String(" t"));
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

// Short date and long time, the time left out at exactly midnight.
QString receivedText(FILETIME received) {
    DateTimeParts parts = decodeDateTime(fileTimeToDateTime(received));
    QLocale locale = QLocale::system();
    QString text = locale.toString(QDate(parts.year, parts.month, parts.day), QLocale::ShortFormat);
    QTime time(parts.hour, parts.minute, parts.second);
    if (time == QTime(0, 0))
        return text;
    return text + ' ' + locale.toString(time, longTimeFormat());
}

QMessageBox::StandardButton ask(QWidget* owner, const std::string& text,
                                QMessageBox::StandardButtons buttons) {
    QMessageBox box(QMessageBox::Warning, loc("warn"), QString::fromStdString(text), buttons,
                    owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void setExpandedBelow(QTreeWidgetItem* node, bool expanded) {
    if (!node)
        return;
    node->setExpanded(expanded);
    for (int i = 0; i < node->childCount(); ++i)
        setExpandedBelow(node->child(i), expanded);
}

} // namespace

TMain::TMain(QWidget* owner) : QDialog(owner) {
    setObjectName("Main");
    createActions();
    buildLayout();
    // FormCreate: the modified-changed handler once, then the pane widths.
    modifiedChanged();
    configTabMarginPaneResize();
}

TMain::~TMain() {
    releaseLearnFolder();
}

int TMain::configure(QWidget* owner, Net* running, IStoreNamespace* store) {
    TMain window(owner);
    window.openNet(running, store);
    return window.exec();
}

QAction* TMain::makeAction(const QString& caption, const QString& hint, int image,
                           void (TMain::*command)()) {
    auto* action = new QAction(caption, this);
    if (!hint.isEmpty()) {
        action->setToolTip(hint);
        action->setStatusTip(hint);
    }
    if (image >= 0)
        action->setIcon(ConfigImages::action(image));
    connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
    return action;
}

void TMain::createActions() {
    InAdd = makeAction(loc("main.act.inAdd"), loc("main.act.inAdd.hint"), 2, &TMain::InAddExecute);
    InAddStimulation =
        makeAction(loc("main.act.inAddStimulation"), loc("main.act.inAddStimulation.hint"), 9,
                   &TMain::InAddStimulationExecute);
    InEdit =
        makeAction(loc("main.act.inEdit"), loc("main.act.inEdit.hint"), 3, &TMain::InEditExecute);
    InDel = makeAction(loc("main.act.inDel"), loc("main.act.inDel.hint"), 4, &TMain::InDelExecute);
    InField = makeAction(loc("main.act.inField"), loc("main.act.inField.hint"), -1,
                         &TMain::InFieldExecute);
    InSuggest = makeAction(loc("main.act.inSuggest"), loc("main.act.inSuggest.hint"), -1,
                           &TMain::InSuggestExecute);
    InExpand = makeAction(loc("main.act.inExpand"), loc("main.act.inExpand.hint"), 12,
                          &TMain::InExpandExecute);
    InColapse = makeAction(loc("main.act.inColapse"), loc("main.act.inColapse.hint"), 14,
                           &TMain::InColapseExecute);
    InExpandAll = makeAction(loc("main.act.inExpandAll"), loc("main.act.inExpandAll.hint"), 13,
                             &TMain::InExpandAllExecute);
    InColapseAll = makeAction(loc("main.act.inColapseAll"), loc("main.act.inColapseAll.hint"), 15,
                              &TMain::InColapseAllExecute);
    OutAdd = makeAction("Add", loc("main.act.outAdd.hint"), 5, &TMain::OutAddExecute);
    OutEdit = makeAction("Edit", loc("main.act.outEdit.hint"), 6, &TMain::OutEditExecute);
    OutDel = makeAction("Delete", loc("main.act.outDel.hint"), 7, &TMain::OutDelExecute);
    OutCatSel =
        makeAction("Assign email", loc("main.act.outCatSel.hint"), 10, &TMain::OutCatSelExecute);
    FileSelectFolder = makeAction("Select learn folder", loc("main.act.fileSelectFolder.hint"), 11,
                                  &TMain::FileSelectFolderExecute);
    FileSave = makeAction("Save", "Save modified net", 8, &TMain::FileSaveExecute);
    FileExit = makeAction("Exit", QString(), -1, &TMain::FileExitExecute);
    NetLearn = makeAction(loc("main.act.netLearn"), loc("main.act.netLearn.hint"), 0,
                          &TMain::NetLearnExecute);
    NetTest = makeAction(loc("main.act.netTest"), loc("main.act.netTest.hint"), 1,
                         &TMain::NetTestExecute);
    NetTest->setEnabled(false);
}

void TMain::buildLayout() {
    setWindowTitle(loc("main.title"));
    setMinimumSize(756, 673);
    // Wider than the least it needs: the learning set's subjects want the room.
    resize(940, 673);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);
    pages = new QTabWidget(this);
    ConfigTab = new QWidget(pages);
    pages->addTab(ConfigTab, loc("main.tabConfiguration"));
    layout->addWidget(pages, 1);

    auto* tabLayout = new QVBoxLayout(ConfigTab);
    contentSplitter = new QSplitter(Qt::Vertical, ConfigTab);
    contentSplitter->setChildrenCollapsible(false);
    paneSplitter = new QSplitter(Qt::Horizontal, contentSplitter);
    paneSplitter->setChildrenCollapsible(false);
    paneSplitter->installEventFilter(this);
    connect(paneSplitter, &QSplitter::splitterMoved, this, [this] {
        QList<int> sizes = paneSplitter->sizes();
        sidePanes = {sizes.value(0), sizes.value(2)};
    });
    contentSplitter->addWidget(paneSplitter);
    tabLayout->addWidget(contentSplitter, 1);

    auto makePane = [this](const QString& title, QToolBar*& toolbar) {
        auto* pane = new QGroupBox(title, paneSplitter);
        auto* paneLayout = new QVBoxLayout(pane);
        paneLayout->setContentsMargins(4, 4, 4, 4);
        toolbar = new QToolBar(pane);
        toolbar->setIconSize(QSize(24, 24));
        toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        paneLayout->addWidget(toolbar);
        paneSplitter->addWidget(pane);
        return pane;
    };

    inPane = makePane(loc("main.paneIn"), inToolbar);
    inToolbar->addActions({InAdd, InAddStimulation, InEdit, InDel});
    inTree = new QTreeWidget(inPane);
    inTree->setHeaderHidden(true);
    inTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    inTree->setSelectionMode(QAbstractItemView::SingleSelection);
    inTree->setContextMenuPolicy(Qt::CustomContextMenu);
    inPane->layout()->addWidget(inTree);
    // Under the tree, with its name: the pane's toolbar has no room left for it.
    suggestBtn = new QPushButton(InSuggest->text(), inPane);
    suggestBtn->setObjectName("suggestBtn");
    suggestBtn->setToolTip(InSuggest->toolTip());
    suggestBtn->setAutoDefault(false);
    inPane->layout()->addWidget(suggestBtn);
    connect(suggestBtn, &QPushButton::clicked, InSuggest, &QAction::trigger);
    connect(InSuggest, &QAction::changed, suggestBtn,
            [this] { suggestBtn->setEnabled(InSuggest->isEnabled()); });
    suggestBtn->setEnabled(InSuggest->isEnabled());

    filePane = makePane(loc("main.paneFile"), fileToolbar);
    fileToolbar->addAction(FileSelectFolder);
    fileList = new QTreeWidget(filePane);
    fileList->setColumnCount(3);
    fileList->setHeaderLabels(
        {loc("main.file.name"), loc("main.file.from"), loc("main.file.received")});
    fileList->setRootIsDecorated(false);
    fileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    // The subject takes what the sender (cut to a share of the list) and the date (as wide
    // as it needs) leave; see fitFileColumns.
    fileList->header()->setStretchLastSection(false);
    fileList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    fileList->header()->setSectionResizeMode(1, QHeaderView::Interactive);
    fileList->header()->setSectionResizeMode(2, QHeaderView::Interactive);
    fileList->setSortingEnabled(true);
    fileList->sortByColumn(-1, Qt::AscendingOrder); // the learning folder's order until asked
    fileList->viewport()->installEventFilter(this);
    // Sorting moves the rows, not the selection: the message shown is the first selected
    // row as the list now stands.
    connect(fileList->header(), &QHeaderView::sortIndicatorChanged, this,
            [this] { showFileContent(); });
    filePane->layout()->addWidget(fileList);

    outPane = makePane(loc("main.paneOut"), outToolbar);
    outToolbar->addActions({OutAdd, OutEdit, OutDel, OutCatSel});
    outTree = new QTreeWidget(outPane);
    outTree->setHeaderHidden(true);
    outTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    outTree->setSelectionMode(QAbstractItemView::SingleSelection);
    // Right clicks assign: the tree shows no menu.
    outTree->setContextMenuPolicy(Qt::CustomContextMenu);
    outTree->viewport()->installEventFilter(this);
    outPane->layout()->addWidget(outTree);

    fileContentPane = new QGroupBox(loc("main.fileContent"), contentSplitter);
    auto* contentLayout = new QVBoxLayout(fileContentPane);
    contentLayout->setContentsMargins(4, 4, 4, 4);
    fileContentEdit = new QTextEdit(fileContentPane);
    fileContentEdit->setReadOnly(true);
    fileContentEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    contentLayout->addWidget(fileContentEdit);
    contentSplitter->addWidget(fileContentPane);
    contentSplitter->setSizes({330, 200});
    restoreLayout();

    auto* runRow = new QHBoxLayout;
    runRow->addStretch(1);
    learnBtn = new QPushButton(NetLearn->text(), ConfigTab);
    learnBtn->setIcon(NetLearn->icon());
    learnBtn->setToolTip(NetLearn->toolTip());
    learnBtn->setStatusTip(NetLearn->statusTip());
    testBtn = new QPushButton(NetTest->text(), ConfigTab);
    testBtn->setIcon(NetTest->icon());
    testBtn->setToolTip(NetTest->toolTip());
    testBtn->setStatusTip(NetTest->statusTip());
    runRow->addWidget(learnBtn);
    runRow->addWidget(testBtn);
    tabLayout->addLayout(runRow);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    OkBtn = new QPushButton(loc("main.buttonOk"), this);
    CancelBtn = new QPushButton(loc("main.buttonCancel"), this);
    OkBtn->setAutoDefault(false);
    CancelBtn->setAutoDefault(false);
    learnBtn->setAutoDefault(false);
    testBtn->setAutoDefault(false);
    buttonRow->addWidget(OkBtn);
    buttonRow->addWidget(CancelBtn);
    layout->addLayout(buttonRow);

    statusBar = new QStatusBar(this);
    statusBar->setSizeGripEnabled(false);
    layout->addWidget(statusBar);

    // A toolbar leaves its buttons out of the tab order: every command is to be reached
    // from the keyboard, so they take the focus like any button.
    for (QToolBar* toolbar : {inToolbar, fileToolbar, outToolbar})
        for (QAction* action : toolbar->actions())
            if (QWidget* button = toolbar->widgetForAction(action))
                button->setFocusPolicy(Qt::TabFocus);
    for (QTreeWidget* tree : {inTree, outTree, fileList})
        tree->installEventFilter(this);

    inTreePopup = new QMenu(this);
    inTreePopup->addActions({InAdd, InAddStimulation, InEdit, InField, InDel});
    inTreePopup->addSeparator();
    inTreePopup->addActions({InExpandAll, InColapseAll, InExpand, InColapse});

    // Buttons follow their actions' enabled state.
    connect(NetLearn, &QAction::changed, learnBtn,
            [this] { learnBtn->setEnabled(NetLearn->isEnabled()); });
    connect(NetTest, &QAction::changed, testBtn,
            [this] { testBtn->setEnabled(NetTest->isEnabled()); });
    connect(learnBtn, &QPushButton::clicked, NetLearn, &QAction::trigger);
    connect(testBtn, &QPushButton::clicked, NetTest, &QAction::trigger);
    learnBtn->setEnabled(NetLearn->isEnabled());
    testBtn->setEnabled(NetTest->isEnabled());
    connect(OkBtn, &QPushButton::clicked, this, &TMain::OkBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TMain::reject);

    connect(inTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* node) { inTreeChange(node); });
    connect(outTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* node) { outTreeChange(node); });
    connect(fileList, &QTreeWidget::itemSelectionChanged, this, &TMain::fileListSelectItem);
    connect(inTree, &QTreeWidget::itemDoubleClicked, InEdit, &QAction::trigger);
    connect(outTree, &QTreeWidget::itemDoubleClicked, OutEdit, &QAction::trigger);
    connect(fileList, &QTreeWidget::itemDoubleClicked, NetTest, &QAction::trigger);
    connect(inTree, &QTreeWidget::customContextMenuRequested, this, &TMain::inTreeContextPopup);
}

// --- State

void TMain::setModified(bool value) {
    if (value == isModified)
        return;
    isModified = value;
    modifiedChanged();
}

void TMain::modifiedChanged() {
    FileSave->setEnabled(isModified);
    updateActions();
}

void TMain::updateActions() {
    QTreeWidgetItem* inNode = inTree->currentItem();
    int inLevel = inNode ? levelOf(inNode) : -1;
    InAddStimulation->setEnabled(inLevel == 1);
    InEdit->setEnabled(inLevel == 1 || inLevel == 2);
    InField->setEnabled(inLevel == 1);
    InDel->setEnabled(inLevel == 1 || inLevel == 2);
    QTreeWidgetItem* outNode = outTree->currentItem();
    bool outFolder = outNode && levelOf(outNode) == 1;
    OutEdit->setEnabled(outFolder);
    OutDel->setEnabled(outFolder);
    OutCatSel->setEnabled(firstSelectedRow() != nullptr && outCurrent != nullptr);
    NetLearn->setEnabled(fileList->topLevelItemCount() > 0);
    InSuggest->setEnabled(fileList->topLevelItemCount() > 0 && net && net->outputCount() > 0);
}

void TMain::updateActionsDeferred() {
    QCoreApplication::postEvent(this, new QEvent(deferredUpdateType()));
}

int TMain::imageOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, ImageRole).toInt() : -1;
}

int TMain::levelOf(const QTreeWidgetItem* item) {
    int level = 0;
    for (const QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent())
        ++level;
    return level;
}

NeuronIn* TMain::neuronOfInNode(const QTreeWidgetItem* node) const {
    if (!node || !net || levelOf(node) != 1)
        return nullptr;
    return net->getInput(node->parent()->indexOfChild(const_cast<QTreeWidgetItem*>(node))).get();
}

NeuronOut* TMain::neuronOfOutNode(const QTreeWidgetItem* node) const {
    if (!node || !net || levelOf(node) != 1)
        return nullptr;
    return net->getOutput(node->parent()->indexOfChild(const_cast<QTreeWidgetItem*>(node))).get();
}

FileData* TMain::entryOf(const QTreeWidgetItem* row) const {
    if (!row || !net)
        return nullptr;
    return net->getFile(net->findFile(row->data(0, Qt::UserRole).toString().toStdString())).get();
}

FileData* TMain::entryOfRow(int row) const {
    return entryOf(fileList->topLevelItem(row));
}

void TMain::setImage(QTreeWidgetItem* item, int image) {
    item->setData(0, ImageRole, image);
    item->setIcon(0, ConfigImages::neuron(image));
}

QTreeWidgetItem* TMain::firstSelectedRow() const {
    for (int i = 0; i < fileList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = fileList->topLevelItem(i);
        if (row->isSelected())
            return row;
    }
    return nullptr;
}

std::string TMain::contentPath(const FileData* entry) const {
    std::string folderId;
    try {
        folderId = net->getLearnFolder();
    } catch (const ComException& e) {
        showComError(e, "Finding the learning folder");
    }
    return folderId + "/" + entry->getId();
}

// --- Opening and filling

void TMain::openNet(Net* running, IStoreNamespace* storeOfRunning) {
    mailStore = storeOfRunning;
    net = ref_ptr<Net>(new Net(running->getFileName(), running->getMessages()));
    follower.follow(net);
    try {
        net->load();
    } catch (const ComException& e) {
        showComError(e, "Loading the net");
    }
    fillInTree();
    fillOutTree();
    int id = -1;
    try {
        id = toInt(net->getLearnFolder(), -1);
    } catch (const ComException& e) {
        showComError(e, "Finding the learning folder");
    }
    openLearnFolder(id, false);
    updateActions();
    NetTest->setEnabled(net->isLearned());
}

void TMain::fillInTree() {
    inTree->clear();
    inCurrent = nullptr;
    auto* root = new QTreeWidgetItem(inTree);
    root->setText(0, loc("main.treeIn.root"));
    setImage(root, 0);
    for (int i = 0; i < net->inputCount(); ++i)
        updateInNode(new QTreeWidgetItem(root), net->getInput(i).get());
    root->setExpanded(true);
    inTree->setCurrentItem(root);
}

void TMain::fillOutTree() {
    outTree->clear();
    outCurrent = nullptr;
    auto* root = new QTreeWidgetItem(outTree);
    root->setText(0, loc("main.treeOut.root"));
    setImage(root, 0);
    for (int i = 0; i < net->outputCount(); ++i)
        updateOutNode(new QTreeWidgetItem(root), net->getOutput(i).get());
    root->setExpanded(true);
    outTree->setCurrentItem(root);
}

void TMain::updateInNode(QTreeWidgetItem* node, NeuronIn* neuron) {
    node->setText(0, QString::fromStdString(neuron->getName()));
    node->setToolTip(0, QString::fromStdString(
                            locText("main.act.inField.shown", fieldChoice(neuron->getField()))));
    setImage(node, 1);
    const std::vector<std::string>& regexes = neuron->getRegexes();
    for (std::size_t i = 0; i < regexes.size(); ++i) {
        QTreeWidgetItem* child = static_cast<int>(i) < node->childCount()
                                     ? node->child(static_cast<int>(i))
                                     : new QTreeWidgetItem(node);
        child->setText(0, QString::fromStdString(regexes[i]));
        setImage(child, 2);
    }
    while (node->childCount() > static_cast<int>(regexes.size())) {
        QTreeWidgetItem* extra = node->child(node->childCount() - 1);
        if (extra == inCurrent)
            inCurrent = nullptr;
        delete extra;
    }
}

void TMain::updateOutNode(QTreeWidgetItem* node, NeuronOut* target) {
    node->setText(0, QString::fromStdString(target->getName()));
    setImage(node, 3);
    if (shown)
        markTargets(shown.get(), 4);
}

void TMain::markTargets(FileData* entry, int image) {
    if (!entry)
        return;
    QTreeWidgetItem* root = outTree->topLevelItem(0);
    for (int i = 0; i < entry->targetCount(); ++i) {
        // A folder removed from the net since the assignment has no node any more.
        int index = net->indexOfOutput(entry->getTarget(i).get());
        if (root && index >= 0 && index < root->childCount())
            setImage(root->child(index), image);
    }
}

void TMain::fillFileList() {
    fileList->clear();
    // Sorted once when all are in, and the columns fitted once: not at every row.
    fileList->setSortingEnabled(false);
    for (int i = 0; i < net->fileCount(); ++i)
        addFileRow(net->getFile(i).get());
    fileList->setSortingEnabled(true);
    fitFileColumns();
    updateActions();
}

void TMain::addFileRow(FileData* entry) {
    auto* row = new FileRow;
    row->setText(0, QString::fromStdString(entry->getName()));
    row->setText(1, QString::fromStdString(entry->getFrom()));
    row->setText(2, receivedText(entry->getReceived()));
    FILETIME received = entry->getReceived();
    row->setData(
        2, Qt::UserRole,
        static_cast<qlonglong>((static_cast<std::uint64_t>(received.dwHighDateTime) << 32) |
                               received.dwLowDateTime));
    setImage(row, entry->targetCount() > 0 ? 5 : 6);
    row->setData(0, Qt::UserRole, rowData(entry));
    fileList->addTopLevelItem(row);
}

void TMain::fitFileColumns() {
    int room = fileList->viewport()->width();
    const QAbstractItemView* view = fileList;
    int date = std::max(view->sizeHintForColumn(2), fileList->header()->sectionSizeHint(2));
    int from = std::max(view->sizeHintForColumn(1), fileList->header()->sectionSizeHint(1));
    fileList->header()->resizeSection(2, date);
    fileList->header()->resizeSection(1, std::min(from, std::max(60, room / 5)));
}

void TMain::restoreLayout() {
    QSettings settings = windowSettings();
    settings.beginGroup("configuration");
    if (!restoreGeometry(settings.value("geometry").toByteArray()))
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    contentSplitter->restoreState(settings.value("contentSplitter").toByteArray());
    for (const QVariant& width : settings.value("sidePanes").toList())
        sidePanes.push_back(width.toInt());
    if (sidePanes.size() != 2)
        sidePanes.clear();
}

void TMain::saveLayout() {
    QList<int> sizes = paneSplitter->sizes();
    QSettings settings = windowSettings();
    settings.beginGroup("configuration");
    settings.setValue("geometry", saveGeometry());
    settings.setValue("contentSplitter", contentSplitter->saveState());
    settings.setValue("sidePanes", QVariantList{sizes.value(0), sizes.value(2)});
}

void TMain::showFileContent() {
    // A row whose entry has just left the learning set shows nothing, as no row does.
    FileData* entry = entryOf(firstSelectedRow());
    if (!entry) {
        markTargets(shown.get(), 3);
        fileContentEdit->clear();
        shown = nullptr;
        return;
    }
    if (entry != shown.get())
        markTargets(shown.get(), 3);
    shown = ref_ptr<FileData>(entry);
    markTargets(entry, 4);
    std::string text = net->getFileContent(contentPath(entry));

    REs expressions;
    auto addAll = [this, &expressions](const QTreeWidgetItem* neuronNode) {
        NeuronIn* neuron = neuronOfInNode(neuronNode);
        // The text shown is the body: a stimulation that looks at a header field lights
        // nothing in it.
        if (!neuron || !neuron->getField().empty())
            return;
        REsPtr compiled = neuron->getREs();
        if (compiled)
            expressions.insert(expressions.end(), compiled->begin(), compiled->end());
    };
    QTreeWidgetItem* node = inTree->currentItem();
    int level = node ? levelOf(node) : -1;
    if (level == 2) {
        NeuronIn* neuron = neuronOfInNode(node->parent());
        REsPtr compiled = neuron ? neuron->getREs() : REsPtr();
        int index = node->parent()->indexOfChild(node);
        if (compiled && index < static_cast<int>(compiled->size()))
            expressions.push_back((*compiled)[index]);
    } else if (level == 1) {
        addAll(node);
    } else if (level == 0) {
        for (int i = 0; i < node->childCount(); ++i)
            addAll(node->child(i));
    }
    MatchBudget budget(entry->getName());
    readRtf(fileContentEdit->document(), highlightMatches(text, expressions, budget));
}

void TMain::releaseLearnFolder() {
    if (!folder)
        return;
    if (registered) {
        try {
            unregisterFolderWindow(folder.get(), this);
        } catch (const ComException&) {
            // Nothing to do about it: the folder is let go all the same.
        }
    }
    registered = false;
    folder = com_ptr<IStoreFolder>();
}

void TMain::openLearnFolder(int id, bool store) {
    releaseLearnFolder();
    if (id != -1 && net && mailStore) {
        try {
            folder = openFolder(mailStore, static_cast<STOREFOLDERID>(id));
            if (folder)
                registered = registerFolderWindow(folder.get(), this);
        } catch (const ComException& e) {
            debugLog("openLearnFolder %d: %s", id, e.what());
        }
    }
    if (store && net) {
        net->setLearnFolder(id == -1 ? std::string() : formatString("%ld", static_cast<long>(id)));
        try {
            net->loadLearningSet();
        } catch (const ComException& e) {
            showComError(e, "Reading the learning folder");
        }
    }
    updateActions();
    if (net)
        fillFileList();
}

bool TMain::checkFileAssignments(int* leaveOut) {
    if (leaveOut)
        *leaveOut = 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    LearningSetCheck check;
    try {
        check = checkLearningSet(*net);
    } catch (const ComException& e) {
        QApplication::restoreOverrideCursor();
        showComError(e, "Checking the learning messages");
        return false;
    }
    QApplication::restoreOverrideCursor();
    checkedInputs = std::move(check.read);
    if (check.passed())
        return true;
    // Words that tell the folders apart are the way out for messages no stimulation matches,
    // or learning without them.
    if (check.noStimulation.empty()) {
        showText(this, check.report, "Error");
        return false;
    }
    TMemoForm form(this);
    form.Memo1->setPlainText(textWithLineFeeds(check.report));
    form.setWindowTitle("Error");
    form.addButton(QString::fromStdString(locText("main.act.inSuggest")), 3)
        ->setObjectName("OfferBtn");
    if (leaveOut && check.passesLeavingOutUnmatched())
        form.addButton(QString::fromStdString(locText("main.learnWithout")), 4)
            ->setObjectName("learnWithoutBtn");
    int result = form.exec();
    if (result == 3)
        InSuggestExecute();
    if (result != 4)
        return false;
    *leaveOut = static_cast<int>(check.noStimulation.size());
    return true;
}

// --- Commands

void TMain::InSuggestExecute() {
    if (suggestStimulations(this, *net) == 0)
        return;
    fillInTree();
    setModified(true);
}

void TMain::InAddExecute() {
    std::string name =
        inputQuery(locText("main.act.inAdd.title"), locText("main.act.inAdd.label"), "");
    if (name.empty())
        return;
    ref_ptr<NeuronIn> neuron(new NeuronIn(name));
    net->addInput(neuron.get());
    QTreeWidgetItem* root = inTree->topLevelItem(0);
    auto* node = new QTreeWidgetItem(root);
    updateInNode(node, neuron.get());
    inTree->setCurrentItem(node);
    setModified(true);
}

void TMain::InAddStimulationExecute() {
    if (!inCurrent || levelOf(inCurrent) != 1)
        return;
    QTreeWidgetItem* node = inCurrent;
    std::string text = inputQuery(locText("main.act.inAddStimulation.title"),
                                  locText("main.act.inAddStimulation.label"), "");
    if (text.empty())
        return;
    NeuronIn* neuron = neuronOfInNode(node);
    neuron->addRegex(text);
    updateInNode(node, neuron);
    node->setExpanded(true);
    inTree->setCurrentItem(node);
    setModified(true);
}

void TMain::InEditExecute() {
    if (!inCurrent)
        return;
    QTreeWidgetItem* node = inCurrent;
    int level = levelOf(node);
    if (level == 1) {
        NeuronIn* neuron = neuronOfInNode(node);
        std::string name = inputQuery(locText("main.act.inEdit.title"),
                                      locText("main.act.inEdit.label"), neuron->getName());
        if (name.empty())
            return;
        neuron->setName(name);
        updateInNode(node, neuron);
        setModified(true);
        return;
    }
    if (level != 2)
        return;
    QTreeWidgetItem* parent = node->parent();
    NeuronIn* neuron = neuronOfInNode(parent);
    int index = parent->indexOfChild(node);
    std::string text =
        inputQuery(locText("main.act.inEditStimulation.title"),
                   locText("main.act.inEditStimulation.label"), neuron->getRegex(index));
    if (text.empty())
        return;
    neuron->setRegex(index, text);
    updateInNode(parent, neuron);
    showFileContent();
    setModified(true);
}

void TMain::InFieldExecute() {
    if (!inCurrent || levelOf(inCurrent) != 1)
        return;
    QTreeWidgetItem* node = inCurrent;
    NeuronIn* neuron = neuronOfInNode(node);
    QStringList choices;
    for (const char* key : fieldKeys)
        choices << QString::fromStdString(fieldChoice(key));
    std::string now = neuron->getField();
    int current = static_cast<int>(std::size(fieldKeys)) - 1;
    for (int i = 0; i < current; ++i)
        if (now == fieldKeys[i])
            current = i;
    bool ok = false;
    QString chosen =
        QInputDialog::getItem(this, loc("main.act.inField.title"), loc("main.act.inField.label"),
                              choices, current, false, &ok);
    if (!ok)
        return;
    std::string key = fieldKeys[choices.indexOf(chosen)];
    if (key == "header:") {
        std::string name = now.rfind("header:", 0) == 0 ? now.substr(7) : std::string();
        name =
            inputQuery(locText("main.act.inField.title"), locText("main.act.inField.name"), name);
        bool valid = false;
        key = HeaderField::normalize("header:" + name, &valid);
        if (name.empty() || !valid)
            return;
    }
    if (key == now)
        return;
    neuron->setField(key);
    updateInNode(node, neuron);
    showFileContent();
    setModified(true);
}

void TMain::InDelExecute() {
    if (!inCurrent)
        return;
    QTreeWidgetItem* node = inCurrent;
    int level = levelOf(node);
    if (level > 0) {
        std::string text = node->text(0).toStdString();
        std::string warning = level == 1 ? locText("main.act.inDel.warn", text)
                                         : locText("main.act.inDelStimulation.warn", text);
        if (ask(this, warning, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok) {
            if (level == 1) {
                int index = net->indexOfInput(neuronOfInNode(node));
                if (index >= 0) {
                    net->removeInput(index);
                    inCurrent = nullptr;
                    delete node;
                }
            } else {
                QTreeWidgetItem* parent = node->parent();
                neuronOfInNode(parent)->removeRegex(parent->indexOfChild(node));
                inCurrent = nullptr;
                delete node;
            }
            if (!inCurrent)
                inTreeChange(inTree->currentItem());
        }
    }
    setModified(true);
}

void TMain::InExpandExecute() {
    setExpandedBelow(inCurrent, true);
}

void TMain::InColapseExecute() {
    setExpandedBelow(inCurrent, false);
}

void TMain::InExpandAllExecute() {
    setExpandedBelow(inTree->topLevelItem(0), true);
}

void TMain::InColapseAllExecute() {
    setExpandedBelow(inTree->topLevelItem(0), false);
}

void TMain::OutAddExecute() {
    ref_ptr<NeuronOut> target(new NeuronOut(""));
    int result = 2;
    {
        TOutEditor editor(this);
        editor.setWindowTitle(loc("outeditor.title.add"));
        editor.setNeuron(target.get());
        result = editor.exec();
        editor.setNeuron(nullptr);
    }
    if (result == 2)
        return;
    net->addOutput(target.get());
    auto* node = new QTreeWidgetItem(outTree->topLevelItem(0));
    updateOutNode(node, target.get());
    outTree->setCurrentItem(node);
    setModified(true);
}

void TMain::OutEditExecute() {
    if (!outCurrent || levelOf(outCurrent) != 1)
        return;
    QTreeWidgetItem* node = outCurrent;
    NeuronOut* target = neuronOfOutNode(node);
    int result = 2;
    {
        TOutEditor editor(this);
        editor.setWindowTitle(loc("outeditor.title.edit"));
        editor.setNeuron(target);
        result = editor.exec();
        editor.setNeuron(nullptr);
    }
    if (result == 2)
        return;
    updateOutNode(node, target);
    setModified(true);
}

void TMain::OutDelExecute() {
    if (!outCurrent || levelOf(outCurrent) != 1)
        return;
    QTreeWidgetItem* node = outCurrent;
    std::string warning = locText("main.act.outDel.warn", node->text(0).toStdString());
    if (ask(this, warning, QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    int index = net->indexOfOutput(neuronOfOutNode(node));
    if (index < 0)
        return;
    net->removeOutput(index);
    outCurrent = nullptr;
    delete node;
    if (!outCurrent)
        outTreeChange(outTree->currentItem());
    setModified(true);
}

void TMain::OutCatSelExecute() {
    if (!outCurrent || levelOf(outCurrent) != 1 || !firstSelectedRow())
        return;
    QTreeWidgetItem* node = outCurrent;
    NeuronOut* target = neuronOfOutNode(node);
    for (int i = 0; i < fileList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = fileList->topLevelItem(i);
        if (!row->isSelected())
            continue;
        FileData* entry = entryOf(row);
        if (!entry)
            continue;
        int index = entry->indexOfTarget(target);
        if (index >= 0) {
            entry->removeTarget(index);
            setImage(node, 3);
        } else {
            entry->addTarget(target);
            setImage(node, 4);
        }
        setImage(row, entry->targetCount() > 0 ? 5 : 6);
        setModified(true);
    }
}

void TMain::FileSelectFolderExecute() {
    try {
        int current = toInt(net->getLearnFolder(), -1);
        STOREFOLDERID chosen = chooseFolder(this, locText("selectfolder.title.main"), mailStore,
                                            static_cast<STOREFOLDERID>(current));
        if (chosen == FOLDERID_INVALID)
            return;
        openLearnFolder(static_cast<int>(chosen), true);
        setModified(true);
    } catch (const ComException& e) {
        showComError(e, "Choosing the learning folder");
    }
}

void TMain::FileSaveExecute() {
    // A command changing the net (brevalo-cli learn, assign, import) writes the whole file
    // when it ends: saving now would be lost under it, or undo it.
    FileLock changeLock(net ? net->getFileName() + ".change-lock" : std::string());
    if (net && !changeLock.acquire(false)) {
        reportError("Error", changeLock.error().empty()
                                 ? "The network was not saved: a brevalo-cli command is changing " +
                                       net->getFileName() + ". Save again once it has ended."
                                 : "The network was not saved: " + changeLock.error());
        return;
    }
    if (net && !net->save()) {
        // The file keeps its old content: the changes stay unsaved. Commands need not wait
        // for the person to read why.
        changeLock.release();
        reportError("Error", "The network could not be saved to " + net->getFileName());
        return;
    }
    setModified(false);
}

void TMain::FileExitExecute() {
    close();
}

void TMain::NetLearnExecute() {
    int leaveOut = 0;
    if (!checkFileAssignments(&leaveOut))
        return;
    std::vector<LearningSetFollower::Notification> waiting;
    {
        // The inputs are only good for this run: the learning set may change afterwards.
        struct Forget {
            CheckedInputs& read;
            ~Forget() { read = CheckedInputs(); }
        } forget{checkedInputs};
        TLearn dialog(this);
        dialog.setCheckedInputs(&checkedInputs);
        if (dialog.setNet(net)) {
            if (leaveOut > 0)
                dialog.learnLeavingOutUnmatched(leaveOut);
            // Notifications that arrive meanwhile would change the learning set under the
            // run: they wait until the dialog is gone.
            follower.holdBack();
            int result = dialog.exec();
            waiting = follower.release();
            if (result == 1)
                setModified(true);
        }
    }
    NetTest->setEnabled(net->isLearned());
    for (const LearningSetFollower::Notification& notification : waiting)
        showChange(follower.receive(notification));
}

void TMain::NetTestExecute() {
    std::string text;
    if (FileData* entry = entryOf(firstSelectedRow()))
        text = net->getFileInput(contentPath(entry));
    TTest dialog(this);
    dialog.setNet(net);
    dialog.setText(text);
    dialog.exec();
    dialog.setNet(ref_ptr<Net>());
    dialog.setText(text);
}

void TMain::OkBtnClick() {
    FileSave->trigger();
    if (isModified)
        return; // not saved: the window stays open so nothing is lost
    accept();
}

// --- Handlers

void TMain::inTreeChange(QTreeWidgetItem* node) {
    updateActions();
    inCurrent = node;
    showFileContent();
}

void TMain::outTreeChange(QTreeWidgetItem* node) {
    updateActions();
    outCurrent = node;
}

void TMain::fileListSelectItem() {
    updateActions();
    showFileContent();
}

void TMain::inTreeContextPopup(const QPoint& position) {
    QTreeWidgetItem* node = inTree->itemAt(position);
    if (!node)
        return;
    inTree->setCurrentItem(node);
    inTreeChange(node);
    inTreePopup->exec(inTree->viewport()->mapToGlobal(position));
    updateActionsDeferred();
}

void TMain::outTreeMouseDown(QTreeWidgetItem* node) {
    if (!node)
        return;
    QTreeWidgetItem* previous = outCurrent;
    outCurrent = node;
    updateActions();
    OutCatSel->trigger();
    outCurrent = previous;
    updateActions();
}

void TMain::configTabMarginPaneResize() {
    // The side panes keep the widths they were given (a quarter each until a person moves
    // the splitters); the learning set takes what the window gains or loses.
    int inner = paneSplitter->width() - 2 * paneSplitter->handleWidth();
    int side = inner / 4;
    int left = side, right = side;
    if (sidePanes.size() == 2) {
        left = std::clamp(sidePanes[0], 40, std::max(40, inner / 3));
        right = std::clamp(sidePanes[1], 40, std::max(40, inner / 3));
    }
    paneSplitter->setSizes({left, inner - left - right, right});
}

void TMain::FormPaint() {
    if (painted)
        return;
    painted = true;
    if (!firstSelectedRow() && fileList->topLevelItemCount() > 0)
        fileList->topLevelItem(0)->setSelected(true);
}

bool TMain::FormCloseQuery() {
    if (!isModified)
        return true;
    QMessageBox::StandardButton answer = ask(
        this, locText("main.close.warn"), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        FileSave->trigger();
        return !isModified;
    }
    return answer == QMessageBox::No;
}

void TMain::reject() {
    done(2);
}

void TMain::done(int result) {
    if (!FormCloseQuery())
        return;
    if (isVisible())
        saveLayout();
    QDialog::done(result);
}

void TMain::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) {
    if (std::optional<LearningSetFollower::Notification> notification =
            LearningSetFollower::read(message, wParam))
        QCoreApplication::postEvent(this, new StoreNotifyEvent(*notification));
}

void TMain::showChange(const LearningSetFollower::Change& change) {
    switch (change.kind) {
    case LearningSetFollower::Change::Added:
        addFileRow(change.entry.get());
        fitFileColumns();
        updateActions();
        break;
    case LearningSetFollower::Change::Removed:
        delete findListItem(fileList, QString(), rowData(change.entry.get()));
        updateActions();
        break;
    case LearningSetFollower::Change::FolderRemoved:
        openLearnFolder(-1, true);
        break;
    case LearningSetFollower::Change::Nothing:
        break;
    }
}

bool TMain::event(QEvent* event) {
    if (event->type() == deferredUpdateType()) {
        updateActions();
        return true;
    }
    if (event->type() == StoreNotifyEvent::type()) {
        showChange(follower.receive(static_cast<StoreNotifyEvent*>(event)->notification));
        return true;
    }
    if (event->type() == QEvent::StatusTip) {
        statusBar->showMessage(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QDialog::event(event);
}

QAction* TMain::keyCommand(QObject* tree, int key) const {
    bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (tree == inTree) {
        QTreeWidgetItem* node = inTree->currentItem();
        int level = node ? levelOf(node) : -1;
        switch (key) {
        case Qt::Key_Insert:
            // Below a stimulation a new expression belongs to it.
            return level >= 1 ? InAddStimulation : InAdd;
        case Qt::Key_F2:
            return InEdit;
        case Qt::Key_Delete:
            return InDel;
        default:
            return enter && level >= 1 ? InEdit : nullptr;
        }
    }
    if (tree == outTree) {
        switch (key) {
        case Qt::Key_Insert:
            return OutAdd;
        case Qt::Key_F2:
            return OutEdit;
        case Qt::Key_Delete:
            return OutDel;
        default:
            return enter ? OutEdit : nullptr;
        }
    }
    if (tree == fileList && enter)
        return NetTest;
    return nullptr;
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            return QDialog::eventFilter(watched, event);
        QTreeWidgetItem* node = watched == inTree    ? inTree->currentItem()
                                : watched == outTree ? outTree->currentItem()
                                                     : nullptr;
        if (watched == inTree && node && levelOf(node) == 2 && key->key() == Qt::Key_Insert)
            inTree->setCurrentItem(node->parent());
        if (QAction* command = keyCommand(watched, key->key())) {
            // A command that does not apply here (disabled) swallows the key all the same:
            // the tree would otherwise take Enter to the dialog's buttons.
            command->trigger();
            return true;
        }
        if (watched == inTree && node && levelOf(node) == 0 &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            node->setExpanded(!node->isExpanded());
            return true;
        }
    }
    if (watched == paneSplitter && event->type() == QEvent::Resize) {
        configTabMarginPaneResize();
        return false;
    }
    if (fileList && watched == fileList->viewport() && event->type() == QEvent::Resize) {
        fitFileColumns();
        return false;
    }
    if (outTree && watched == outTree->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::RightButton)
            return false;
        outTreeMouseDown(outTree->itemAt(mouse->position().toPoint()));
        return true; // the selection stays where it is
    }
    return QDialog::eventFilter(watched, event);
}

void TMain::paintEvent(QPaintEvent* event) {
    FormPaint();
    QDialog::paintEvent(event);
}

void TMain::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The window itself may be covered entirely by its panes and never get a paint of
    // its own: the first paint is also run right after the window has come up.
    QMetaObject::invokeMethod(
        this, [this] { FormPaint(); }, Qt::QueuedConnection);
}
