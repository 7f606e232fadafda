#pragma once

#include <string>
#include <sys/stat.h>

// Whether the net file was saved since this process last read it, so that a sorter that
// runs for days sorts with the net as it is saved now: a net learned, imported or given
// words by another program is loaded again before the next batch. A save replaces the
// file (new inode) or rewrites it (new size, modification or status change time);
// either is seen.
class NetFileWatch {
public:
    // Remembers the file as it is now (a missing file as missing).
    explicit NetFileWatch(std::string fileName);

    // The file differs from what was remembered. A file that cannot be looked at (removed
    // meanwhile) has not changed: the net in memory is kept rather than emptied.
    bool changed() const;
    // Remembers the file as it is now. Called before this process reads (or after it
    // writes) the file: a save that comes during the read is then seen at the next check.
    void loaded();

    const std::string& fileName() const { return file; }

private:
    std::string file;
    struct stat state {};
};
