#pragma once

#include "cli/CliEnvironment.h"

#include <string>
#include <vector>

// The subcommands of brevalo-cli; each returns the process's exit status.
using Arguments = std::vector<std::string>;

int sortCommand(const CliEnvironment& environment, const Arguments& arguments);
int classifyCommand(const CliEnvironment& environment, const Arguments& arguments);
int learnCommand(const CliEnvironment& environment, const Arguments& arguments);
int checkCommand(const CliEnvironment& environment, const Arguments& arguments);
int demoCommand(const CliEnvironment& environment, const Arguments& arguments);

// Exit statuses shared by the commands.
constexpr int exitOk = 0;
constexpr int exitFailed = 1;
constexpr int exitRefused = 2; // another sorter runs, or the net is not learned
constexpr int exitUsage = 64;
