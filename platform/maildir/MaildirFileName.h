#pragma once

#include <string>

// Message file names: "<unique base>[:2,<flags>]". The unique base names a message for
// good; the part after the colon holds its flags and changes when another program marks
// the message (moving it from new/ to cur/ adds ":2,").
// mbsync adds ",U=<uid>" to the base (its number for the message in that one folder) and
// adds or changes it whenever it likes: the message stays the same, so that part is no
// part of the unique base.
class MaildirFileName {
public:
    // A new unique base name: "<seconds>.M<microseconds>P<pid>Q<counter>.<host>", with
    // "/" and ":" in the host name written as "\057" and "\072".
    static std::string uniqueName();
    // The unique base: everything before the first ":", without mbsync's ",U=<uid>".
    static std::string baseName(const std::string& fileName);
    // The flag letters after ":2," (empty when there are none).
    static std::string flags(const std::string& fileName);
    // Whether the name is a message file at all (not hidden, not empty).
    static bool isMessageFile(const std::string& fileName);
    // The name without mbsync's ",U=<uid>" (flags kept): a copy in another folder must not
    // carry it, or mbsync takes the copy for that folder's message of that number instead
    // of uploading it.
    static std::string withoutSyncUid(const std::string& fileName);
};
