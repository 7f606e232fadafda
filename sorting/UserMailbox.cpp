#include "sorting/UserMailbox.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/maildir/SyncGroup.h"
#include "core/Net.h"
#include "core/PatternDatabaseCache.h"
#include "mail/StoreMessages.h"
#include "sorting/Journal.h"
#include "sorting/MessageDelivery.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/stat.h>

std::atomic<unsigned> UserMailbox::reloadGeneration{0};

namespace {

// The compiled patterns of the net being loaded on this thread come from and go to that
// net's own file: one store for the process, one file per user.
class ThreadPatternStore : public PatternSet::DatabaseStore {
public:
    static thread_local PatternDatabaseCache* current;
    hs_database* load(const std::string& key) override {
        return current ? current->load(key) : nullptr;
    }
    void save(const std::string& key, const hs_database* database) override {
        if (current)
            current->save(key, database);
    }
};
thread_local PatternDatabaseCache* ThreadPatternStore::current = nullptr;

void useThreadPatternStore() {
    static ThreadPatternStore store;
    static std::once_flag once;
    std::call_once(once, [] { PatternSet::useDatabaseStore(&store); });
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// root, and its cur/, new/ and tmp/, each made when missing (0700).
bool makeMaildir(const std::string& root, std::string* failure) {
    for (const char* sub : {"", "/cur", "/new", "/tmp"}) {
        std::string path = root + sub;
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            *failure = "mkdir(" + path + ") failed: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace

UserMailbox::UserMailbox(ProgramEnvironment environment, bool forEveryUser)
    : programEnvironment(std::move(environment)), forEveryUser(forEveryUser) {
    useThreadPatternStore();
}

std::string UserMailbox::replyText(const std::string& text) {
    std::string clean;
    for (char c : text) {
        if (clean.size() >= 200) {
            clean += "...";
            break;
        }
        clean += static_cast<unsigned char>(c) < 32 || c == 127 ? '?' : c;
    }
    return clean;
}

void UserMailbox::reloadAllNets() {
    ++reloadGeneration;
}

bool UserMailbox::openStore(std::string* failure) {
    if (connection.store)
        return true;
    const std::string& root = programEnvironment.storeRoot;
    if (!isDirectory(root + "/new") || !isDirectory(root + "/tmp")) {
        if (!forEveryUser) {
            *failure = "there is no mail store at " + root;
            return false;
        }
        if (!makeMaildir(root, failure))
            return false;
    }
    try {
        connection = connectStore(root, StoreUse::oneStep);
    } catch (const ComException& e) {
        *failure = "cannot open the mail store " + root + ": " + comErrorText(e);
        return false;
    }
    return true;
}

void UserMailbox::loadNet() {
    std::string file = programEnvironment.netFile();
    watch.emplace(file);
    netGeneration = reloadGeneration.load();
    struct stat st {};
    netFileExists = stat(file.c_str(), &st) == 0;
    // A user who never made a net gets every message in the inbox, and no files of ours.
    if (!netFileExists) {
        net.reset();
        return;
    }
    // Read once for sorting: its settings too, so a delivery reads no file of the net's.
    ref_ptr<Net> loaded = new Net(file, StoreMessages::of(connection.store.get(), false));
    loaded->loadForSorting();
    if (!loaded->damage().empty())
        warningLog("the net file %s is damaged: %s", file.c_str(), loaded->damage().c_str());
    // Compiled now, from the patterns kept beside the net when they are still its own; the
    // cache is not needed once the set is built.
    std::optional<PatternDatabaseCache> patterns;
    if (!forEveryUser)
        patterns.emplace(file + ".patterns");
    ThreadPatternStore::current = patterns ? &*patterns : nullptr;
    struct Unset {
        ~Unset() { ThreadPatternStore::current = nullptr; }
    } unset;
    loaded->patternSet();
    net = loaded;
}

std::string UserMailbox::deliver(const std::string& text, SyncGroup* syncGroup,
                                 std::function<void(bool sent)>* then) {
    // Held for the delivery: a net or store read again meanwhile replaces them here only.
    ref_ptr<Net> using_;
    com_ptr<IStoreNamespace> store;
    bool hasNet = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        bool reload = !watch || watch->changed() || netGeneration != reloadGeneration.load();
        // A net saved anew may sort into folders another program made meanwhile: the
        // store's folders are read again with it.
        if (reload)
            connection = {};
        std::string failure;
        if (!openStore(&failure))
            return "451 4.3.0 " + replyText(failure);
        if (reload)
            loadNet();
        using_ = net;
        store = connection.store;
        hasNet = netFileExists;
    }
    auto delivery = std::make_shared<MessageDelivery>(
        store.get(), using_.get(), hasNet ? programEnvironment.sentMailFile() : std::string());
    delivery->shareWith(&mutex, syncGroup);
    MessageDelivery::Outcome outcome = delivery->deliver(text);
    if (hasNet) {
        // As deliver journals: a journal that cannot be written holds no mail back.
        std::string journalError;
        Journal journal(programEnvironment.journalFile());
        journal.synced = false;
        if (!journal.append(Journal::Entry::of(outcome.decision, outcome.done), journalError))
            warningLog("cannot write the journal %s: %s", programEnvironment.journalFile().c_str(),
                       journalError.c_str());
    }
    *then = [delivery](bool sent) {
        if (sent)
            delivery->finish();
        else
            delivery->leaveForRetry();
    };
    if (!outcome.delivered) {
        HRESULT hr = outcome.done.result;
        const char* code = hr == hresultFromErrno(EDQUOT)   ? "452 4.2.2 "
                           : hr == hresultFromErrno(ENOSPC) ? "452 4.3.1 "
                                                            : "451 4.3.0 ";
        return code + replyText(outcome.failure);
    }
    std::string where;
    for (const std::string& folder : outcome.folders)
        where += (where.empty() ? "" : ", ") + folder;
    std::string reply =
        "250 2.0.0 delivered to " + replyText(where.empty() ? "nowhere (forwarded)" : where);
    if (!outcome.warning.empty())
        reply += "; " + replyText(outcome.warning);
    return reply;
}
