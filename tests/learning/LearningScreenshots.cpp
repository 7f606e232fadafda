// Pictures of the learning dialog (after a finished run, with its curve) and of the test
// dialog (the folders found for a text and the suggested response), without a display.
//
// Usage: learning_screenshots <output folder>
// Writes learn-dialog.png, test-dialog-folders.png and test-dialog-content.png.

#include "LearningTestSupport.h"

#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "learning/LearnThread.h"
#include "learning/TLearn.h"
#include "learning/TTest.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTabWidget>

#include <cstdio>

namespace {

struct Topic {
    const char* folder;
    const char* answer;
    const char* word;
};

const Topic topics[] = {
    {"Orders", "Thank you for your order; it is being prepared.", "order"},
    {"Invoices", "Our accounts team will check the invoice.", "invoice"},
    {"Support", "", "problem"},
};

ref_ptr<Net> trainedNet(LearningFolder& folder) {
    ref_ptr<Net> net = folder.net();
    for (const Topic& topic : topics) {
        ref_ptr<NeuronIn> stimulation(new NeuronIn(topic.word));
        stimulation->addRegex(topic.word);
        net->addInput(stimulation.get());
        ref_ptr<NeuronOut> output(new NeuronOut(topic.folder));
        output->setAnswer(topic.answer);
        net->addOutput(output.get());
    }
    ref_ptr<NeuronIn> urgent(new NeuronIn("urgent"));
    urgent->addRegex("urgent|asap");
    net->addInput(urgent.get());

    std::vector<std::string> bodies;
    std::vector<std::vector<int>> targets;
    for (int i = 0; i < 60; ++i) {
        int a = i % 3;
        int b = (i / 3) % 3;
        std::string body = std::string("About my ") + topics[a].word;
        // Some messages are filed against their words, as real learning sets are: the
        // error levels off above zero instead of vanishing.
        std::vector<int> chosen{i % 7 == 3 ? (a + 1) % 3 : a};
        if (i % 5 == 0 && b != a) {
            body += std::string(" and a ") + topics[b].word;
            chosen.push_back(b);
        }
        if (i % 4 == 0)
            body += ", urgent";
        bodies.push_back(body);
        targets.push_back(chosen);
    }
    folder.fillLearningSet(*net, "Learn", bodies);
    for (int i = 0; i < net->fileCount(); ++i)
        for (int target : targets[static_cast<std::size_t>(i)])
            net->getFile(i)->addTarget(net->getOutput(target).get());
    return net;
}

bool save(QWidget& widget, const QString& path) {
    if (widget.grab().save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    locOpen(QApplication::applicationDirPath().toStdString() + "/strings.ini");
    setLogToStderr(false);

    LearningFolder folder;
    ref_ptr<Net> net = trainedNet(folder);
    bool ok = true;
    {
        TLearn learn;
        if (!learn.setNet(net))
            return 1;
        learn.show();
        QEventLoop loop;
        learn.Button1Click();
        if (LearnThread* thread = learn.runningThread()) {
            QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit,
                             Qt::QueuedConnection);
            loop.exec();
        }
        QApplication::processEvents();
        ok = save(learn, out.filePath("learn-dialog.png")) && ok;
    }
    {
        TTest test;
        // The folders this text belongs to reach about 75%.
        net->setThreshold(70);
        test.setNet(net);
        test.setText("Hello,\r\nplease send me the invoice for my last order again.\r\n"
                     "It is urgent.\r\n\r\nAnn");
        test.resize(560, 600);
        test.show();
        QApplication::processEvents();
        ok = save(test, out.filePath("test-dialog-content.png")) && ok;
        test.findChild<QPushButton*>("propagateBtn")->click();
        QApplication::processEvents();
        ok = save(test, out.filePath("test-dialog-folders.png")) && ok;
        // The threshold the slider stored stays in the temporary net file.
        test.setNet(nullptr);
    }
    return ok ? 0 : 1;
}
