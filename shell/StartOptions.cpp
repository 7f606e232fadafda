#include "shell/StartOptions.h"

#include <algorithm>
#include <cstring>
#include <string_view>

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

namespace {

// The toolkit's own options, which it reads itself (a desktop session that restores the
// program passes -session; people choose a style or a platform): with a value, and without.
constexpr const char* toolkitOptionsWithValue[] = {"-session",
                                                   "-platform",
                                                   "-platformpluginpath",
                                                   "-platformtheme",
                                                   "-plugin",
                                                   "-display",
                                                   "-geometry",
                                                   "-qwindowgeometry",
                                                   "-qwindowtitle",
                                                   "-qwindowicon",
                                                   "-style",
                                                   "-stylesheet",
                                                   "-name",
                                                   "-title"};
constexpr const char* toolkitFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};

// The option without a second leading dash: the toolkit takes both forms.
std::string_view singleDash(const char* argument) {
    std::string_view option(argument);
    if (option.size() > 2 && option.starts_with("--"))
        option.remove_prefix(1);
    return option;
}

} // namespace

const char* platformArgument(int argc, const char* const* argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (singleDash(argv[i]) == "-platform")
            return argv[i + 1];
    return nullptr;
}

const char* unknownArgument(int argc, const char* const* argv) {
    for (int i = startsHidden(argc, argv) ? 2 : 1; i < argc; ++i) {
        std::string_view option = singleDash(argv[i]);
        if (std::find(std::begin(toolkitFlags), std::end(toolkitFlags), option) !=
            std::end(toolkitFlags))
            continue;
        // "-style NAME", or "-style=NAME" in one.
        std::string_view name = option.substr(0, option.find('='));
        bool joined = name.size() < option.size();
        if ((joined || i + 1 < argc) &&
            std::find(std::begin(toolkitOptionsWithValue), std::end(toolkitOptionsWithValue),
                      name) != std::end(toolkitOptionsWithValue)) {
            i += joined ? 0 : 1;
            continue;
        }
        return argv[i];
    }
    return nullptr;
}

const char* trayUsage() {
    return "Usage: brevalo [-hide]\n"
           "\n"
           "Sorts the mail arriving in a Maildir inbox into folders with the network built in\n"
           "Brevalo; it lives in the notification area. Mail that arrived while it was not\n"
           "running is sorted at its start (not on the very first start: the inbox as it is\n"
           "then stays as it is). Closing the settings window leaves it sorting in the tray;\n"
           "\"Exit\" in the tray menu ends it. Started again, it shows the running copy's\n"
           "settings window.\n"
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
           "Exit status: 0 ended (or the person declined to create the store, or the running\n"
           "copy was asked to show its window), 1 no display or the mail store cannot be\n"
           "used, 2 another copy is running but did not answer, 64 unknown option.\n";
}

std::string missingDisplay(const char* platform, const char* display, const char* wayland) {
    auto set = [](const char* value) { return value && *value; };
    const std::string advice = "; brevalo needs a desktop session (brevalo-cli sort sorts "
                               "without one)";
    if (!set(platform)) {
        if (set(display) || set(wayland))
            return {};
        return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set" + advice;
    }
    std::string_view names(platform);
    std::string wanted;
    while (!names.empty()) {
        std::string_view name = names.substr(0, names.find(';'));
        names.remove_prefix(std::min(names.size(), name.size() + 1));
        name = name.substr(0, name.find(':'));
        if (name == "xcb" && !set(display))
            wanted = "DISPLAY";
        else if (name.starts_with("wayland") && !set(wayland))
            wanted = "WAYLAND_DISPLAY";
        else if (!name.empty())
            return {};
    }
    if (wanted.empty())
        wanted = "DISPLAY";
    // The person's own variable, but a line is a line.
    std::string named = std::string(platform).substr(0, 80);
    return "no display: QT_QPA_PLATFORM is " + named + " but " + wanted + " is not set" + advice;
}
