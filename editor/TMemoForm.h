#pragma once

#include <QDialog>

#include <string>

class QPlainTextEdit;
class QPushButton;

// A read-only text viewer with one OK button (result 1; the close box gives 2).
class TMemoForm : public QDialog {
public:
    explicit TMemoForm(QWidget* owner);

    void reject() override;

    QPlainTextEdit* Memo1;
    QPushButton* OkBtn;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Shows text (lines broken at CR, LF or CR LF) under caption, modally; returns when the
// viewer is closed.
void showText(QWidget* owner, const std::string& text, const std::string& caption);
// The text with CR LF and lone CR turned into LF.
QString textWithLineFeeds(const std::string& text);
