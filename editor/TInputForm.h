#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

// The one-line input prompt. The program keeps one, created at start-up and reused;
// OK answers 1, Cancel, Esc and the close box 2.
class TInputForm : public QDialog {
public:
    explicit TInputForm(QWidget* owner = nullptr);

    void reject() override;

    // The shared prompt: created here when start-up has not made it yet.
    static TInputForm* shared();
    static void createShared();
    // Destroys the shared prompt (at program end, before the application object).
    static void destroyShared();

    QLabel* InputLabel;
    QLineEdit* InputEdit;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;
};

// Asks for one line: the text exactly as typed after OK, else the empty text (which
// callers take as Cancel).
std::string inputQuery(const std::string& title, const std::string& label,
                       const std::string& initial);
