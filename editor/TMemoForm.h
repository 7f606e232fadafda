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
    // A button left of OK that closes the viewer with result; the viewer's only other way
    // out of what it shows.
    QPushButton* addButton(const QString& caption, int result);

    QPlainTextEdit* Memo1;
    QPushButton* OkBtn;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Shows text (lines broken at CR, LF or CR LF) under caption, modally; returns when the
// viewer is closed.
void showText(QWidget* owner, const std::string& text, const std::string& caption);
// The same with a button offering the way out (offer, left of OK): 3 when it was
// clicked, else 1 or 2 as the viewer answers.
int showTextOffering(QWidget* owner, const std::string& text, const std::string& caption,
                     const std::string& offer);
// The text with CR LF and lone CR turned into LF.
QString textWithLineFeeds(const std::string& text);
