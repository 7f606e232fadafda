#pragma once

#include <string>

struct ProgramEnvironment;

// The desktop's autostart entry ($XDG_CONFIG_HOME/autostart/brevalo.desktop) that starts
// the tray program in the tray at login, as it runs now: this program file, and the home
// folder and store when the person named them (a session at login has no such variables).
class AutostartEntry {
public:
    explicit AutostartEntry(const ProgramEnvironment& environment);

    const std::string& path() const { return file; }
    // Whether the entry is there and not hidden (a desktop turns an entry off with
    // "Hidden=true").
    bool enabled() const;
    // The entry's text.
    std::string text() const;
    // Writes the entry (replacing the file in one step, making the folder) or removes it;
    // false with the reason in error when that fails.
    bool write(std::string* error) const;
    bool remove(std::string* error) const;

private:
    std::string file;
    std::string command;
};
