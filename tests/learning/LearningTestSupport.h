#pragma once

#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "platform/Store.h"
#include "core/Net.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

class TLearn;

// A fresh folder holding a net file ("zelko.ini") and a Maildir store ("Maildir"),
// removed with everything in it at the end.
class LearningFolder {
public:
    LearningFolder();
    LearningFolder(const LearningFolder&) = delete;
    LearningFolder& operator=(const LearningFolder&) = delete;
    ~LearningFolder();

    const std::string& path() const { return root; }
    std::string netFile() const { return root + "/zelko.ini"; }
    std::string maildir() const { return root + "/Maildir"; }

    // The store over maildir(), opened on first use.
    IStoreNamespace* store();
    // A net on this folder's file and store.
    ref_ptr<Net> net();
    // Creates the top-level folder `name` with one message per body (subjects "m<i>"),
    // makes it the net's learning folder and loads the learning set.
    void fillLearningSet(Net& net, const std::string& name, const std::vector<std::string>& bodies);
    // Closes the store and puts a plain file where the Maildir was, so every store
    // operation that touches the disk fails.
    void breakStore();

private:
    std::string root;
    com_ptr<IStoreNamespace> opened;
};

// A net with the given folders (name, answer) whose network gives the given outputs for
// every text; its one stimulation matches every text ("^"), or the one pattern given.
ref_ptr<Net> netWithOutputs(const std::string& netFile,
                            const std::vector<std::pair<std::string, std::string>>& folders,
                            const std::vector<double>& outputs, const std::string& pattern = "^");
// A net of that many stimulations and folders, not learned.
ref_ptr<Net> netOfSize(const std::string& netFile, int inputs, int outputs);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

// Records every error report (caption: text) while it lives.
class ReportRecorder {
public:
    ReportRecorder();
    ~ReportRecorder();
    const std::vector<std::string>& texts() const { return recorded; }

private:
    std::vector<std::string> recorded;
    ErrorReporter previous;
};

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
