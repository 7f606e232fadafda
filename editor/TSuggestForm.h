#pragma once

#include "core/WordSuggester.h"

#include <QDialog>

#include <vector>

class Net;
class QLabel;
class QPushButton;
class QTreeWidget;

// "Suggest stimulations…": the words that tell the target folders' learning messages
// apart, grouped by folder in a checkable list (all checked), and how many learning
// messages they would still leave unmatched. Add (result 1) takes the checked words;
// Cancel, Esc and the close box give 2.
class TSuggestForm : public QDialog {
public:
    TSuggestForm(QWidget* owner, const Net& net, SuggestionReport report);

    // The suggestions whose rows are checked, in the list's order.
    std::vector<WordSuggestion> checkedSuggestions() const;
    void reject() override;

    QLabel* Label1;
    QTreeWidget* suggestionTree;
    QLabel* unmatchedLabel;
    QPushButton* AddBtn;
    QPushButton* CancelBtn;

private:
    void updateAddButton();

    SuggestionReport report;
};

// Suggests words for the net's learning set (20 per folder) and adds the checked ones
// as stimulations of their own; how many were added (0 after Cancel). Store failures
// while the learning set is read are shown and add nothing.
int suggestStimulations(QWidget* owner, Net& net);
