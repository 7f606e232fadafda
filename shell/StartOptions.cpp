#include "shell/StartOptions.h"

#include <cstring>

bool startsHidden(int argc, const char* const* argv) {
    return argc > 1 && argv[1] && std::strcmp(argv[1], "-hide") == 0;
}
