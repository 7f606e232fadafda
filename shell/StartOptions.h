#pragma once

// "-hide" exactly (bytes, lower case) as the first argument starts the program in the
// tray; later arguments are ignored.
bool startsHidden(int argc, const char* const* argv);

// "--help" or "-h" as any argument: print the usage and exit instead of starting.
bool wantsHelp(int argc, const char* const* argv);
// The usage text of the tray program.
const char* trayUsage();
