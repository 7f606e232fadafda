#include "util/ErrorReport.h"

#include "util/Log.h"

#include <cstdio>

namespace {
void printReport(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

ErrorReporter& reporter() {
    static ErrorReporter current = printReport;
    return current;
}
} // namespace

std::string comErrorText(const ComException& e) {
    std::string what = e.what();
    // The plain failure code adds nothing to a text that names what failed.
    std::string reason = resultText(e.hr());
    if (what.empty())
        return reason;
    if (e.hr() != static_cast<HRESULT>(0x80004005u))
        what += ": " + reason;
    return what;
}

std::string comErrorText(const ComException& e, const std::string& action) {
    return action + " failed: " + comErrorText(e);
}

void showComError(const ComException& e, const std::string& action) {
    reportError("Error", comErrorText(e, action));
}

ErrorReporter setErrorReporter(ErrorReporter next) {
    ErrorReporter previous = std::move(reporter());
    reporter() = next ? std::move(next) : ErrorReporter(printReport);
    return previous;
}

void reportError(const std::string& caption, const std::string& text) {
    reporter()(caption, text);
}
