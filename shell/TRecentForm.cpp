#include "shell/TRecentForm.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "util/Text.h"
#include "platform/maildir/MaildirFileName.h"
#include "platform/profile/Loc.h"
#include "sorting/SortUndo.h"
#include "editor/FolderImages.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {

constexpr int entryRole = Qt::UserRole;
constexpr int sortRole = Qt::UserRole + 1;

enum Column { TimeColumn, SubjectColumn, FromColumn, ActionColumn, FoldersColumn, ColumnCount };

QString loc(const char* key) {
    return QString::fromStdString(locText(key));
}

// Local time to the second; the journal's UTC text as it stands when it is not a time.
QString shownTime(const std::string& iso) {
    QDateTime time = QDateTime::fromString(QString::fromStdString(iso), Qt::ISODate);
    if (!time.isValid())
        return QString::fromStdString(iso);
    return time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss");
}

// "moved", "forwarded to a@example.org", "left: no stimulation matches".
QString actionText(const Journal::Entry& entry) {
    std::string text = entry.action;
    if (!entry.recipients.empty())
        text += " to " + joinTexts(entry.recipients, ", ");
    if (!entry.reason.empty())
        text += ": " + entry.reason;
    return QString::fromStdString(text);
}

// "Invoices 97.5%, Travel 81.0%"
QString foldersText(const Journal::Entry& entry) {
    QStringList folders;
    for (const Journal::Folder& folder : entry.folders)
        folders << QString::fromStdString(folder.name) +
                       QString::asprintf(" %.1f%%", folder.percent);
    return folders.join(", ");
}

// The unique part of the file name of a decision's first copy: the message it moved.
std::string messageBase(const Journal::Entry& entry) {
    return entry.copies.empty() ? std::string()
                                : MaildirFileName::baseName(entry.copies.front().file);
}

QStandardItem* cell(const QString& text, const QVariant& sortKey) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    item->setData(sortKey, sortRole);
    return item;
}

} // namespace

TRecentForm::TRecentForm(Journal& journal, IStoreNamespace* store,
                         std::function<STOREFOLDERID()> root, QWidget* owner)
    : QWidget(owner, Qt::Window), journal(journal), store(store), rootFolder(std::move(root)) {
    setObjectName("RecentForm");
    setWindowTitle(loc("recent.title"));
    setWindowIcon(FolderImages::application());

    auto* filterLabel = new QLabel(loc("recent.filter"), this);
    filterEdit = new QLineEdit(this);
    filterEdit->setObjectName("filterEdit");
    filterEdit->setClearButtonEnabled(true);
    filterEdit->setPlaceholderText(loc("recent.filter.hint"));
    filterLabel->setBuddy(filterEdit);

    model = new QStandardItemModel(0, ColumnCount, this);
    model->setHorizontalHeaderLabels({loc("recent.time"), loc("recent.subject"), loc("recent.from"),
                                      loc("recent.action"), loc("recent.folders")});
    proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    proxy->setSortRole(sortRole);
    proxy->setFilterKeyColumn(-1);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);

    table = new QTableView(this);
    table->setObjectName("table");
    table->setModel(proxy);
    table->setSortingEnabled(true);
    table->sortByColumn(TimeColumn, Qt::DescendingOrder);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    // Every column as wide as its text when rows first come, the subject taking the rest;
    // after that, as the person left them (see reload).
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(SubjectColumn, QHeaderView::Stretch);

    moveBackBtn = new QPushButton(loc("recent.moveBack"), this);
    moveBackBtn->setObjectName("moveBackBtn");
    moveBackBtn->setEnabled(false);
    closeBtn = new QPushButton(loc("recent.close"), this);
    closeBtn->setObjectName("closeBtn");

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(filterEdit, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(moveBackBtn);
    buttons->addStretch(1);
    buttons->addWidget(closeBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);
    resize(860, 420);

    connect(filterEdit, &QLineEdit::textChanged, proxy,
            [this](const QString& text) { proxy->setFilterFixedString(text); });
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateButtons(); });
    connect(proxy, &QAbstractItemModel::modelReset, this, [this] { updateButtons(); });
    connect(proxy, &QAbstractItemModel::rowsRemoved, this, [this] { updateButtons(); });
    connect(moveBackBtn, &QPushButton::clicked, this, [this] { moveBackClick(); });
    connect(closeBtn, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);
}

