#pragma once

#include <string>

// A fresh folder for one test, removed with everything in it at the end (after giving
// back the write permission a test may have taken from it).
class TempFolder {
public:
    // label names the folder ("brevalo-<label>-XXXXXX") for whoever looks in the temp folder.
    explicit TempFolder(const std::string& label = "test");
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
// Replaces the file's content.
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
// Waits until the file holds text, woken by every change in the file's folder (the limit
// only keeps a broken program from hanging the test). Whether the text came.
bool waitForText(const std::string& path, const std::string& text, int limitMs = 30000);
