#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/ParallelFor.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "platform/profile/Loc.h"
#include "core/BackPropagation.h"
#include "core/Classification.h"
#include "core/InputMatcher.h"
#include "core/MatchBudget.h"
#include "core/Net.h"
#include "core/NeuronOut.h"
#include "mail/MessageText.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool readInput(const std::string& path, std::string& bytes, std::string& error) {
    // One read of the whole file where the size allows: a stream read byte by byte cost
    // as much as parsing the message. Standard input is read the same way, without the
    // standard streams, whose set-up every start of the program would pay.
    bool standardInput = path == "-";
    int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        if (fd >= 0 && !standardInput)
            ::close(fd);
        return false;
    }
    bytes.clear();
    bytes.resize(S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) + 1 : 65536);
    std::size_t size = 0;
    for (;;) {
        if (size == bytes.size())
            bytes.resize(bytes.size() * 2);
        ssize_t n = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            if (!standardInput)
                ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    if (!standardInput)
        ::close(fd);
    bytes.resize(size);
    return true;
}

// What reading and classifying one message file gave: its classification, or the error
// to print.
struct Classified {
    Classification result;
    std::string error;
};

// What every thread classifies with: the net's compiled stimulations, shared, and a
// network of the thread's own (running a network writes into its buffers).
struct Classifier {
    const Net* net;
    const InputMatcher* matcher;
    BackPropagation* network;
};

// The learned network's weights in a network of its own, bit for bit, for another thread:
// it gives the same outputs as the original.
BackPropagationPtr copyNetwork(const BackPropagation& network) {
    int inputs = network.getInputCount();
    int hidden = network.getHiddenCount();
    int outputs = network.getOutputCount();
    BackPropagationPtr copy(new BackPropagation(inputs, hidden, outputs));
    for (int h = 0; h < hidden; ++h)
        std::copy_n(network.hwRow(h), inputs, copy->hwRow(h));
    for (int o = 0; o < outputs; ++o)
        std::copy_n(network.owRow(o), hidden, copy->owRow(o));
    std::copy_n(network.getHb(), hidden, copy->getHb());
    std::copy_n(network.getOb(), outputs, copy->getOb());
    return copy;
}

// As Net::classification, with the thread's network.
Classification classification(const Classifier& classifier, const std::string& text,
                              MatchBudget& budget) {
    const Net& net = *classifier.net;
    BackPropagation& network = *classifier.network;
    // A net whose neurons changed since learning classifies nothing (see Net).
    if (network.getInputCount() != net.inputCount() ||
        network.getOutputCount() != net.outputCount())
        return {};
    return Classification::of(network, classifier.matcher->inputVector(text, budget));
}

// Safe on any thread: a thread other than the first gets an HTML document of its own.
Classified classifyFile(const std::string& path, const Classifier& classifier) {
    Classified done;
    std::string bytes, error;
    if (!readInput(path, bytes, error)) {
        done.error = "cannot read " + path + ": " + error;
        return done;
    }
    std::string text;
    try {
        // When no stimulation looks at a header field, only the body is read: the header
        // fields are not parsed at all.
        const std::vector<std::string>& fields = classifier.matcher->headerFields();
        if (fields.empty()) {
            com_ptr<IMimeBody> body;
            checkHr(MimeOleCreateBody(bytes, body.out()), "parse " + path);
            text = messageText(body.get());
        } else {
            com_ptr<IMimeMessage> message;
            checkHr(MimeOleCreateMessage(bytes, FILETIME{}, message.out()), "parse " + path);
            text = classifiedText(message.get(), fields);
        }
    } catch (const ComException& e) {
        done.error = "cannot classify " + path + ": " + comErrorText(e);
        return done;
    }
    MatchBudget budget(path);
    done.result = classification(classifier, text, budget);
    return done;
}

