#include "editor/TSelectFolderForm.h"

#include "platform/profile/Loc.h"
#include "mail/StoreAccess.h"
#include "editor/FolderTreeItem.h"
#include "editor/ViewLookup.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TSelectFolderForm::TSelectFolderForm(QWidget* owner) : QDialog(owner) {
    setObjectName("SelectFolderForm");
    Label1 = new QLabel(QString::fromStdString(locText("selectfolder.label")), this);
    Label1->setObjectName("Label1");
    folderTree = new QTreeWidget(this);
    folderTree->setObjectName("folderTree");
    folderTree->setHeaderHidden(true);
    folderTree->setColumnCount(1);
    folderTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    folderTree->setSelectionMode(QAbstractItemView::SingleSelection);
    Label1->setBuddy(folderTree);
    OkBtn = new QPushButton("OK", this);
    OkBtn->setObjectName("OkBtn");
    OkBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(folderTree);
    layout->addLayout(buttons);
    resize(307, 425);

    connect(folderTree, &QTreeWidget::currentItemChanged, this, [this] { folderTreeChange(); });
    connect(folderTree, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (OkBtn->isEnabled())
            done(1);
    });
    connect(OkBtn, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
}

void TSelectFolderForm::fillFolders(IStoreNamespace* namespaceToFill) {
    store = namespaceToFill;
    folderTree->setSortingEnabled(false);
    folderTree->clear();
    auto* root = new FolderTreeItem(folderTree);
    root->setCaption(locText("selectfolder.root"));
    root->setData(FOLDERID_ROOT);
    root->setImageIndex(-1);
    // Filling before sorting: one sort at the end instead of one per inserted node.
    fillFolderTree(store, root);
    folderTree->setSortingEnabled(true);
    folderTree->sortItems(0, Qt::AscendingOrder);
    root->setExpanded(true);
}

STOREFOLDERID TSelectFolderForm::selectedFolder() const {
    QTreeWidgetItem* item = folderTree->currentItem();
    if (!item || !item->parent())
        return FOLDERID_INVALID;
    if (item->data(0, FolderTreeItem::ImageRole).toInt() != 0 && !allowSpecial)
        return FOLDERID_INVALID;
    return FolderTreeItem::idOf(item);
}

void TSelectFolderForm::setSelectedFolder(STOREFOLDERID id) {
    QTreeWidgetItem* item = findTreeNode(folderTree, QString(), QVariant::fromValue<uint>(id));
    if (!item)
        return;
    folderTree->setCurrentItem(item);
    folderTree->scrollToItem(item);
}

void TSelectFolderForm::folderTreeChange() {
    OkBtn->setEnabled(selectedFolder() != FOLDERID_INVALID);
}

void TSelectFolderForm::reject() {
    done(2);
}

STOREFOLDERID chooseFolder(QWidget* owner, const std::string& caption, IStoreNamespace* store,
                           STOREFOLDERID preselected) {
    TSelectFolderForm form(owner);
    form.setWindowTitle(QString::fromStdString(caption));
    form.fillFolders(store);
    form.setSelectedFolder(preselected);
    if (form.exec() != 1)
        return FOLDERID_INVALID;
    return form.selectedFolder();
}
