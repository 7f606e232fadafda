#include "cli/ProgressBar.h"

#include <string>
#include <unistd.h>

ProgressBar::ProgressBar(std::FILE* out, int total)
    : out(out), total(total < 1 ? 1 : total), terminal(isatty(fileno(out)) != 0),
      start(std::chrono::steady_clock::now()), lastDraw(start) {}

double ProgressBar::elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ProgressBar::update(int iteration, double error) {
    int done = iteration + 1 < total ? iteration + 1 : total;
    if (terminal) {
        auto now = std::chrono::steady_clock::now();
        if (done < total && now - lastDraw < std::chrono::milliseconds(100))
            return;
        lastDraw = now;
        constexpr int width = 30;
        int filled = static_cast<int>(static_cast<long long>(done) * width / total);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(width - filled), '.');
        std::fprintf(out, "\r[%s] iteration %d/%d  error %.4f  %.1f s", bar.c_str(), done, total,
                     error, elapsed());
        std::fflush(out);
        return;
    }
    int tenth = static_cast<int>(static_cast<long long>(done) * 10 / total);
    if (tenth == lastTenth)
        return;
    lastTenth = tenth;
    std::fprintf(out, "iteration %d/%d  error %.4f  %.1f s\n", done, total, error, elapsed());
    std::fflush(out);
}

void ProgressBar::finish(double error) {
    if (terminal)
        std::fprintf(out, "\n");
    std::fprintf(out, "learned: final error %.4f in %.1f s\n", error, elapsed());
    std::fflush(out);
}
