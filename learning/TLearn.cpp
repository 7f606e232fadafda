#include "learning/TLearn.h"

#include "util/DataFiles.h"
#include "util/ErrorReport.h"
#include "platform/profile/Loc.h"
#include "learning/ChartView.h"
#include "learning/ConfusionPicture.h"
#include "learning/EvaluateThread.h"
#include "learning/LearnThread.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QFontDatabase>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <climits>
#include <cmath>
#include <map>
#include <mutex>

namespace {

constexpr int defaultIterations = 500;
constexpr int minimumHidden = 4;
constexpr double learningRate = 0.3;
constexpr double decay = 1.0;

// The dialogs a learning run may report to, by the int value the run hands back. A
// dialog leaves before it is destroyed, so a late report finds nobody instead of a
// dangling window.
std::mutex registryMutex;
std::map<int, TLearn*> registry;
int nextContext = 1;

int enrol(TLearn* dialog) {
    std::lock_guard<std::mutex> lock(registryMutex);
    int context = nextContext++;
    registry[context] = dialog;
    return context;
}

void withdraw(int context) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(context);
}

QString loc(const char* key) {
    return QString::fromStdString(locText(key));
}

QLineEdit* readOnlyEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    // Shown, not edited: clicked to copy from, passed over by Tab.
    edit->setFocusPolicy(Qt::ClickFocus);
    return edit;
}

QLabel* label(const char* name, const char* key, QWidget* parent) {
    auto* text = new QLabel(loc(key), parent);
    text->setObjectName(name);
    return text;
}

} // namespace

TLearn::TLearn(QWidget* parent) : QDialog(parent), context(enrol(this)) {
    setWindowTitle(loc("learn.title"));
    chartFile = QString::fromStdString(
        findDataFile(QCoreApplication::applicationDirPath().toStdString(), "res/chart.bmp"));

    learnPane = new QGroupBox(loc("learn.chart"), this);
    learnPane->setObjectName("learnPane");
    chart = new ChartView(learnPane);
    chart->setObjectName("chart");
    Label1 = label("Label1", "learn.iteration", learnPane);
    iterEdit = readOnlyEdit("iterEdit", learnPane);
    Label2 = label("Label2", "learn.error", learnPane);
    errorEdit = readOnlyEdit("errorEdit", learnPane);
    Label7 = label("Label7", "learn.time", learnPane);
    timeEdit = readOnlyEdit("timeEdit", learnPane);
    progress = new QProgressBar(learnPane);
    progress->setObjectName("progress");
    progress->setMinimum(0);
    progress->setMaximum(defaultIterations);
    progress->setValue(0);
    progress->setTextVisible(false);
    drawChartCheck = new QCheckBox(loc("learn.drawChart"), learnPane);
    drawChartCheck->setObjectName("drawChartCheck");
    drawChartCheck->setChecked(true);

    auto* status = new QGridLayout;
    status->addWidget(Label1, 0, 0);
    status->addWidget(iterEdit, 1, 0);
    status->addWidget(Label2, 0, 1);
    status->addWidget(errorEdit, 1, 1);
    status->addWidget(Label7, 0, 2);
    status->addWidget(timeEdit, 1, 2);
    auto* chartLayout = new QVBoxLayout(learnPane);
    chartLayout->addWidget(chart, 0, Qt::AlignHCenter);
    chartLayout->addLayout(status);
    chartLayout->addWidget(progress);
    chartLayout->addWidget(drawChartCheck);

    GroupBox2 = new QGroupBox(loc("learn.paneParameters"), this);
    GroupBox2->setObjectName("GroupBox2");
    Label3 = label("Label3", "learn.inCount", GroupBox2);
    inputCountEdit = readOnlyEdit("inputCountEdit", GroupBox2);
    Label4 = label("Label4", "learn.hiddenCount", GroupBox2);
    hiddenCountEdit = readOnlyEdit("hiddenCountEdit", GroupBox2);
    Label5 = label("Label5", "learn.outCount", GroupBox2);
    outputCountEdit = readOnlyEdit("outputCountEdit", GroupBox2);
    Label6 = label("Label6", "learn.iterations", GroupBox2);
    iterationsEdit = new QLineEdit(GroupBox2);
    iterationsEdit->setObjectName("iterationsEdit");
    Button1 = new QPushButton(loc("learn.buttonStart"), GroupBox2);
    Button1->setObjectName("Button1");
    Button1->setAutoDefault(false);
    evaluateBtn = new QPushButton(loc("learn.buttonEvaluate"), GroupBox2);
    evaluateBtn->setObjectName("evaluateBtn");
    evaluateBtn->setAutoDefault(false);
    evaluateBtn->setToolTip(loc("learn.buttonEvaluate.hint"));

    leftOutLabel = new QLabel(GroupBox2);
    leftOutLabel->setObjectName("leftOutLabel");
    leftOutLabel->setWordWrap(true);
    leftOutLabel->hide();

    auto* parameters = new QVBoxLayout(GroupBox2);
    parameters->addWidget(leftOutLabel);
    std::initializer_list<QWidget*> fields = {Label3, inputCountEdit,  Label4, hiddenCountEdit,
                                              Label5, outputCountEdit, Label6, iterationsEdit};
    for (QWidget* widget : fields)
        parameters->addWidget(widget);
    parameters->addSpacing(8);
    parameters->addWidget(Button1);
    parameters->addWidget(evaluateBtn);
    parameters->addStretch(1);

    closeBtn = new QPushButton(loc("learn.buttonClose"), this);
    closeBtn->setObjectName("closeBtn");
    closeBtn->setAutoDefault(false);

    auto* side = new QVBoxLayout;
    side->addWidget(GroupBox2, 1);
    side->addWidget(closeBtn);
    auto* main = new QHBoxLayout(this);
    main->addWidget(learnPane);
    main->addLayout(side);
    setLayout(main);

    // The one field a person sets before starting; Tab goes on to the buttons.
    iterationsEdit->setFocus();

    connect(Button1, &QPushButton::clicked, this, &TLearn::Button1Click);
    connect(closeBtn, &QPushButton::clicked, this, &TLearn::closeBtnClick);
    connect(evaluateBtn, &QPushButton::clicked, this, &TLearn::evaluateClick);
}

