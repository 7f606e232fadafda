#pragma once

#include "platform/Store.h"

#include <string>

class Net;
class NeuronOut;

// Ways to name learning messages and to give them target folders from outside the
// configuration window: by id, file or Message-ID, and a whole store folder a person
// sorted by hand. Store failures raise ComException.
class LearningAssignment {
public:
    // The index in the net's learning set of the message the reference names: its id in the
    // learning folder (digits only), the path of a message file (the learning message at that
    // path, else the one with the file's Message-ID), or a Message-ID (angle brackets may be
    // left out). -1 when none, and problem says why.
    static int find(const Net& net, IStoreNamespace* store, const std::string& reference,
                    std::string& problem);

    struct FromFolder {
        int messages = 0; // in the store folder
        int copied = 0;   // into the learning folder (the others were there already)
        int assigned = 0; // learning messages that gained the target
        int hadIt = 0;    // learning messages of the source's that had the target already
    };
    // Copies every message of the source folder that the learning folder lacks (by
    // Message-ID, else digest) into it, rebuilds the learning set from the folder and the
    // net file, and gives the target to each learning message that carries a key of the
    // source's messages. The source may not be the learning folder itself.
    static FromFolder fromFolder(Net& net, IStoreNamespace* store, STOREFOLDERID source,
                                 NeuronOut* target);

    // The store folder at the path of names from the root ("Archive/2024"; byte by byte),
    // FOLDERID_INVALID when there is none.
    static STOREFOLDERID folderAt(IStoreNamespace* store, const std::string& path);
};
