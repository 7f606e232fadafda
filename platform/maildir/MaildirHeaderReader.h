#pragma once

#include "platform/Store.h"

#include <string>

// The message record from a file's header block alone (everything up to the first empty
// line, at most 256 KB), so listing a large folder never reads the bodies.
class MaildirHeaderReader {
public:
    // Subject, display sender and received time (the file's modification time). Fails with
    // the errno code (and a log line) when the file cannot be opened or read.
    static HRESULT read(const std::string& path, MESSAGEPROPS* props);

    // The decoded (UTF-8) subject and the sender's display name, or address when it has
    // no name, of a header block.
    static void parse(const std::string& headerBlock, std::string* subject, std::string* from);
};
