#pragma once

#include "util/ComPtr.h"
#include "util/Ref.h"
#include "platform/Store.h"
#include "core/FileData.h"
#include "core/LearningSetCheck.h"
#include "core/Net.h"
#include "mail/LearningSetFollower.h"

#include <QDialog>

#include <cstdint>
#include <string>
#include <vector>
#include <vector>

class QAction;
class QGroupBox;
class QMenu;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTextEdit;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

// The configuration window: edits a net of its own, loaded from the running net's file,
// with its stimulations, target folders, learning folder and the assignment of each
// learning message; starts the learning and the test dialogs and saves to the file.
// OK answers 1, Cancel, Esc and the close box 2. While it shows a learning folder it is
// registered for that folder's notifications and follows them (LearningSetFollower).
// Nodes and rows name what they show by position or id, never by pointer: an input or
// output node's position under its root is the neuron's index in the net, a row's data is
// its message id.
class TMain : public QDialog, public INotifySink {
    Q_OBJECT
public:
    // The image of a node or row, in the user role after its data.
    static constexpr int ImageRole = Qt::UserRole + 1;
    // The deferred action update, posted to the window.
    static constexpr int DeferredUpdateEvent = 1025;

    explicit TMain(QWidget* owner = nullptr);
    ~TMain() override;

    // What the settings window runs for its Configure button: the window on a copy of
    // net over the store, modally; 1 for OK, 2 otherwise.
    static int configure(QWidget* owner, Net* net, IStoreNamespace* store);

    // A net of its own for the running net's file and messages, loaded and shown; the
    // store is where the learning folder is chosen and followed.
    void openNet(Net* running, IStoreNamespace* store);
    const ref_ptr<Net>& editedNet() const { return net; }

    bool modified() const { return isModified; }
    void setModified(bool value);
    void updateActions();
    // Posts the update; it runs when the event arrives.
    void updateActionsDeferred();

    void fillInTree();
    void fillOutTree();
    void updateInNode(QTreeWidgetItem* node, NeuronIn* neuron);
    void updateOutNode(QTreeWidgetItem* node, NeuronOut* folder);
    void markTargets(FileData* entry, int image);
    void fillFileList();
    void addFileRow(FileData* entry);
    void showFileContent();
    void openLearnFolder(int id, bool store);
    // True when every learning message is matched by a stimulation and assigned to a
    // folder; otherwise the report is shown (caption "Error") and false returned. Keeps
    // what the check read for the learning dialog that follows (checkedInputs). With
    // leaveOut, the report offers to learn without the messages no stimulation matches
    // when that leaves a set to learn: true then, and *leaveOut their number (else 0).
    bool checkFileAssignments(int* leaveOut = nullptr);

    // The image and level of nodes and rows.
    static int imageOf(const QTreeWidgetItem* item);
    static int levelOf(const QTreeWidgetItem* item);
    // What a node or row shows, looked up in the net: the stimulation of a level-1 input
    // node, the folder of a level-1 output node, the entry of a row; null for anything else.
    NeuronIn* neuronOfInNode(const QTreeWidgetItem* node) const;
    NeuronOut* neuronOfOutNode(const QTreeWidgetItem* node) const;
    FileData* entryOf(const QTreeWidgetItem* row) const;
    FileData* shownEntry() const { return shown.get(); }
    FileData* entryOfRow(int row) const;
    IStoreFolder* learnFolder() const { return folder.get(); }
    QTreeWidgetItem* currentInNode() const { return inCurrent; }
    QTreeWidgetItem* currentOutNode() const { return outCurrent; }
    int heldNotifications() const { return follower.heldCount(); }
    bool learningRunning() const { return follower.holdingBack(); }

    // Commands (run through their actions, which run them only while enabled).
    void InAddExecute();
    void InAddStimulationExecute();
    void InEditExecute();
    void InDelExecute();
    // "Where it looks…": the body, a kind of header field or a named one.
    void InFieldExecute();
    // "Suggest stimulations…": adds the words the person checks as stimulations.
    void InSuggestExecute();
    void InExpandExecute();
    void InColapseExecute();
    void InExpandAllExecute();
    void InColapseAllExecute();
    void OutAddExecute();
    void OutEditExecute();
    void OutDelExecute();
    void OutCatSelExecute();
    void FileSelectFolderExecute();
    void FileSaveExecute();
    void FileExitExecute();
    void NetLearnExecute();
    void NetTestExecute();
    void OkBtnClick();

