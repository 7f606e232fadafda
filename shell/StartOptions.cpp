#include "shell/StartOptions.h"

#include <cstring>

bool startsHidden(int argc, const char* const* argv) {
    return argc > 1 && argv[1] && std::strcmp(argv[1], "-hide") == 0;
}

bool wantsHelp(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0))
            return true;
    }
    return false;
}

const char* trayUsage() {
    return "Usage: brevalo [-hide]\n"
           "\n"
           "Sorts the mail arriving in a Maildir inbox into folders with the network built in\n"
           "Brevalo; it lives in the notification area. Mail that arrived while it was not\n"
           "running is sorted at its start (not on the very first start: the inbox as it is\n"
           "then stays as it is).\n"
           "\n"
           "Options:\n"
           "  -hide        start in the notification area without the settings window\n"
           "  -h, --help   show this help and exit\n"
           "\n"
           "Environment:\n"
           "  BREVALO_HOME      folder of zelko.ini (net and settings; default:\n"
           "                    $XDG_CONFIG_HOME/brevalo, else ~/.config/brevalo) and of\n"
           "                    the state; may hold a strings.ini of its own\n"
           "  MAILDIR           the mail store root (default: ~/Maildir, which the program\n"
           "                    offers to create when it is missing)\n"
           "  BREVALO_SENDMAIL  command that sends mail (default: /usr/sbin/sendmail -t -oi)\n"
           "  BREVALO_SENDMAIL_TIMEOUT\n"
           "                    seconds it may take for one mail (default: 60)\n"
           "  XDG_STATE_HOME    where the newest inbox message looked at is kept, in\n"
           "                    brevalo/inbox-seen (default: ~/.local/state; with BREVALO_HOME\n"
           "                    set, in that folder)\n"
           "\n"
           "Exit status: 0 ended (or the person declined to create the store), 1 the mail\n"
           "store cannot be used, 2 another copy is running.\n";
}
