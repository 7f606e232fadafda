#include "editor/TMemoForm.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TMemoForm::TMemoForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("MemoForm");
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Memo1->setTabStopDistance(8 * Memo1->fontMetrics().horizontalAdvance(' '));
    // Greyed like a disabled edit: the text can be read and copied, not changed.
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    Memo1->setPalette(palette);

    OkBtn = new QPushButton("OK", this);
    OkBtn->setObjectName("OkBtn");
    OkBtn->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1);
    layout->addLayout(buttons);
    setFixedSize(440, 270);

    connect(OkBtn, &QPushButton::clicked, this, [this] { done(1); });
}

QPushButton* TMemoForm::addButton(const QString& caption, int result) {
    auto* button = new QPushButton(caption, this);
    static_cast<QHBoxLayout*>(OkBtn->parentWidget()->layout()->itemAt(1)->layout())
        ->insertWidget(1, button);
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    return button;
}

void TMemoForm::reject() {
    done(2);
}

void TMemoForm::keyPressEvent(QKeyEvent* event) {
    // Without a Cancel button Esc does not close the viewer.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

int showTextOffering(QWidget* owner, const std::string& text, const std::string& caption,
                     const std::string& offer) {
    TMemoForm form(owner);
    form.Memo1->setPlainText(textWithLineFeeds(text));
    form.setWindowTitle(QString::fromStdString(caption));
    form.addButton(QString::fromStdString(offer), 3)->setObjectName("OfferBtn");
    return form.exec();
}

QString textWithLineFeeds(const std::string& text) {
    QString result = QString::fromStdString(text);
    result.replace("\r\n", "\n");
    result.replace('\r', '\n');
    return result;
}

void showText(QWidget* owner, const std::string& text, const std::string& caption) {
    TMemoForm form(owner);
    form.Memo1->setPlainText(textWithLineFeeds(text));
    form.setWindowTitle(QString::fromStdString(caption));
    form.exec();
}