void TRecentForm::reload() {
    entries = journal.last(shownDecisions);
    // A decision whose message a later undo moved back is taken back already.
    open.assign(entries.size(), false);
    std::set<std::string> movedBack;
    for (std::size_t i = entries.size(); i-- > 0;) {
        if (entries[i].action == "undone")
            movedBack.insert(messageBase(entries[i]));
        else
            open[i] = SortUndo::undoable(entries[i]) && !movedBack.count(messageBase(entries[i]));
    }
    model->removeRows(0, model->rowCount());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Journal::Entry& entry = entries[i];
        QString subject = QString::fromStdString(entry.subject);
        QString from = QString::fromStdString(entry.from);
        QString action = actionText(entry);
        QString folders = foldersText(entry);
        // Equal times keep the journal's order.
        QStandardItem* time = cell(shownTime(entry.time), QString::fromStdString(entry.time) +
                                                              QString::asprintf("#%08zu", i));
        time->setData(static_cast<qulonglong>(i), entryRole);
        model->appendRow({time, cell(subject, subject.toCaseFolded()),
                          cell(from, from.toCaseFolded()), cell(action, action),
                          cell(folders, folders.toCaseFolded())});
    }
    // Fitted once: a reload after Move back or a new decision keeps the widths.
    if (!columnsFitted && model->rowCount() > 0) {
        table->resizeColumnsToContents();
        columnsFitted = true;
    }
    updateButtons();
}

int TRecentForm::rowCount() const {
    return proxy->rowCount();
}

const Journal::Entry& TRecentForm::entryOfRow(int row) const {
    QModelIndex index = proxy->index(row, TimeColumn);
    return entries.at(static_cast<std::size_t>(proxy->data(index, entryRole).toULongLong()));
}

std::vector<Journal::Entry> TRecentForm::selectedEntries() const {
    // Oldest first, as the journal holds them: a message sorted twice is taken back in
    // the order it was sorted.
    std::set<std::size_t> chosen;
    for (const QModelIndex& index : table->selectionModel()->selectedRows(TimeColumn))
        chosen.insert(static_cast<std::size_t>(proxy->data(index, entryRole).toULongLong()));
    std::vector<Journal::Entry> selected;
    for (std::size_t i : chosen)
        if (open[i])
            selected.push_back(entries[i]);
    return selected;
}

void TRecentForm::updateButtons() {
    moveBackBtn->setEnabled(!selectedEntries().empty());
}

void TRecentForm::moveBackClick() {
    std::vector<Journal::Entry> selected = selectedEntries();
    if (selected.empty())
        return;
    std::vector<SortUndo::Result> results;
    try {
        SortUndo undo(store, rootFolder(), journal);
        results = undo.undo(selected);
    } catch (const ComException& e) {
        // The root target folder could not be found: nothing was taken back.
        showComError(e, "Moving messages back to the inbox");
    }
    reload();
    // Said only where something is not simply back in the inbox.
    QStringList notes;
    for (const SortUndo::Result& result : results)
        if (result.outcome != SortUndo::Outcome::MovedBack || result.mailSent)
            notes << QString::fromStdString(result.entry.subject + ": " + result.text);
    if (notes.isEmpty())
        return;
    QMessageBox box(QMessageBox::Information, loc("recent.title"), notes.join('\n'),
                    QMessageBox::Ok, this);
    box.exec();
}

void TRecentForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}
