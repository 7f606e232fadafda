#pragma once

#include "platform/Store.h"
#include "sorting/Journal.h"

#include <QWidget>

#include <functional>
#include <vector>

class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

// "Recently sorted…": the journal's last decisions in a table (newest first, sortable by
// any column, narrowed by the filter box), and "Move back to inbox" for the selected
// rows, which takes them back as brevalo-cli undo does. A window of its own, not modal:
// it stays open beside the mail program.
class TRecentForm : public QWidget {
public:
    static constexpr int shownDecisions = 500;

    // The journal, the store and (asked at each undo: the settings may change it) the
    // root target folder the journal's folder names lie below.
    TRecentForm(Journal& journal, IStoreNamespace* store, std::function<STOREFOLDERID()> root,
                QWidget* owner = nullptr);

    // Reads the journal's last decisions again, keeping the filter and the sort order.
    void reload();
    // Takes back the decisions of the selected rows; a box tells what could not be done
    // exactly (mail that cannot be unsent, copies no longer there, failures).
    void moveBackClick();

    int rowCount() const;                            // rows shown (after the filter)
    const Journal::Entry& entryOfRow(int row) const; // row as shown

    QLineEdit* filterEdit;
    QTableView* table;
    QPushButton* moveBackBtn;
    QPushButton* closeBtn;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateButtons();
    // The selected decisions that can still be taken back, oldest first.
    std::vector<Journal::Entry> selectedEntries() const;

    Journal& journal;
    IStoreNamespace* store;
    std::function<STOREFOLDERID()> rootFolder;
    std::vector<Journal::Entry> entries; // as read, oldest first; a row's data is its index
    std::vector<bool> open;              // per entry: undo can still take it back
    bool columnsFitted = false;          // the columns were sized to the first rows
    QStandardItemModel* model;
    QSortFilterProxyModel* proxy;
};
