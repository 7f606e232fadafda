#include "editor/TInputForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPointer<TInputForm>& sharedForm() {
    static QPointer<TInputForm> form;
    return form;
}

} // namespace

TInputForm::TInputForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint) {
    setObjectName("InputForm");
    InputLabel = new QLabel(this);
    InputLabel->setObjectName("InputLabel");
    InputEdit = new QLineEdit(this);
    InputEdit->setObjectName("InputEdit");
    InputLabel->setBuddy(InputEdit);
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
    layout->addWidget(InputLabel);
    layout->addWidget(InputEdit);
    layout->addStretch();
    layout->addLayout(buttons);
    setTabOrder(InputEdit, OkBtn);
    setTabOrder(OkBtn, CancelBtn);
    resize(379, 138);

    connect(OkBtn, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
}

void TInputForm::reject() {
    done(2);
}

TInputForm* TInputForm::shared() {
    createShared();
    return sharedForm();
}

void TInputForm::createShared() {
    if (!sharedForm())
        sharedForm() = new TInputForm;
}

void TInputForm::destroyShared() {
    delete sharedForm().data();
}

std::string inputQuery(const std::string& title, const std::string& label,
                       const std::string& initial) {
    TInputForm* form = TInputForm::shared();
    form->setWindowTitle(QString::fromStdString(title));
    form->InputLabel->setText(QString::fromStdString(label));
    form->InputEdit->setText(QString::fromStdString(initial));
    form->InputEdit->selectAll();
    form->InputEdit->setFocus();
    if (form->exec() != 1)
        return {};
    return form->InputEdit->text().toStdString();
}
