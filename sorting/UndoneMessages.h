#pragma once

#include "platform/maildir/MaildirIdFile.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>

// The messages undo moved back into the inbox, by unique base, so the sorters leave them
// there: the journal's "undone" lines say so too, but the journal rotates its old lines
// away, and sort --once looks at every inbox message however old. A base is kept while its
// message is in the inbox; one that left it is dropped a day after it was added (an undo
// running at the same time may have listed the inbox just before the message came back).
//
// One line per base, "<seconds since 1970> <base>\n", the file replaced whole under
// MaildirIdFile's lock, so a crash leaves the old or the new list.
class UndoneMessages {
public:
    static constexpr std::time_t keptAfterLeaving = 24 * 3600;

    explicit UndoneMessages(std::string fileName);

    const std::string& fileName() const { return file; }

    // Adds the base (when is its time); drops the bases neither in inboxBases nor younger
    // than keptAfterLeaving. False with the reason in error when the file cannot be
    // written.
    bool add(const std::string& base, const std::set<std::string>& inboxBases, std::string& error,
             std::time_t when = std::time(nullptr));
    // Whether the base is listed; the file is read again only when it changed.
    bool contains(const std::string& base);

private:
    // The file's bases with their times; false when it cannot be read.
    bool read(std::map<std::string, std::time_t>& bases) const;

    std::string file;
    MaildirIdFile::Stamp readStamp;
    bool loaded = false;
    std::map<std::string, std::time_t> known;
};
