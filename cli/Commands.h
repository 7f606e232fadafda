#pragma once

#include "sorting/ProgramEnvironment.h"

#include <cstdio>
#include <string>
#include <vector>

// The subcommands of brevalo-cli; each returns the process's exit status.
using Arguments = std::vector<std::string>;

int sortCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int classifyCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int learnCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int checkCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int deliverCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int lmtpCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int demoCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int logCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int undoCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int suggestCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int evaluateCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int exportCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int importCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int folderCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int stimulationCommand(const ProgramEnvironment& environment, const Arguments& arguments);
int assignCommand(const ProgramEnvironment& environment, const Arguments& arguments);

// Prints the tool's usage (--help) to the stream.
void printUsage(std::FILE* stream);
// "left out N learning messages that match no stimulation", on standard output.
void printLeftOutUnmatched(int count);

// Exit statuses shared by the commands.
constexpr int exitOk = 0;
constexpr int exitFailed = 1;
constexpr int exitRefused = 2; // another sorter runs, or the net is not learned
constexpr int exitUsage = 64;
constexpr int exitDataError = 65; // deliver: the input is not a message (EX_DATAERR)
constexpr int exitNoStore = 66;   // the store root holds no mail store (EX_NOINPUT)
// Messages could not be handled and stay in the inbox: run again once the cause (a full
// disk, a missing root target folder, ids used up) is mended (EX_TEMPFAIL).
constexpr int exitTempFail = 75;
