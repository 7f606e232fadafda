#include "cli/OptionReader.h"

#include "cli/CommandUsages.h"
#include "cli/Commands.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

OptionReader::OptionReader(const char* command, const std::vector<std::string>& arguments,
                           std::vector<Option> options, bool operands)
    : command(command), arguments(arguments), options(std::move(options)), operands(operands) {}

bool OptionReader::next() {
    if (stopped)
        return false;
    while (at < arguments.size()) {
        const std::string& argument = arguments[at++];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        // "-" alone names standard input or output: an operand.
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (!operands)
                return failWithUsage("unexpected argument '" + argument + "'");
            operandRead = true;
            option.clear();
            text = argument;
            return true;
        }
        if (argument == "--help" || argument == "-h") {
            if (const CommandUsage* usage = CommandUsages::find(command))
                CommandUsages::printCommand(*usage, stdout);
            else
                printUsage(stdout);
            return stop(exitOk);
        }
        operandRead = false;
        option = argument;
        std::size_t equals = argument.find('=');
        bool joined = argument.rfind("--", 0) == 0 && equals != std::string::npos;
        if (joined)
            option.resize(equals);
        const Option* known = nullptr;
        for (const Option& candidate : options)
            if (!known && option == candidate.name)
                known = &candidate;
        if (!known)
            return failWithUsage("unknown option '" + option + "'");
        if (!known->takesValue) {
            if (joined)
                return fail(option + " takes no value");
            text.clear();
            return true;
        }
        if (joined) {
            // "--from=" is the empty value, as a transfer agent passes a bounce's sender.
            text = argument.substr(equals + 1);
            return true;
        }
        if (at == arguments.size())
            return fail("a value is missing after '" + option + "'");
        text = arguments[at++];
        return true;
    }
    return false;
}

bool OptionReader::count(int& number, int low, int high) {
    char* end = nullptr;
    long read = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || read < low || read > high)
        return fail(option + " takes a whole number from " + std::to_string(low) + " to " +
                    std::to_string(high) + ", not '" + text + "'");
    number = static_cast<int>(read);
    return true;
}

bool OptionReader::fail(const std::string& message) {
    std::fprintf(stderr, "brevalo-cli %s: %s\n", command.c_str(), message.c_str());
    return stop(exitUsage);
}

bool OptionReader::failWithUsage(const std::string& message) {
    fail(message);
    if (const CommandUsage* usage = CommandUsages::find(command)) {
        std::fputs("\n", stderr);
        CommandUsages::printCommand(*usage, stderr);
    }
    return false;
}

bool OptionReader::stop(int exitStatus) {
    stopped = true;
    status = exitStatus;
    return false;
}
