#pragma once

#include "util/Ref.h"
#include "core/Net.h"

#include <QDialog>
#include <QIcon>
#include <QList>

#include <string>
#include <utility>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSplitter;
class QTabWidget;
class QTableWidget;
class QWidget;

// The test dialog: evaluates the net on one text, lists every target folder with its
// output in percent (those at or above the threshold first, marked) and composes the
// response the program would suggest. Moving the threshold slider stores the threshold
// at once while a net is set. Modal result 2 (the caller ignores it).
class TTest : public QDialog {
    Q_OBJECT
public:
    explicit TTest(QWidget* parent = nullptr);

    // The net to evaluate, or null. With a net: "Find folders" is enabled exactly when it
    // is learned, and the slider takes the stored threshold (which stores it back when
    // that changes the slider: 75.5 becomes 75, 150 becomes 100).
    void setNet(const ref_ptr<Net>& net);
    // Puts the text's body into the content page and shows that page with an empty list;
    // header fields attached to it (HeaderField) are kept aside for "Find folders".
    void setText(const std::string& text);

    // The content and the response as the program sees them: lines joined by CR LF.
    std::string contentText() const;
    std::string answerText() const;

public slots:
    void FormCreate();
    void thresholdBarChange();
    void propagateBtnClick();
    void closeBtnClick();

public:
    void reject() override;

private:
    std::vector<std::pair<std::string, std::string>> headerFields; // of the text set
    QGroupBox* contentanswerPane;
    QTabWidget* contentanswerTabs;
    QWidget* contentTab;
    QPlainTextEdit* contentMemo;
    QWidget* answerTab;
    QPlainTextEdit* answerMemo;
    QSlider* thresholdBar;
    QLineEdit* thresholdEdit;
    QLabel* thresholdLabel;
    QLabel* Label1;
    QPushButton* propagateBtn;
    QSplitter* Splitter1;
    QGroupBox* folderPane;
    QTableWidget* folderList;
    QPushButton* closeBtn;
    QList<QIcon> folderImages;

    ref_ptr<Net> net;
};
