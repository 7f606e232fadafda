#include "learning/TTest.h"

#include "platform/profile/Loc.h"
#include "core/HeaderField.h"
#include "core/MatchBudget.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QVBoxLayout>

#include <cmath>
#include <map>

namespace {

constexpr int defaultThreshold = 80;

QString loc(const char* key) {
    return QString::fromStdString(locText(key));
}

// Image 0: a green tick for a chosen folder.
QIcon chosenMark() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(0, 140, 60));
    pen.setWidthF(2.5);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
    return QIcon(pixmap);
}

// The slider position for a stored threshold: truncated toward zero and kept within
// 0 to 100; a stored text that reads as no number at all gives the default.
int sliderValue(double threshold) {
    if (std::isnan(threshold))
        return defaultThreshold;
    if (threshold <= 0)
        return 0;
    if (threshold >= 100)
        return 100;
    return static_cast<int>(threshold);
}

std::string memoText(const QPlainTextEdit* memo) {
    std::string text;
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
        if (block != memo->document()->begin())
            text += "\r\n";
        text += block.text().toStdString();
    }
    return text;
}

QString memoFromText(const std::string& text) {
    QString converted = QString::fromStdString(text);
    converted.replace("\r\n", "\n");
    converted.replace('\r', '\n');
    return converted;
}

} // namespace

TTest::TTest(QWidget* parent) : QDialog(parent) {
    setWindowTitle(loc("test.title"));
    setSizeGripEnabled(true);

    contentanswerPane = new QGroupBox(loc("test.paneContentAnswer"), this);
    contentanswerPane->setObjectName("contentanswerPane");
    contentanswerTabs = new QTabWidget(contentanswerPane);
    contentanswerTabs->setObjectName("contentanswerTabs");
    contentTab = new QWidget;
    contentTab->setObjectName("contentTab");
    contentMemo = new QPlainTextEdit(contentTab);
    contentMemo->setObjectName("contentMemo");
    contentMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    (new QVBoxLayout(contentTab))->addWidget(contentMemo);
    answerTab = new QWidget;
    answerTab->setObjectName("answerTab");
    answerMemo = new QPlainTextEdit(answerTab);
    answerMemo->setObjectName("answerMemo");
    answerMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    (new QVBoxLayout(answerTab))->addWidget(answerMemo);
    contentanswerTabs->addTab(contentTab, loc("test.tabContent"));
    contentanswerTabs->addTab(answerTab, loc("test.tabAnswer"));

    thresholdBar = new QSlider(Qt::Horizontal, contentanswerPane);
    thresholdBar->setObjectName("thresholdBar");
    thresholdBar->setRange(0, 100);
    thresholdBar->setPageStep(10);
    thresholdBar->setTickInterval(10);
    thresholdBar->setTickPosition(QSlider::TicksAbove);
    thresholdEdit = new QLineEdit(contentanswerPane);
    thresholdEdit->setObjectName("thresholdEdit");
    thresholdEdit->setReadOnly(true);
    thresholdEdit->setFixedWidth(48);
    thresholdEdit->setAlignment(Qt::AlignRight);
    thresholdLabel = new QLabel(loc("test.threshold"), contentanswerPane);
    thresholdLabel->setObjectName("thresholdLabel");
    thresholdLabel->setBuddy(thresholdBar);
    Label1 = new QLabel("%", contentanswerPane);
    Label1->setObjectName("Label1");
    propagateBtn = new QPushButton(loc("test.buttonFind"), contentanswerPane);
    propagateBtn->setObjectName("propagateBtn");
    // Enter runs it from anywhere but the text, where it starts a new line; there
    // Ctrl+Enter does.
    propagateBtn->setDefault(true);

    auto* thresholdRow = new QHBoxLayout;
    thresholdRow->addWidget(thresholdLabel);
    thresholdRow->addWidget(thresholdBar, 1);
    thresholdRow->addWidget(thresholdEdit);
    thresholdRow->addWidget(Label1);
    auto* upper = new QVBoxLayout(contentanswerPane);
    upper->addWidget(contentanswerTabs, 1);
    upper->addLayout(thresholdRow);
    upper->addWidget(propagateBtn, 0, Qt::AlignLeft);

    folderPane = new QGroupBox(loc("test.paneFolders"), this);
    folderPane->setObjectName("folderPane");
    folderList = new QTableWidget(0, 2, folderPane);
    folderList->setObjectName("folderList");
    folderList->horizontalHeader()->hide();
    folderList->verticalHeader()->hide();
    folderList->setShowGrid(true);
    folderList->setSelectionBehavior(QAbstractItemView::SelectRows);
    folderList->setSelectionMode(QAbstractItemView::SingleSelection);
    folderList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    folderList->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    folderList->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    folderList->verticalHeader()->setDefaultSectionSize(20);
    folderList->setIconSize(QSize(16, 16));
    (new QVBoxLayout(folderPane))->addWidget(folderList);
    folderImages.append(chosenMark());

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->addWidget(contentanswerPane);
    Splitter1->addWidget(folderPane);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setStretchFactor(0, 3);
    Splitter1->setStretchFactor(1, 2);

    closeBtn = new QPushButton(loc("test.buttonClose"), this);
    closeBtn->setObjectName("closeBtn");
    closeBtn->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(closeBtn);
    auto* main = new QVBoxLayout(this);
    main->addWidget(Splitter1, 1);
    main->addLayout(buttons);
    resize(520, 560);

    connect(thresholdBar, &QSlider::valueChanged, this, &TTest::thresholdBarChange);
    connect(propagateBtn, &QPushButton::clicked, this, &TTest::propagateBtnClick);
    for (QKeyCombination keys :
         {Qt::ControlModifier | Qt::Key_Return, Qt::ControlModifier | Qt::Key_Enter,
          Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(keys), this), &QShortcut::activated, propagateBtn,
                [this] { propagateBtn->click(); });
    connect(closeBtn, &QPushButton::clicked, this, &TTest::closeBtnClick);
    FormCreate();
}

