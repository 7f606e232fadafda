#pragma once

#include "util/Ref.h"
#include "core/NeuronOut.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The editor of one target folder: its name, suggested reply and relevant persons.
// OK (result 1) writes the dialog into the attached folder; Cancel (2) writes nothing.
class TOutEditor : public QDialog {
public:
    explicit TOutEditor(QWidget* owner);

    // Attaches the folder and shows its values; null detaches it and empties the name
    // and the reply (the address lines stay).
    void setNeuron(NeuronOut* folder);
    const ref_ptr<NeuronOut>& neuron() const { return folder; }

    // Name as typed, the reply with CR LF line ends, and one address per non-blank line
    // with the blanks and control characters around it removed.
    void okBtnClick();
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QLabel* Label1;
    QLineEdit* nameEdit;
    QLabel* Label2;
    QPlainTextEdit* answerMemo;
    QLabel* Label3;
    QPlainTextEdit* emailsMemo;
    QPushButton* okBtn;
    QPushButton* cancelBtn;

private:
    ref_ptr<NeuronOut> folder;
};
