#include "editor/TSuggestForm.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "platform/profile/Loc.h"
#include "core/Net.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int IndexRole = Qt::UserRole;

QString text(const char* key) {
    return QString::fromStdString(locText(key));
}

} // namespace

TSuggestForm::TSuggestForm(QWidget* owner, const Net& net, SuggestionReport suggestions)
    : QDialog(owner), report(std::move(suggestions)) {
    setObjectName("SuggestForm");
    setWindowTitle(text("suggest.title"));
    Label1 = new QLabel(text("suggest.label"), this);
    Label1->setObjectName("Label1");
    Label1->setWordWrap(true);
    suggestionTree = new QTreeWidget(this);
    suggestionTree->setObjectName("suggestionTree");
    suggestionTree->setColumnCount(3);
    suggestionTree->setHeaderLabels(
        {text("suggest.word"), text("suggest.inFolder"), text("suggest.inOthers")});
    suggestionTree->setRootIsDecorated(true);
    Label1->setBuddy(suggestionTree);
    unmatchedLabel = new QLabel(this);
    unmatchedLabel->setObjectName("unmatchedLabel");
    unmatchedLabel->setWordWrap(true);
    AddBtn = new QPushButton(text("suggest.buttonAdd"), this);
    AddBtn->setObjectName("AddBtn");
    AddBtn->setDefault(true);
    CancelBtn = new QPushButton(text("suggest.buttonCancel"), this);
    CancelBtn->setObjectName("CancelBtn");

    QTreeWidgetItem* group = nullptr;
    int folder = -1;
    for (std::size_t i = 0; i < report.suggestions.size(); ++i) {
        const WordSuggestion& s = report.suggestions[i];
        if (s.folder != folder || !group) {
            folder = s.folder;
            ref_ptr<NeuronOut> output = net.getOutput(folder);
            group = new QTreeWidgetItem(suggestionTree,
                                        {QString::fromStdString(output ? output->getName() : "")});
            group->setFirstColumnSpanned(true);
            group->setExpanded(true);
        }
        auto* row = new QTreeWidgetItem(
            group, {QString::fromStdString(s.word),
                    QStringLiteral("%1 / %2").arg(s.inFolder).arg(s.folderSize),
                    QStringLiteral("%1 / %2").arg(s.inOthers).arg(s.othersSize)});
        // Words of every kind of text are offered but left for the person to choose.
        row->setCheckState(0, s.common ? Qt::Unchecked : Qt::Checked);
        row->setData(0, IndexRole, static_cast<int>(i));
    }
    suggestionTree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    if (report.suggestions.empty())
        unmatchedLabel->setText(text("suggest.none"));
    else if (!report.unmatched.empty())
        unmatchedLabel->setText(QString::fromStdString(
            locText("suggest.unmatched", std::to_string(report.unmatched.size()))));
    unmatchedLabel->setVisible(!unmatchedLabel->text().isEmpty());

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(suggestionTree);
    layout->addWidget(unmatchedLabel);
    layout->addLayout(buttons);
    resize(460, 520);

    connect(suggestionTree, &QTreeWidget::itemChanged, this, [this] { updateAddButton(); });
    connect(AddBtn, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
    updateAddButton();
}

std::vector<WordSuggestion> TSuggestForm::checkedSuggestions() const {
    std::vector<WordSuggestion> checked;
    for (int g = 0; g < suggestionTree->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = suggestionTree->topLevelItem(g);
        for (int r = 0; r < group->childCount(); ++r)
            if (group->child(r)->checkState(0) == Qt::Checked)
                checked.push_back(report.suggestions[static_cast<std::size_t>(
                    group->child(r)->data(0, IndexRole).toInt())]);
    }
    return checked;
}

void TSuggestForm::updateAddButton() {
    AddBtn->setEnabled(!checkedSuggestions().empty());
}

void TSuggestForm::reject() {
    done(2);
}

int suggestStimulations(QWidget* owner, Net& net) {
    SuggestionReport report;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        report = WordSuggester(net).suggest(20);
    } catch (const ComException& e) {
        QApplication::restoreOverrideCursor();
        showComError(e, "Suggesting stimulations");
        return 0;
    }
    QApplication::restoreOverrideCursor();
    TSuggestForm form(owner, net, std::move(report));
    if (form.exec() != 1)
        return 0;
    return WordSuggester::addTo(net, form.checkedSuggestions());
}
