// Any bytes as the sent-mail record: a delivery's reading (which searches the file for the
// keys it asks for) and the sorter's (which parses and rewrites it) find the same line for
// every key; the rewritten file reads the same again; a line appended after whatever the
// file holds (a torn tail included) is found, and changes what is found for no other key.
#include "util/Log.h"
#include "sorting/SentMailRecord.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Record = SentMailRecord;

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Every run of 64 hex digits, as far as a line could hold a key, and one key never written.
std::vector<std::string> keysIn(const std::string& text) {
    std::vector<std::string> keys{Record::key("<absent@example.org>", "forward")};
    for (std::size_t at = 0; at + 64 <= text.size() && keys.size() < 32; ++at) {
        std::size_t n = 0;
        while (n < 64 && isHex(text[at + n]))
            ++n;
        if (n == 64)
            keys.push_back(text.substr(at, 64));
    }
    return keys;
}

std::string describe(const Record::Entry& entry) {
    return std::to_string(static_cast<int>(entry.state)) + " " + std::to_string(entry.attempt) +
           " " + std::to_string(entry.message) + " " + std::to_string(entry.time);
}

std::map<std::string, std::string> found(const Record& record,
                                         const std::vector<std::string>& keys) {
    std::map<std::string, std::string> out;
    for (const std::string& key : keys)
        out[key] = describe(record.find(key));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        setLogToStderr(false);
        return workFolder("sent");
    }();
    const std::string file = folder + "/sent-mail";
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(size));
    std::vector<std::string> keys = keysIn(text);

    std::map<std::string, std::string> searched, parsed, reread;
    std::string error;
    {
        Record delivery(file, Record::Trim::WhenLong);
        searched = found(delivery, keys);
        check(delivery.handing(keys.back(), 7, 1, error), "handing failed");
    }
    searched[keys.back()].clear();
    std::vector<std::uint32_t> retry;
    {
        Record sorter(file, Record::Trim::Always);
        parsed = found(sorter, keys);
        Record::Entry handed = sorter.find(keys.back());
        check(handed.state == Record::State::Handed && handed.message == 7 && handed.attempt == 1,
              "an appended line is not found");
        retry = sorter.retryMessages();
    }
    parsed[keys.back()].clear();
    check(parsed == searched, "searching and parsing the file find different lines");
    {
        Record delivery(file, Record::Trim::WhenLong);
        reread = found(delivery, keys);
        reread[keys.back()].clear();
        check(reread == parsed, "the rewritten file reads different");
        Record sorter(file, Record::Trim::Always);
        check(sorter.retryMessages() == retry, "the rewritten file retries other messages");
    }
    return 0;
}
