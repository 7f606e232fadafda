#include "editor/TOutEditor.h"

#include "util/Text.h"
#include "platform/profile/Loc.h"
#include "mail/TargetFolderName.h"
#include "editor/TMemoForm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QString loc(const char* key) {
    return QString::fromStdString(locText(key));
}

} // namespace

TOutEditor::TOutEditor(QWidget* owner) : QDialog(owner) {
    setObjectName("OutEditor");
    Label1 = new QLabel(loc("outeditor.name"), this);
    Label1->setObjectName("Label1");
    nameEdit = new QLineEdit(this);
    nameEdit->setObjectName("nameEdit");
    Label2 = new QLabel(loc("outeditor.answer"), this);
    Label2->setObjectName("Label2");
    answerMemo = new QPlainTextEdit(this);
    answerMemo->setObjectName("answerMemo");
    answerMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab goes on to the next field as everywhere else in the dialog; a tab character
    // in the response is typed with Ctrl+Tab.
    answerMemo->setTabChangesFocus(true);
    answerMemo->installEventFilter(this);
    Label3 = new QLabel(loc("outeditor.email"), this);
    Label3->setObjectName("Label3");
    Label3->setWordWrap(true);
    emailsMemo = new QPlainTextEdit(this);
    emailsMemo->setObjectName("emailsMemo");
    emailsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    emailsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    okBtn = new QPushButton(loc("outeditor.buttonOk"), this);
    okBtn->setObjectName("okBtn");
    okBtn->setDefault(true);
    cancelBtn = new QPushButton(loc("outeditor.buttonCancel"), this);
    cancelBtn->setObjectName("cancelBtn");
    Label1->setBuddy(nameEdit);
    Label2->setBuddy(answerMemo);
    Label3->setBuddy(emailsMemo);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okBtn);
    buttons->addWidget(cancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(nameEdit);
    layout->addWidget(Label2);
    layout->addWidget(answerMemo, 3);
    layout->addWidget(Label3);
    layout->addWidget(emailsMemo, 2);
    layout->addLayout(buttons);
    resize(351, 400);

    // Centred on the main window, whoever the owner is.
    QWidget* main = owner ? owner->window() : QApplication::activeWindow();
    if (main) {
        QRect frame = main->frameGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
    }

    connect(okBtn, &QPushButton::clicked, this, [this] {
        // A name that would climb out of the root target folder stays in the box to mend.
        std::string problem = TargetFolderName::problem(nameEdit->text().toStdString());
        if (!problem.empty()) {
            showText(this, "The folder name " + problem + ".", "Error");
            return;
        }
        okBtnClick();
        done(1);
    });
    connect(cancelBtn, &QPushButton::clicked, this, [this] { done(2); });
}

void TOutEditor::setNeuron(NeuronOut* neuron) {
    folder = ref_ptr<NeuronOut>(neuron);
    if (!neuron) {
        nameEdit->clear();
        answerMemo->clear();
        return;
    }
    nameEdit->setText(QString::fromStdString(neuron->getName()));
    answerMemo->setPlainText(textWithLineFeeds(neuron->getAnswer()));
    emailsMemo->clear();
    QStringList lines;
    for (const std::string& address : neuron->getEmails())
        lines << QString::fromStdString(address);
    emailsMemo->setPlainText(lines.join('\n'));
}

void TOutEditor::okBtnClick() {
    if (!folder)
        return;
    folder->setName(nameEdit->text().toStdString());
    folder->setAnswer(replaceAll(answerMemo->toPlainText().toStdString(), "\n", "\r\n"));
    std::vector<std::string> emails;
    for (const QString& line : emailsMemo->toPlainText().split('\n')) {
        std::string address = trimText(line.toStdString());
        if (!address.empty())
            emails.push_back(address);
    }
    folder->setEmails(emails);
}

bool TOutEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == answerMemo && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
            answerMemo->insertPlainText(QStringLiteral("\t"));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TOutEditor::reject() {
    done(2);
}
