#pragma once

#include <cstdio>
#include <string>

// One command's usage: its operands and options in one line, what it does, and its options
// one by one. The overview of --help and each command's own --help are printed from the
// same table, so they cannot tell different stories.
struct CommandUsage {
    const char* name;
    const char* synopsis;    // after "brevalo-cli NAME"
    const char* description; // one or more sentences, lines of at most 62 characters
    const char* options;     // lines "  --option  meaning", or empty
};

class CommandUsages {
public:
    // The command's entry, or null for a name no command has.
    static const CommandUsage* find(const std::string& name);
    // The overview: every command's synopsis and description, the environment and the
    // exit statuses.
    static void printOverview(std::FILE* stream);
    // The command's usage line, description and options.
    static void printCommand(const CommandUsage& usage, std::FILE* stream);
};
