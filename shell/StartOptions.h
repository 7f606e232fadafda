#pragma once

// "-hide" exactly (bytes, lower case) as the first argument starts the program in the
// tray; later arguments are ignored.
bool startsHidden(int argc, const char* const* argv);
