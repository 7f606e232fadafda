#pragma once

#include "platform/lock/FileLock.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "sorting/ProgramEnvironment.h"

#include <string>

// What every command works with: the language file, the store and its inbox, and the
// net read from the net file. Errors are printed, not shown in boxes.
class CliSession {
public:
    explicit CliSession(const ProgramEnvironment& environment);
    ~CliSession();

    // Opens the store and loads the net: exitOk, else (after a message on standard
    // error) exitNoStore when the store root holds no store (nothing is created: a
    // mistyped root must not become an empty store) or exitFailed.
    int open();
    // open() for a command that changes the net and saves it: between the store and the
    // net it takes the net's change lock (waiting, with a word, while another command
    // holds it), held until the session ends, so a change another command makes between
    // this one's load and save is not written over.
    int openForChange();
    // openForChange(), then exitFailed (with a message) when the learning folder holds no
    // messages.
    int openLearningSetForChange();
    // open(), then exitFailed (with a message) when the learning folder holds no messages:
    // what the commands that learn from the set need.
    int openLearningSet();
    // The two halves of open(): the store (the same statuses; for one step, no inbox),
    // then the net (exitFailed, and no net, when it cannot be loaded). Without the learning set,
    // the learning folder is not listed: enough to classify.
    int openStore(StoreUse use = StoreUse::lasting);
    int loadNet(bool learningSet = true);
    // The net as sorting needs it (Net::loadForSorting): what deliver loads.
    void loadNetForSorting();
    // Loads the net without touching the store (classify needs no mail store).
    void openNetOnly();
    // Each load above says on standard error when the net file is damaged, and where
    // (Net::damage); the net is then unlearned. This says it for a net loaded again.
    static void reportDamage(const Net& net);

    IStoreNamespace* store() const { return connection.store.get(); }
    IStoreFolder* inbox() const { return connection.inbox.get(); }
    Net* net() const { return netObject.get(); }

private:
    int lockNet();
    int requireLearningMessages() const;

    const ProgramEnvironment& environment;
    FileLock changeLock;
    StoreConnection connection;
    ref_ptr<Net> netObject;
};
