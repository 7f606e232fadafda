#pragma once

#include "util/Ref.h"
#include "core/LearningSetCheck.h"
#include "core/Net.h"

#include <QDialog>
#include <QString>

#include <memory>

class ChartView;
class EvaluateThread;
class LearnThread;
class QPlainTextEdit;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// The learning dialog: trains the net on a worker thread and draws the error falling
// over the iterations. The run trains a network of its own and the dialog installs it in
// the net when the run has ended. Modal result 1 when closed with Close after a finished run, 2
// otherwise. It cannot be closed (Close, Escape, the frame) while a run goes on.
class TLearn : public QDialog {
    Q_OBJECT
public:
    explicit TLearn(QWidget* parent = nullptr);
    ~TLearn() override;

    // Keeps the net, shows its sizes, proposes the hidden count and 500 iterations and
    // prepares the chart. False (reported as an error) when the chart picture cannot be
    // read: the caller must not show the dialog then.
    bool setNet(const ref_ptr<Net>& net);

    // Where the chart picture is read; by default "res/chart.bmp" in the program's folder,
    // else in the installed data folder.
    void setChartFile(const QString& path) { chartFile = path; }
    const QString& getChartFile() const { return chartFile; }
    // What the check before the dialog read (kept by the caller while the dialog lives): a
    // run takes it when nothing changed since, instead of reading every message again.
    void setCheckedInputs(const CheckedInputs* read) { checked = read; }
    // Learns without the learning messages no stimulation matches (count of them, as the
    // check found), says so above the parameters and starts the run once the dialog shows;
    // Evaluate leaves them out of the folds too.
    void learnLeavingOutUnmatched(int count);

    bool isRunning() const { return static_cast<bool>(thread); }
    bool isEvaluating() const { return static_cast<bool>(evaluation); }
    bool isLearned() const { return learned; }
    const QImage& chartImage() const;
    // The running thread (null when idle), for those who must wait for the run itself.
    LearnThread* runningThread() const { return thread.get(); }

    const ChartView& chartView() const { return *chart; }
    // The error as it travels to the dialog: times 10000, truncated toward zero, kept
    // within the 32-bit range (NaN travels as 0).
    static int scaleError(double error);
    // The learning run's progress callback: hands the values to the dialog registered
    // under `user`, without waiting. Any thread.
    static void progressCallback(int user, int iteration, double error);

public slots:
    void Button1Click();
    void closeBtnClick();
    // Closing is allowed exactly when no run goes on.
    bool FormCloseQuery() const;
    // Progress of the run, on the user-interface thread: the iteration and the error
    // times 10000.
    void learnProgress(int iteration, int scaledError);
    // The end of the run, on the user-interface thread.
    void learnFinished();
    // Evaluate: 5-fold cross-validation of the learning set with the hidden count and
    // iterations shown, on a thread of its own with the progress bar following it; the
    // net is not changed. The numbers and the confusion picture are shown in
    // evaluationWindow when it ends.
    void evaluateClick();
    void evaluateFinished();

public:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Hands the network of the ended run over to the net (the window thread's from now on).
    void installNetwork();
    // Reloads the picture and starts the chart of the iterations in iterationsEdit.
    bool prepareChart();
    // The iteration count of iterationsEdit; false (reported) when it is no number.
    bool readIterations(int& iterations) const;
    // readIterations, and at least one: what a learning or evaluation run needs.
    bool readRunIterations(int& iterations) const;

    QGroupBox* learnPane;
    ChartView* chart;
    QLabel* Label1;
    QLineEdit* iterEdit;
    QLabel* Label2;
    QLineEdit* errorEdit;
    QLabel* Label7;
    QLineEdit* timeEdit;
    QProgressBar* progress;
    QCheckBox* drawChartCheck;
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QLineEdit* inputCountEdit;
    QLabel* Label4;
    QLineEdit* hiddenCountEdit;
    QLabel* Label5;
    QLineEdit* outputCountEdit;
    QLabel* Label6;
    QLineEdit* iterationsEdit;
    QPushButton* Button1;
    QPushButton* closeBtn;

public:
    QPushButton* evaluateBtn;
    // The last evaluation's numbers and picture (null before the first).
    QDialog* evaluationWindow = nullptr;
    QPlainTextEdit* evaluationText = nullptr;
    QLabel* evaluationPicture = nullptr;

private:
    std::unique_ptr<EvaluateThread> evaluation;

    ref_ptr<Net> net;
    std::unique_ptr<LearnThread> thread;
    bool learned = false;
    int context;
    QString chartFile;
    const CheckedInputs* checked = nullptr;
    bool skipUnmatched = false;

public:
    QLabel* leftOutLabel; // hidden unless the unmatched messages are left out
};
