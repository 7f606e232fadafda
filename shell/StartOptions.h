#pragma once

#include <string>

// "-hide" exactly (bytes, lower case) as the first argument starts the program in the
// tray.
bool startsHidden(int argc, const char* const* argv);

// "--help" or "-h" as any argument: print the usage and exit instead of starting.
bool wantsHelp(int argc, const char* const* argv);
// The first argument the program does not take ("-hide" is taken only first; the toolkit's
// own options, such as "-session ID" or "-platform NAME", anywhere), or null.
const char* unknownArgument(int argc, const char* const* argv);
// The value of a "-platform NAME" argument, or null.
const char* platformArgument(int argc, const char* const* argv);
// The usage text of the tray program.
const char* trayUsage();

// Why no window can be shown, as one line, or empty when one can: the platform named in
// QT_QPA_PLATFORM (a ";" list, each name maybe followed by ":options") needs its display
// variable (xcb DISPLAY, wayland WAYLAND_DISPLAY; others, such as offscreen, none);
// without a platform named, one of the two must be set. Null stands for an unset variable.
std::string missingDisplay(const char* platform, const char* display, const char* wayland);