TLearn::~TLearn() {
    withdraw(context);
    if (evaluation) {
        disconnect(evaluation.get(), nullptr, this, nullptr);
        evaluation->wait();
    }
    // A dialog destroyed behind a run's back still waits for the run and hands its
    // network over.
    if (thread) {
        disconnect(thread.get(), nullptr, this, nullptr);
        thread->wait();
        installNetwork();
    }
}

const QImage& TLearn::chartImage() const {
    return chart->image();
}

int TLearn::scaleError(double error) {
    double scaled = error * 10000;
    if (std::isnan(scaled))
        return 0;
    if (scaled >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (scaled <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(scaled);
}

void TLearn::progressCallback(int user, int iteration, double error) {
    int scaled = scaleError(error);
    std::lock_guard<std::mutex> lock(registryMutex);
    auto found = registry.find(user);
    if (found == registry.end())
        return;
    TLearn* dialog = found->second;
    QMetaObject::invokeMethod(
        dialog, [dialog, iteration, scaled] { dialog->learnProgress(iteration, scaled); },
        Qt::QueuedConnection);
}

bool TLearn::setNet(const ref_ptr<Net>& newNet) {
    net = newNet;
    int inputs = net ? net->inputCount() : 0;
    int outputs = net ? net->outputCount() : 0;
    inputCountEdit->setText(QString::number(inputs));
    outputCountEdit->setText(QString::number(outputs));
    hiddenCountEdit->setText(QString::number(std::max((inputs + outputs) / 2, minimumHidden)));
    iterationsEdit->setText(QString::number(defaultIterations));
    return prepareChart();
}

void TLearn::learnLeavingOutUnmatched(int count) {
    skipUnmatched = true;
    leftOutLabel->setText(QString::fromStdString(locText("learn.leftOut", std::to_string(count))));
    leftOutLabel->show();
    QTimer::singleShot(0, this, &TLearn::Button1Click);
}

bool TLearn::readIterations(int& iterations) const {
    bool ok = false;
    iterations = iterationsEdit->text().toInt(&ok, 10);
    if (ok)
        return true;
    reportError("Error",
                "'" + iterationsEdit->text().toStdString() + "' is not a valid integer value");
    return false;
}

bool TLearn::readRunIterations(int& iterations) const {
    if (!readIterations(iterations))
        return false;
    // The chart divides by the iteration count, and a run without iterations would
    // only install an untrained network.
    if (iterations >= 1)
        return true;
    reportError("Error", "The number of iterations must be at least 1.");
    return false;
}

bool TLearn::prepareChart() {
    if (!chart->load(chartFile)) {
        reportError("Error", "Cannot read the chart picture '" + chartFile.toStdString() + "'");
        return false;
    }
    int n = 0;
    if (!readIterations(n))
        return false;
    chart->start(n);
    return true;
}

void TLearn::Button1Click() {
    if (thread || evaluation)
        return;
    if (!net)
        return;
    int hidden = hiddenCountEdit->text().toInt();
    int n = 0;
    if (!readRunIterations(n))
        return;
    progress->setMaximum(n);
    if (!prepareChart())
        return;
    // Everything the run reads is taken from the net here, on this thread: the worker never
    // touches the net.
    LearningParameters parameters{hidden, n, learningRate, decay};
    parameters.skipUnmatched = skipUnmatched;
    LearningRun run(*net, parameters);
    if (checked)
        run.takeChecked(*checked);
    thread = std::make_unique<LearnThread>(std::move(run), &TLearn::progressCallback, context);
    connect(thread.get(), &QThread::finished, this, &TLearn::learnFinished, Qt::QueuedConnection);
    thread->start();
}

void TLearn::learnProgress(int iteration, int scaledError) {
    double error = scaledError * 0.0001;
    if (!thread)
        return;
    std::uint32_t elapsed = LearnThread::tickCount() - thread->getStartTick();
    timeEdit->setText(QString::asprintf("%.03f", elapsed / 1000.0));
    iterEdit->setText(QString::number(iteration));
    errorEdit->setText(QString::number(error, 'g', 15));
    progress->setValue(iteration);
    if (drawChartCheck->isChecked())
        chart->plot(iteration, error);
}

void TLearn::learnFinished() {
    if (!thread)
        return;
    thread->wait();
    installNetwork();
    std::string errorText = thread->getErrorText();
    thread.reset();
    if (!errorText.empty())
        QMessageBox::critical(this, "Error", QString::fromStdString(errorText), QMessageBox::Ok);
    learned = true;
}

void TLearn::installNetwork() {
    // The run's network, also one that an exception stopped: the net counts as learned.
    if (BackPropagationPtr network = thread->network())
        net->setNetwork(network);
}

void TLearn::closeBtnClick() {
    if (!FormCloseQuery())
        return;
    done(learned ? 1 : 2);
}

bool TLearn::FormCloseQuery() const {
    return !thread && !evaluation;
}

void TLearn::evaluateClick() {
    if (thread || evaluation || !net || net->fileCount() == 0 || net->outputCount() == 0)
        return;
    int n = 0;
    if (!readRunIterations(n))
        return;
    EvaluationParameters parameters;
    parameters.learning = {hiddenCountEdit->text().toInt(), n, learningRate, decay};
    parameters.learning.skipUnmatched = skipUnmatched;
    parameters.threshold = net->getThreshold();
    progress->setMaximum(parameters.folds * n);
    progress->setValue(0);
    Button1->setEnabled(false);
    evaluateBtn->setEnabled(false);
    QPointer<TLearn> self(this);
    // Everything it reads is taken from the net here, on this thread.
    evaluation = std::make_unique<EvaluateThread>(
        LearningRun(*net, parameters.learning), net->inputCount(), net->outputCount(), parameters,
        [self](long long done, long long) {
            QMetaObject::invokeMethod(
                self,
                [self, done] {
                    if (self)
                        self->progress->setValue(static_cast<int>(done));
                },
                Qt::QueuedConnection);
        });
    connect(evaluation.get(), &QThread::finished, this, &TLearn::evaluateFinished,
            Qt::QueuedConnection);
    evaluation->start();
}

void TLearn::evaluateFinished() {
    if (!evaluation)
        return;
    evaluation->wait();
    std::unique_ptr<EvaluateThread> ended = std::move(evaluation);
    Button1->setEnabled(true);
    evaluateBtn->setEnabled(true);
    if (!ended->errorText().empty()) {
        QMessageBox::critical(this, "Error", QString::fromStdString(ended->errorText()),
                              QMessageBox::Ok);
        return;
    }
    std::vector<std::string> names;
    for (int o = 0; o < net->outputCount(); ++o)
        names.push_back(net->getOutput(o)->getName());
    const Evaluation& result = ended->result();
    if (!evaluationWindow) {
        evaluationWindow = new QDialog(this);
        evaluationWindow->setObjectName("evaluationWindow");
        evaluationWindow->setWindowTitle(loc("learn.evaluation.title"));
        evaluationText = new QPlainTextEdit(evaluationWindow);
        evaluationText->setObjectName("evaluationText");
        evaluationText->setReadOnly(true);
        evaluationText->setLineWrapMode(QPlainTextEdit::NoWrap);
        evaluationText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        evaluationPicture = new QLabel(evaluationWindow);
        evaluationPicture->setObjectName("evaluationPicture");
        auto* layout = new QVBoxLayout(evaluationWindow);
        layout->addWidget(evaluationText);
        layout->addWidget(evaluationPicture, 0, Qt::AlignHCenter);
    }
    evaluationText->setPlainText(QString::fromStdString(
        locText("learn.evaluation.summary", std::to_string(result.messages)) + "\n" +
        result.report(names, net->getThreshold())));
    evaluationPicture->setPixmap(QPixmap::fromImage(ConfusionPicture(result, names).image()));
    evaluationWindow->resize(std::max(560, evaluationPicture->sizeHint().width() + 40), 640);
    evaluationWindow->show();
}

void TLearn::reject() {
    // Reached from the frame's close button (through closeEvent) and from anyone asking
    // the dialog to cancel: modal result 2, never while a run goes on.
    if (!FormCloseQuery())
        return;
    done(2);
}

void TLearn::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TLearn::keyPressEvent(QKeyEvent* event) {
    // Escape is the Close button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        closeBtnClick();
        return;
    }
    QDialog::keyPressEvent(event);
}