void printListing(const std::string& path, Net* net, const Classification& result, double threshold,
                  bool tsv) {
    int count = result.outputCount();
    if (tsv) {
        // The rows stay for every message; without evidence none is chosen.
        for (int o = 0; o < count; ++o)
            std::printf("%s\t%s\t%.1f\t%d\n", path.c_str(), net->getOutput(o)->getName().c_str(),
                        result.percent(o), result.isChosen(o, threshold) ? 1 : 0);
        return;
    }
    std::printf("%s\n", path.c_str());
    if (!result.hasEvidence()) {
        // The sorter leaves such a message in the inbox: its percentages mean nothing.
        std::printf("  no stimulation matches\n");
        return;
    }
    // Highest first, the chosen ones marked; at one percentage, in the network's order.
    std::vector<int> order(static_cast<std::size_t>(count));
    for (int o = 0; o < count; ++o)
        order[static_cast<std::size_t>(o)] = o;
    std::stable_sort(order.begin(), order.end(),
                     [&result](int a, int b) { return result.percent(a) > result.percent(b); });
    // The names' column as wide as the widest name a terminal shows, within reason.
    constexpr std::size_t widest = 40;
    std::size_t width = 1;
    for (int o = 0; o < count; ++o)
        width = std::max(width, std::min(widest, displayWidth(net->getOutput(o)->getName())));
    for (int o : order)
        std::printf("  %s %s %6.1f%%\n", result.isChosen(o, threshold) ? "*" : " ",
                    fitToWidth(net->getOutput(o)->getName(), width).c_str(), result.percent(o));
}

} // namespace

int classifyCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    bool tsv = false;
    bool thresholdGiven = false;
    double threshold = 0;
    std::vector<std::string> files;
    OptionReader options("classify", arguments, {{"--tsv", false}, {"--threshold", true}}, true);
    while (options.next()) {
        if (options.isOperand()) {
            files.push_back(options.value());
        } else if (options.is("--tsv")) {
            tsv = true;
        } else {
            const std::string& value = options.value();
            char* end = nullptr;
            threshold = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(threshold >= 0 && threshold <= 100))
                options.fail("--threshold takes a percentage from 0 to 100, not '" + value + "'");
            thresholdGiven = true;
        }
    }
    if (options.finished())
        return options.exitStatus();
    if (files.empty()) {
        std::fprintf(stderr, "brevalo-cli classify: name at least one message file (- for "
                             "standard input)\n");
        return exitUsage;
    }
    CliSession session(environment);
    session.openNetOnly();
    Net* net = session.net();
    if (!net->damage().empty())
        return exitFailed; // said by the session
    if (!net->isLearned()) {
        std::fprintf(stderr,
                     "brevalo-cli: the net in %s is not learned; run 'brevalo-cli learn' first\n",
                     environment.netFile().c_str());
        return exitRefused;
    }
    if (!thresholdGiven)
        threshold = net->getThreshold();
    // Reading a message (the file, MIME, HTML) is most of the work, and with hundreds of
    // stimulations matching and running the network are much of the rest: the files of a
    // window are read and classified on every processor, then printed here, in their order.
    bool stdinNamed = std::find(files.begin(), files.end(), "-") != files.end();
    std::size_t threads =
        stdinNamed ? 1 : std::max(1u, std::thread::hardware_concurrency()); // one reader of stdin
    threads = std::min(threads, files.size());
    InputMatcher matcher(*net);
    std::vector<BackPropagationPtr> copies{net->getNetwork()};
    for (std::size_t t = 1; t < threads; ++t)
        copies.push_back(copyNetwork(*net->getNetwork()));
    constexpr std::size_t window = 256;
    int status = exitOk;
    for (std::size_t from = 0; from < files.size(); from += window) {
        std::size_t to = std::min(files.size(), from + window);
        std::vector<Classified> done(to - from);
        parallelFor(to - from, threads, [&](std::size_t i, std::size_t thread) {
            done[i] = classifyFile(files[from + i], {net, &matcher, copies[thread].get()});
        });
        for (std::size_t i = from; i < to; ++i) {
            const Classified& got = done[i - from];
            if (!got.error.empty()) {
                std::fprintf(stderr, "brevalo-cli: %s\n", got.error.c_str());
                status = exitFailed;
                continue;
            }
            if (!got.result.hasResult()) {
                std::fprintf(stderr, "brevalo-cli: the net must be learned again: its stimulations "
                                     "or folders changed since it was learned\n");
                return exitRefused;
            }
            printListing(files[i], net, got.result, threshold, tsv);
        }
    }
    return status;
}
