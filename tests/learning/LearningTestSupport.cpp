#include "LearningTestSupport.h"

#include "mail/StoreMessages.h"
#include "learning/LearnThread.h"
#include "learning/TLearn.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>

ref_ptr<Net> LearningFolder::net() {
    return ref_ptr<Net>(new Net(netFile(), StoreMessages::of(store())));
}

void LearningFolder::fillLearningSet(Net& net, const std::string& name,
                                     const std::vector<std::string>& bodies) {
    STOREFOLDERID id = folder(name);
    std::time_t time = 1700000000;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        std::string base = std::to_string(time + static_cast<std::time_t>(i)) + ".M" +
                           std::to_string(i) + "P1.test";
        deliver(name, base,
                "From: Ann <ann@example.org>\r\nTo: bob@example.org\r\nSubject: m" +
                    std::to_string(i) +
                    "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; "
                    "charset=us-ascii\r\n\r\n" +
                    bodies[i] + "\r\n",
                time + static_cast<std::time_t>(i));
    }
    net.setLearnFolder(std::to_string(id));
    net.loadLearningSet();
}

void LearningFolder::breakStore() {
    std::error_code ignored;
    std::filesystem::remove_all(maildir(), ignored);
    writeFile(maildir(), "not a folder\n");
}

ref_ptr<Net> netWithOutputs(const std::string& netFile,
                            const std::vector<std::pair<std::string, std::string>>& folders,
                            const std::vector<double>& outputs, const std::string& pattern) {
    ref_ptr<Net> net(new Net(netFile, nullptr));
    ref_ptr<NeuronIn> stimulation(new NeuronIn("evidence"));
    stimulation->addRegex(pattern);
    net->addInput(stimulation.get());
    BackPropagationPtr network(new BackPropagation(1, 0, static_cast<int>(outputs.size())));
    for (std::size_t o = 0; o < outputs.size(); ++o) {
        ref_ptr<NeuronOut> folder(new NeuronOut(folders[o].first));
        folder->setAnswer(folders[o].second);
        net->addOutput(folder.get());
        // The logistic of this bias is the output, give or take the last bit.
        double p = outputs[o];
        network->getOb()[o] = p >= 1 ? 800.0 : p <= 0 ? -800.0 : std::log(p / (1 - p));
    }
    net->setNetwork(network);
    return net;
}

ref_ptr<Net> netOfSize(const std::string& netFile, int inputs, int outputs) {
    ref_ptr<Net> net(new Net(netFile, nullptr));
    for (int i = 0; i < inputs; ++i) {
        ref_ptr<NeuronIn> stimulation(new NeuronIn("in" + std::to_string(i)));
        stimulation->addRegex("word" + std::to_string(i));
        net->addInput(stimulation.get());
    }
    for (int o = 0; o < outputs; ++o)
        net->addOutput(new NeuronOut("out" + std::to_string(o)));
    return net;
}

MessageBoxCatcher::MessageBoxCatcher() : timer(new QTimer) {
    timer->setInterval(5);
    // A box answered on first sight could be closed inside its own show(), before exec()
    // has entered its loop, which then never ends: answer it on the second tick.
    QObject::connect(timer, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            sightings = 0;
            return;
        }
        if (++sightings < 2)
            return;
        sightings = 0;
        seen.push_back(box->windowTitle().toStdString() + ": " + box->text().toStdString());
        box->defaultButton() ? box->defaultButton()->click() : box->accept();
    });
    timer->start();
}

MessageBoxCatcher::~MessageBoxCatcher() {
    delete timer;
}

void finishRun(TLearn& dialog) {
    if (LearnThread* thread = dialog.runningThread())
        thread->wait();
    processPosted();
}

void processPosted() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}
