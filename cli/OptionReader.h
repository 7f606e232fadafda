#pragma once

#include <string>
#include <vector>

// Reads a command's arguments left to right, each in its place: an option, the value of the
// option before it, or an operand. A value is the next argument whatever it looks like (a
// sender taken from a message may be "-h"), or follows "=" in "--name=value"; "--" ends the
// options. --help or -h standing as an option prints the command's usage. Usage errors are printed,
// naming the command.
class OptionReader {
public:
    struct Option {
        const char* name;
        bool takesValue;
    };

    // With operands false, any argument that is not an option is a usage error.
    OptionReader(const char* command, const std::vector<std::string>& arguments,
                 std::vector<Option> options, bool operands = false);

    // Moves to the next option or operand: false at the end, after --help, or after a
    // usage message; finished() then tells which.
    bool next();
    // The option read last is this one (false for an operand).
    bool is(const char* name) const { return !operandRead && option == name; }
    bool isOperand() const { return operandRead; }
    // The value of the option read last, or the operand.
    const std::string& value() const { return text; }
    // The value as a whole number from low to high; else a usage message naming the option
    // and the numbers accepted, and false.
    bool count(int& number, int low = 1, int high = 1000000);
    // Prints "brevalo-cli COMMAND: message" and makes the reading a usage error; false.
    bool fail(const std::string& message);

    // After the loop: the command stops with exitStatus() (--help shown, or bad usage).
    bool finished() const { return stopped; }
    int exitStatus() const { return status; }

private:
    // fail(), then the command's usage on standard error: for an option or operand it
    // does not take.
    bool failWithUsage(const std::string& message);
    bool stop(int exitStatus);

    std::string command;
    const std::vector<std::string>& arguments;
    std::vector<Option> options;
    bool operands;
    std::size_t at = 0;
    bool optionsEnded = false;
    bool operandRead = false;
    std::string option;
    std::string text;
    bool stopped = false;
    int status = 0;
};
