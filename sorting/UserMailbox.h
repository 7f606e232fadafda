#pragma once

#include "util/Ref.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "sorting/NetFileWatch.h"
#include "sorting/ProgramEnvironment.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

class SyncGroup;

// One user's mail as a resident delivery service keeps it between deliveries: the store,
// the net (read once, read again when another program saved it or the service is told to)
// and where the journal and the sent-mail record lie. Deliveries run on several threads at
// once: the net and the store are used by one of them at a time, the files are written
// and synced by each for itself (MessageDelivery::shareWith). The caller acts as the
// user on the file system while it delivers (FileSystemIdentity).
class UserMailbox {
public:
    // forEveryUser (a root service): a store that is missing is made (empty, only its
    // owner may read it), as such a service finds users who never got mail, and no file a
    // user could craft to run code in the service is read: the net's patterns are compiled
    // afresh rather than taken from the compiled copy beside it.
    UserMailbox(ProgramEnvironment environment, bool forEveryUser);
    UserMailbox(const UserMailbox&) = delete;
    UserMailbox& operator=(const UserMailbox&) = delete;

    // The reply for one recipient after delivering the message (as stored: see
    // MessageDelivery::storedText): "250 2.0.0 ..." once the message and its folder
    // entry are on disk, "4.x.x" when it could not be delivered now (nothing was left
    // anywhere), without the line end. The delivery ends (its record goes) when the reply
    // is sent: then must be called, with whether it was.
    std::string deliver(const std::string& text, SyncGroup* syncGroup,
                        std::function<void(bool sent)>* then);

    // Text for a reply line: no control character and at most 200 bytes, whatever it
    // echoes (a folder's or a path's name, an address).
    static std::string replyText(const std::string& text);

    // Every mailbox reads its net again before its next delivery (SIGHUP).
    static void reloadAllNets();

    const ProgramEnvironment& environment() const { return programEnvironment; }

private:
    bool openStore(std::string* failure);
    void loadNet();

    ProgramEnvironment programEnvironment;
    bool forEveryUser;
    std::mutex mutex; // the store and the net
    StoreConnection connection;
    ref_ptr<Net> net;
    std::optional<NetFileWatch> watch;
    bool netFileExists = false;
    unsigned netGeneration = 0;
    static std::atomic<unsigned> reloadGeneration;
};
