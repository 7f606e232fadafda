#include "CoreTestSupport.h"

#include "util/Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>

CoreTestFolder::CoreTestFolder() {
    std::string pattern = testing::TempDir() + "brevalo-core-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    root = pattern;
}

CoreTestFolder::~CoreTestFolder() {
    opened.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

IStoreNamespace* CoreTestFolder::store() {
    if (!opened) {
        HRESULT hr = createStoreRoot(maildir());
        if (SUCCEEDED(hr))
            hr = createStoreNamespace(maildir(), opened.out());
        if (FAILED(hr))
            throw std::runtime_error("createStoreNamespace failed");
        opened->Initialize(nullptr, 1);
    }
    return opened.get();
}

STOREFOLDERID CoreTestFolder::folder(const std::string& name) {
    STOREFOLDERID id = FOLDERID_INVALID;
    if (FAILED(store()->CreateFolder(FOLDERID_ROOT, name.c_str(), 0, &id)))
        throw std::runtime_error("CreateFolder failed for " + name);
    return id;
}

void CoreTestFolder::deliver(const std::string& folderName, const std::string& baseName,
                             const std::string& content, std::time_t mtime) {
    std::string dir = folderPath(folderName);
    std::string tmp = dir + "/tmp/" + baseName;
    writeFile(tmp, content);
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, tmp.c_str(), times, 0);
    std::filesystem::rename(tmp, dir + "/cur/" + baseName + ":2,S");
}

std::string plainMessage(const std::string& subject, const std::string& body) {
    return "From: Ann Example <ann@example.org>\r\nTo: bob@example.org\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + body +
           "\r\n";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

LogRecorder::LogRecorder() {
    setLogToStderr(false);
    setLogSink([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.push_back(line);
    });
}

LogRecorder::~LogRecorder() {
    setLogSink({});
    setLogToStderr(true);
}

std::vector<std::string> LogRecorder::lines() const {
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

bool LogRecorder::contains(const std::string& text) const {
    for (const std::string& line : lines()) {
        if (line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

ErrorRecorder::ErrorRecorder() {
    previous = setErrorReporter([this](const std::string& caption, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.push_back(caption + ": " + text);
    });
}

ErrorRecorder::~ErrorRecorder() {
    setErrorReporter(previous);
}

std::vector<std::string> ErrorRecorder::texts() const {
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

std::vector<double> networkWeights(const BackPropagation& network) {
    std::vector<double> all;
    for (int h = 0; h < network.getHiddenCount(); ++h)
        all.insert(all.end(), network.hwRow(h), network.hwRow(h) + network.getInputCount());
    for (int o = 0; o < network.getOutputCount(); ++o)
        all.insert(all.end(), network.owRow(o), network.owRow(o) + network.getHiddenCount());
    all.insert(all.end(), network.getHb(), network.getHb() + network.getHiddenCount());
    all.insert(all.end(), network.getOb(), network.getOb() + network.getOutputCount());
    return all;
}

ref_ptr<NeuronIn> stimulationOf(const std::string& name, std::vector<std::string> patterns) {
    ref_ptr<NeuronIn> neuron(new NeuronIn(name));
    for (const std::string& pattern : patterns)
        neuron->addRegex(pattern);
    return neuron;
}

ref_ptr<NeuronOut> folderOf(const std::string& name, const std::string& answer,
                            std::vector<std::string> emails) {
    ref_ptr<NeuronOut> neuron(new NeuronOut(name));
    neuron->setAnswer(answer);
    neuron->setEmails(emails);
    return neuron;
}