    // Handlers.
    void inTreeChange(QTreeWidgetItem* node);
    void outTreeChange(QTreeWidgetItem* node);
    void fileListSelectItem();
    void inTreeContextPopup(const QPoint& position);
    void outTreeMouseDown(QTreeWidgetItem* node);
    void configTabMarginPaneResize();
    // The learning set's sender and date columns as wide as their contents, the sender at
    // most a fifth of the list: the subject keeps the rest.
    void fitFileColumns();
    // The window's size and splitter positions as the last window of this kind left them.
    void restoreLayout();
    void saveLayout();
    void FormPaint();
    // Whether the window may close: asks about unsaved changes (Yes saves, No drops
    // them, Cancel keeps the window open).
    bool FormCloseQuery();

    // The learning folder's notifications (2674 new message, 2675 deleted message,
    // 2676 folder deleted), posted to the window as events. Any id a notification points
    // to is read here, at once.
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // Cancel, Esc and the close box answer 2.
    void reject() override;
    void done(int result) override;

    QTabWidget* pages = nullptr;
    QWidget* ConfigTab = nullptr;
    QSplitter* paneSplitter = nullptr;
    QSplitter* contentSplitter = nullptr;
    // The side panes' widths a person left (empty: a quarter of the width each).
    std::vector<int> sidePanes;
    QGroupBox* inPane = nullptr;
    QToolBar* inToolbar = nullptr;
    QTreeWidget* inTree = nullptr;
    QGroupBox* filePane = nullptr;
    QToolBar* fileToolbar = nullptr;
    QTreeWidget* fileList = nullptr;
    QGroupBox* outPane = nullptr;
    QToolBar* outToolbar = nullptr;
    QTreeWidget* outTree = nullptr;
    QGroupBox* fileContentPane = nullptr;
    QTextEdit* fileContentEdit = nullptr;
    QPushButton* suggestBtn = nullptr;
    QPushButton* learnBtn = nullptr;
    QPushButton* testBtn = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QStatusBar* statusBar = nullptr;
    QMenu* inTreePopup = nullptr;

    QAction* InAdd = nullptr;
    QAction* InAddStimulation = nullptr;
    QAction* InEdit = nullptr;
    QAction* InDel = nullptr;
    QAction* InField = nullptr;
    QAction* InSuggest = nullptr;
    QAction* InExpand = nullptr;
    QAction* InColapse = nullptr;
    QAction* InExpandAll = nullptr;
    QAction* InColapseAll = nullptr;
    QAction* OutAdd = nullptr;
    QAction* OutEdit = nullptr;
    QAction* OutDel = nullptr;
    QAction* OutCatSel = nullptr;
    QAction* FileSelectFolder = nullptr;
    QAction* FileSave = nullptr;
    QAction* FileExit = nullptr;
    QAction* NetLearn = nullptr;
    QAction* NetTest = nullptr;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    // The command a key runs in one of the trees (Insert adds, F2 and Enter open the
    // selected item, Delete removes it; Enter in the learning set tests the message); null
    // for any other key.
    QAction* keyCommand(QObject* tree, int key) const;
    void createActions();
    QAction* makeAction(const QString& caption, const QString& hint, int image,
                        void (TMain::*command)());
    void modifiedChanged();
    // Shows what a store notification changed in the learning set.
    void showChange(const LearningSetFollower::Change& change);
    void setImage(QTreeWidgetItem* item, int image);
    QTreeWidgetItem* firstSelectedRow() const;
    // "<learning folder id>/<message id>"; the empty text when the folder cannot be read.
    std::string contentPath(const FileData* entry) const;
    void releaseLearnFolder();

    ref_ptr<Net> net;
    IStoreNamespace* mailStore = nullptr; // the settings window's, alive while this window is
    LearningSetFollower follower;
    ref_ptr<FileData> shown;
    com_ptr<IStoreFolder> folder;
    QTreeWidgetItem* inCurrent = nullptr;
    QTreeWidgetItem* outCurrent = nullptr;
    bool isModified = false;
    bool painted = false;
    CheckedInputs checkedInputs; // what the last check read, for the run that follows
    bool registered = false;
};
