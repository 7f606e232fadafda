#pragma once

#include "platform/Store.h"

#include <string>
#include <vector>

class Net;
class IMimeMessage;

// What an import linked: the learning messages given their folders, and the keys of the
// assignments no message of the learning folder carries.
struct NetImport {
    int linked = 0;
    std::vector<std::string> missing;
};

// A net as JSON, to carry it to another store: stimulations, target folders, settings,
// the network and the learning set's assignments. Assignments are keyed by the message's
// Message-ID (else "sha256:" and the digest of the whole message), never by store ids,
// which mean nothing in another store; the folders the net names by store id (the
// learning folder, the output folder) stay those of the store the net is imported into.
class NetExchange {
public:
    // The key of a message: its Message-ID as written, else the digest.
    static std::string messageKey(IMimeMessage* message);

    // The JSON text (ends with a line feed). Assignments are listed by key, so the text
    // does not depend on the order of the store. Store failures raise ComException.
    static std::string exportNet(const Net& net, IStoreNamespace* store);

    // Replaces the net's stimulations, folders, network and assignments with those of the
    // text, links the assignments to the learning folder's messages by key, saves the net
    // and writes the settings. Text that is no net raises Exception, before anything
    // changes; a net file that cannot be written raises Exception too.
    static NetImport importNet(const std::string& json, Net& net, IStoreNamespace* store);
};
