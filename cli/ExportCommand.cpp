#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "mail/NetExchange.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

// The one file the command names ("-": standard input or output); false after a usage message
// or --help, with the status in status.
bool oneFileArgument(const char* command, const Arguments& arguments, std::string& file,
                     int& status) {
    OptionReader options(command, arguments, {}, true);
    int files = 0;
    while (options.next()) {
        file = options.value();
        ++files;
    }
    if (!options.finished() && files != 1)
        options.fail(std::string("name one file (- for standard ") +
                     (std::strcmp(command, "export") == 0 ? "output)" : "input)"));
    status = options.exitStatus();
    return !options.finished();
}

// Written beside its place and renamed over it: an export cut short leaves no half file.
bool writeWhole(const std::string& path, const std::string& text, std::string& error) {
    if (path == "-") {
        // A reader gone away is a failed write (EPIPE) to say, not a silent death.
        std::signal(SIGPIPE, SIG_IGN);
        if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
            std::fflush(stdout) == 0)
            return true;
        error = std::strerror(errno);
        return false;
    }
    std::string temporary = path + ".part";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
                   std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    if (out && std::fclose(out) != 0)
        written = false;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    error = std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
}

} // namespace

int exportCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    std::string file;
    int usage = exitOk;
    if (!oneFileArgument("export", arguments, file, usage))
        return usage;
    CliSession session(environment);
    if (int status = session.open())
        return status;
    std::string text;
    try {
        text = NetExchange::exportNet(*session.net(), session.store());
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot export the net: %s\n", comErrorText(e).c_str());
        return exitFailed;
    }
    std::string error;
    if (!writeWhole(file, text, error)) {
        std::fprintf(stderr, "brevalo-cli: cannot write %s: %s\n",
                     file == "-" ? "the net to standard output" : file.c_str(), error.c_str());
        return exitFailed;
    }
    return exitOk;
}

int importCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    std::string file;
    int usage = exitOk;
    if (!oneFileArgument("import", arguments, file, usage))
        return usage;
    std::string text;
    if (file == "-") {
        // Without the standard streams, whose set-up every start of the program would pay.
        char buffer[65536];
        for (ssize_t got; (got = ::read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                std::fprintf(stderr, "brevalo-cli: cannot read the standard input: %s\n",
                             std::strerror(errno));
                return exitFailed;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "brevalo-cli: cannot read %s: %s\n", file.c_str(),
                         std::strerror(errno));
            return exitFailed;
        }
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    CliSession session(environment);
    if (int status = session.openForChange())
        return status;
    NetImport result;
    try {
        result = NetExchange::importNet(text, *session.net(), session.store());
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot import %s: %s\n", file.c_str(),
                     comErrorText(e).c_str());
        return exitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brevalo-cli: cannot import %s: %s\n", file.c_str(), e.what());
        return exitFailed;
    }
    std::printf("imported the net into %s; %d learning message%s linked to %s folders\n",
                environment.netFile().c_str(), result.linked, result.linked == 1 ? "" : "s",
                result.linked == 1 ? "its" : "their");
    if (!result.missing.empty()) {
        std::printf("%zu assigned message%s not in the learning folder:\n", result.missing.size(),
                    result.missing.size() == 1 ? " is" : "s are");
        for (const std::string& key : result.missing)
            std::printf("\t%s\n", key.c_str());
    }
    return exitOk;
}