void TTest::FormCreate() {
    // No net yet: the change only shows the value.
    thresholdBar->setValue(defaultThreshold);
}

void TTest::setNet(const ref_ptr<Net>& newNet) {
    net = newNet;
    if (!net)
        return;
    propagateBtn->setEnabled(net->isLearned());
    thresholdBar->setValue(sliderValue(net->getThreshold()));
}

void TTest::thresholdBarChange() {
    int value = thresholdBar->value();
    thresholdEdit->setText(QString::asprintf("%d", value));
    if (!net)
        return;
    if (net->getThreshold() != value)
        net->setThreshold(value);
}

void TTest::setText(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::string body(HeaderField::split(text, &fields));
    headerFields.assign(fields.begin(), fields.end());
    contentMemo->setPlainText(memoFromText(body));
    contentanswerTabs->setCurrentWidget(contentTab);
    folderList->clearSpans();
    folderList->setRowCount(0);
    propagateBtn->setFocus();
}

std::string TTest::contentText() const {
    return memoText(contentMemo);
}

std::string TTest::answerText() const {
    return memoText(answerMemo);
}

void TTest::propagateBtnClick() {
    if (!net)
        return;
    // A pasted message gets the sorter's bound on its matching: the dialog never hangs on
    // a pattern that backtracks without end.
    MatchBudget budget("test dialog text");
    std::string text = contentText();
    if (!headerFields.empty())
        text = HeaderField::attach(std::move(text), headerFields);
    Classification result = net->classification(text, budget);
    if (!result.hasResult())
        return;
    folderList->clearSpans();
    folderList->setRowCount(0);
    if (!result.hasEvidence()) {
        // What the sorter does with it: nothing. Percentages would only show the biases.
        QString text = loc("test.nostimulation");
        folderList->insertRow(0);
        folderList->setItem(0, 0, new QTableWidgetItem(text));
        folderList->setSpan(0, 0, 1, 2);
        answerMemo->setPlainText(text);
        contentanswerTabs->setCurrentWidget(answerTab);
        propagateBtn->setFocus();
        return;
    }
    int threshold = thresholdBar->value();
    std::string body;
    int chosen = 0;
    int count = std::min<int>(result.outputCount(), net->outputCount());
    for (int i = 0; i < count; ++i) {
        ref_ptr<NeuronOut> folder = net->getOutput(i);
        bool isChosen = result.isChosen(i, threshold);
        int row = isChosen ? chosen++ : folderList->rowCount();
        folderList->insertRow(row);
        folderList->setItem(row, 0,
                            new QTableWidgetItem(QString::fromStdString(folder->getName())));
        auto* value = new QTableWidgetItem(QString::asprintf("%.01f%%", result.percent(i)));
        if (isChosen)
            value->setIcon(folderImages.value(0));
        folderList->setItem(row, 1, value);
        if (!isChosen)
            continue;
        std::string answer = folder->getAnswer();
        if (answer.empty())
            answer = locText("test.answer.folder", folder->getName());
        body += answer + "\r\n\r\n";
    }
    std::string response;
    if (body.empty())
        response = locText("test.noanswer");
    else
        response =
            locText("test.answer.header") + "\r\n\r\n" + body + locText("test.answer.footer");
    answerMemo->setPlainText(memoFromText(response));
    contentanswerTabs->setCurrentWidget(answerTab);
    propagateBtn->setFocus();
}

void TTest::closeBtnClick() {
    done(2);
}

void TTest::reject() {
    // Escape and the frame's close button: Cancel as well.
    done(2);
}
