#pragma once

#include <chrono>
#include <cstdio>

// Progress of a learning run: a bar redrawn in place on a terminal, one line per tenth
// of the run otherwise (logs stay short).
class ProgressBar {
public:
    ProgressBar(std::FILE* out, int total);
    void update(int iteration, double error);
    void finish(double error);

private:
    double elapsed() const;

    std::FILE* out;
    int total;
    bool terminal;
    int lastTenth = -1;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
};
