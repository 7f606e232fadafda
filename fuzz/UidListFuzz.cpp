// Any brevalo-uidlist in a folder of three messages: the store gives each message one id of
// its own, another reader of the file sees the very same ids, and a message added later
// gets an id above all of them (never one already given). Only a file that has used up
// the id space may refuse, and then as a failure.
#include "util/Log.h"
#include "platform/Result.h"
#include "platform/maildir/MaildirUidList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

const char* const added = "1700000003.M4P1.delta";

std::string makeFolder() {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/brevalo-fuzz-ids-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    for (const char* subdir : {"new", "cur", "tmp"})
        fs::create_directory(pattern + "/" + subdir);
    for (const char* file : {"new/1700000000.M1P1.alpha", "cur/1700000001.M2P1.beta:2,S",
                             "cur/1700000002.M3P1.gamma:2,"})
        std::ofstream(pattern + "/" + file) << "Subject: x\n\nx\n";
    return pattern;
}

using Ids = std::map<std::string, MESSAGEID>; // file name -> id

Ids idsOf(const MaildirUidList& list) {
    Ids ids;
    for (const MaildirMessage& message : list.messages()) {
        check(message.id >= 1 && message.id < 0xFFFFFFFEu);
        check(ids.emplace(message.subdir + "/" + message.fileName, message.id).second);
    }
    return ids;
}

// A reader starting afresh on the same file sees the same ids.
void checkSecondReader(const std::string& folder, const Ids& ids) {
    MaildirUidList again(folder);
    check(again.sync() == S_OK);
    check(idsOf(again) == ids);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        setLogToStderr(false);
        return makeFolder();
    }();
    fs::remove(folder + "/new/" + added);
    std::ofstream(folder + "/" + MaildirUidList::fileName, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    Ids ids;
    {
        MaildirUidList list(folder);
        HRESULT hr = list.sync();
        if (hr == STORE_E_NO_IDS_LEFT) // no id left for the messages without one
            return 0;
        check(hr == S_OK);
        ids = idsOf(list);
        check(ids.size() == 3);
        check(ids.count("new/1700000000.M1P1.alpha") && ids.count("cur/1700000001.M2P1.beta:2,S") &&
              ids.count("cur/1700000002.M3P1.gamma:2,"));
    }
    checkSecondReader(folder, ids);

    MaildirUidList list(folder);
    check(list.sync() == S_OK);
    std::ofstream(folder + "/tmp/" + added) << "Subject: y\n\ny\n";
    bool present = true;
    HRESULT hr = list.addFile(
        "new", added,
        [&] {
            fs::rename(folder + "/tmp/" + added, folder + "/new/" + added);
            return S_OK;
        },
        &present);
    if (hr == STORE_E_NO_IDS_LEFT) { // the id space is used up: nothing placed
        check(!fs::exists(folder + "/new/" + added));
        fs::remove(folder + "/tmp/" + added);
        return 0;
    }
    check(hr == S_OK && !present);
    MaildirMessage message;
    check(list.findBase(added, &message));
    for (const auto& [name, id] : ids)
        check(message.id > id);
    ids.emplace(std::string("new/") + added, message.id);
    check(idsOf(list) == ids);
    checkSecondReader(folder, ids);
    return 0;
}
