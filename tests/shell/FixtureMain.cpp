// brevalo_shell_fixture: prepares homes for the memory figures.
//   brevalo_shell_fixture home HOME MAILDIR   a learned net (variant 1) and strings.ini
//   brevalo_shell_fixture deliver MAILDIR N   N invoices into the inbox

#include "ShellFixture.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    try {
        std::string command = argc > 1 ? argv[1] : "";
        if (command == "home" && argc == 4) {
            shellFixture::copyStrings(argv[2]);
            shellFixture::writeLearnedNet(argv[2], argv[3]);
            return 0;
        }
        if (command == "deliver" && argc == 4) {
            int count = std::atoi(argv[3]);
            for (int i = 0; i < count; ++i)
                shellFixture::deliver(argv[2], shellFixture::invoiceMessage(i),
                                      "1800000000." + std::to_string(getpid()) + "_" +
                                          std::to_string(i) + ".fixture");
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brevalo_shell_fixture: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: brevalo_shell_fixture home HOME MAILDIR | deliver MAILDIR N\n");
    return 1;
}
