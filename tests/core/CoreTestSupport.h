#pragma once

#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "platform/Store.h"
#include "core/Net.h"

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

// A fresh folder for one test holding the net file ("zelko.ini") and a Maildir store
// ("Maildir"); removed with everything in it at the end.
class CoreTestFolder {
public:
    CoreTestFolder();
    CoreTestFolder(const CoreTestFolder&) = delete;
    CoreTestFolder& operator=(const CoreTestFolder&) = delete;
    ~CoreTestFolder();

    const std::string& path() const { return root; }
    std::string file(const std::string& name) const { return root + "/" + name; }
    std::string netFile() const { return file("zelko.ini"); }
    std::string maildir() const { return file("Maildir"); }

    // The store over maildir(), opened on first use.
    IStoreNamespace* store();
    // A top-level folder of the store (created when missing) and its directory.
    STOREFOLDERID folder(const std::string& name);
    std::string folderPath(const std::string& name) const { return maildir() + "/." + name; }
    // Writes a message file into cur/ of the folder's directory (tmp/, then rename) with
    // the given modification time, so the store's ids follow the order of the times.
    void deliver(const std::string& folderName, const std::string& baseName,
                 const std::string& content, std::time_t mtime);

private:
    std::string root;
    com_ptr<IStoreNamespace> opened;
};

// A plain-text message with the given subject and body.
std::string plainMessage(const std::string& subject, const std::string& body);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

// Records every debugLog line while it lives (and keeps them off standard error).
class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    std::vector<std::string> lines() const;
    bool contains(const std::string& text) const;

private:
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
};

// Records every error box (caption, text) while it lives.
class ErrorRecorder {
public:
    ErrorRecorder();
    ~ErrorRecorder();
    std::vector<std::string> texts() const;

private:
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    ErrorReporter previous;
};

// Every weight and bias of the network, rows first, for comparing networks bit for bit.
std::vector<double> networkWeights(const BackPropagation& network);

// Builders of test nets.
ref_ptr<NeuronIn> stimulationOf(const std::string& name, std::vector<std::string> patterns);
ref_ptr<NeuronOut> folderOf(const std::string& name, const std::string& answer = {},
                            std::vector<std::string> emails = {});
