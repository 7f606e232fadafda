// Any bytes as the journal file: every line either is skipped or reads as an entry whose
// line reads back the same; the readers agree with each other; a line appended after
// whatever the file holds (a torn tail included) reads back as written and changes none
// of the lines before it; every "undone" line's inbox copy counts as moved back.
#include "util/Log.h"
#include "platform/maildir/MaildirFileName.h"
#include "sorting/Journal.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::vector<std::string> lines(const std::vector<Journal::Entry>& entries) {
    std::vector<std::string> out;
    for (const Journal::Entry& entry : entries)
        out.push_back(entry.toJson());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        setLogToStderr(false);
        return workFolder("journal");
    }();
    const std::string file = folder + "/journal.jsonl";
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Each line on its own, as every reader parses it.
    std::vector<std::string> expected;
    std::vector<std::string> movedBack;
    Journal::Entry first;
    bool any = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        bool whole = end != std::string::npos;
        std::string line = text.substr(at, whole ? end - at : std::string::npos);
        at = whole ? end + 1 : text.size();
        Journal::Entry entry, again;
        if (!Journal::Entry::fromJson(line, entry))
            continue;
        std::string written = entry.toJson();
        check(written.find('\n') == std::string::npos, "a written entry spans lines");
        check(Journal::Entry::fromJson(written, again), "a written entry does not read back");
        check(again.toJson() == written, "a written entry reads back different");
        expected.push_back(written);
        if (!any)
            first = entry;
        any = true;
        // What the sorters leave in the inbox: the undo lines a whole line ends.
        if (whole && entry.action == "undone" && line.find("\"undone\"") != std::string::npos)
            for (const Journal::Copy& copy : entry.copies)
                if (copy.folder.empty())
                    movedBack.push_back(copy.file);
    }

    for (const char* suffix : {"", ".1", ".2"})
        unlink((file + suffix).c_str());
    std::ofstream(file, std::ios::binary).write(text.data(), static_cast<std::streamsize>(size));
    Journal journal(file);
    journal.synced = false;
    std::vector<std::string> read = lines(journal.all());
    check(read == expected, "the file reads other than its lines one by one");
    check(lines(journal.last(2)) ==
              std::vector<std::string>(expected.end() - std::min<std::size_t>(2, expected.size()),
                                       expected.end()),
          "last() differs from the end of all()");
    for (const std::string& name : movedBack)
        check(journal.movedBack(name), "an undone copy does not count as moved back");
    if (movedBack.empty())
        check(!journal.movedBack("1700000000.M1P1.never:2,S"), "a stranger counts as moved back");

    if (!any)
        first.time = "2026-12-08T06:12:03Z", first.action = "moved";
    std::string error;
    check(journal.append(first, error), "append failed");
    expected.push_back(first.toJson());
    check(lines(journal.all()) == expected, "an appended line changed the file's other lines");
    return 0;
}
