#pragma once

#include "sorting/ProgramEnvironment.h"

// The tray program's look at its store root before it starts (the language file open):
// a store root without a store is an error when the person named it (MAILDIR: a typo
// must not become an empty store), shown in a box; when it is the default ~/Maildir,
// a question box asks whether to create it there. Returns -1 to go on, else the exit
// status: 1 after the error box or a failed creation, 0 when the person declined.
int checkStoreRoot(const ProgramEnvironment& environment);
