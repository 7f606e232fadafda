#pragma once

#include "platform/Store.h"

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;

// The mail-folder chooser: the store's folders below one root node. OK (result 1) is
// enabled for a selection that gives a folder; Cancel, Esc and the close box give 2.
class TSelectFolderForm : public QDialog {
public:
    explicit TSelectFolderForm(QWidget* owner);

    // Clears the tree and fills it from the store below a root node; store failures
    // raise ComException.
    void fillFolders(IStoreNamespace* store);

    // The selected node's folder; FOLDERID_INVALID for none, for the root, and for a
    // special folder unless those are allowed.
    STOREFOLDERID selectedFolder() const;
    // Selects the first node of that folder; an unknown id leaves the selection alone.
    void setSelectedFolder(STOREFOLDERID id);
    bool allowSpecialFolders() const { return allowSpecial; }
    void setAllowSpecialFolders(bool allow) { allowSpecial = allow; }

    // OK is enabled exactly when the selection gives a folder.
    void folderTreeChange();
    void reject() override;

    QLabel* Label1;
    QTreeWidget* folderTree;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;

private:
    IStoreNamespace* store = nullptr;
    bool allowSpecial = false;
};

// Runs the chooser with owner and caption, preselecting the folder; the chosen folder
// after OK, FOLDERID_INVALID otherwise. Store failures while the tree is filled raise
// ComException to the caller.
STOREFOLDERID chooseFolder(QWidget* owner, const std::string& caption, IStoreNamespace* store,
                           STOREFOLDERID preselected);
