#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "core/Net.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/StoreWorld.h"
#include "tests/support/TempFolder.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

class TLearn;

// A store world for the dialogs: a net over it, a learning set filled into it.
class LearningFolder : public StoreWorld {
public:
    LearningFolder() : StoreWorld("learning") {}

    // A net on this folder's file and store.
    ref_ptr<Net> net();
    // Creates the top-level folder `name` with one message per body (subjects "m<i>"),
    // makes it the net's learning folder and loads the learning set.
    void fillLearningSet(Net& net, const std::string& name, const std::vector<std::string>& bodies);
    // Puts a plain file where the Maildir was, so every store operation that touches the
    // disk fails.
    void breakStore();
};

// A net with the given folders (name, answer) whose network gives the given outputs for
// every text; its one stimulation matches every text ("^"), or the one pattern given.
ref_ptr<Net> netWithOutputs(const std::string& netFile,
                            const std::vector<std::pair<std::string, std::string>>& folders,
                            const std::vector<double>& outputs, const std::string& pattern = "^");
// A net of that many stimulations and folders, not learned.
ref_ptr<Net> netOfSize(const std::string& netFile, int inputs, int outputs);

using ReportRecorder = ErrorRecorder;

// Answers the next modal message box with its default button and keeps its caption and
// text ("caption: text"); polls from the event loop until one appears.
class MessageBoxCatcher {
public:
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    const std::vector<std::string>& texts() const { return seen; }

private:
    std::vector<std::string> seen;
    class QTimer* timer;
    int sightings = 0;
};

// Waits for the dialog's run to end on its thread, then lets the dialog handle what the
// run posted, the end included.
void finishRun(TLearn& dialog);
// Handles every event posted so far.
void processPosted();
