#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"
#include "mail/StoreAccess.h"
#include "sorting/Journal.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"
#include "cli/DemoCorpus.h"
#include "cli/Sorter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Delivers a message into the inbox as a mail delivery agent does: written under tmp/,
// then renamed into new/.
bool deliver(const std::string& root, const std::string& text, int number) {
    std::string name = std::to_string(time(nullptr)) + ".P" + std::to_string(getpid()) + "Q" +
                       std::to_string(number) + ".brevalo-demo";
    std::string tmp = root + "/tmp/" + name;
    {
        std::ofstream out(tmp, std::ios::binary);
        out << text;
        if (!out.flush())
            return false;
    }
    return std::rename(tmp.c_str(), (root + "/new/" + name).c_str()) == 0;
}

std::vector<std::pair<MESSAGEID, std::string>> listMessages(IStoreFolder* folder) {
    std::vector<std::pair<MESSAGEID, std::string>> messages;
    MESSAGEPROPS props;
    HENUMSTORE enumeration = nullptr;
    HRESULT hr = folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &enumeration);
    while (hr == S_OK) {
        messages.emplace_back(props.dwMessageId, props.pszSubject);
        folder->FreeMessageProps(&props);
        hr = folder->GetNextMessage(enumeration, 0, &props);
    }
    if (enumeration)
        folder->GetMessageClose(enumeration);
    return messages;
}

// Moves every inbox message into the folder (copy, then delete: the store's way).
void moveInboxTo(IStoreNamespace* store, IStoreFolder* inbox, STOREFOLDERID target) {
    com_ptr<IStoreFolder> folder = openFolder(store, target);
    if (!folder)
        throw ComException(E_FAIL, formatString("cannot open folder %u", target));
    for (auto& [id, subject] : listMessages(inbox)) {
        MESSAGEID one = id;
        MESSAGEIDLIST ids;
        ids.cMsgs = 1;
        ids.prgdwMsgId = &one;
        checkHr(inbox->CopyMoveMessages(folder.get(), &ids, 0, 2, nullptr),
                "copy a learning message into its folder");
        checkHr(inbox->DeleteMessages(&ids, 0, nullptr),
                "remove a learning message from the inbox");
    }
}

std::map<std::string, std::string> folderBySubject(const std::vector<DemoMessage>& messages) {
    std::map<std::string, std::string> folders;
    for (const DemoMessage& message : messages) {
        std::size_t at = message.text.find("\nSubject: ");
        std::size_t end = message.text.find('\n', at + 1);
        folders[message.text.substr(at + 10, end - at - 10)] = message.folder;
    }
    return folders;
}

int runDemo(const ProgramEnvironment& demo, const std::string& dir) {
    // The one command that makes a store: the person asked for a new one here.
    checkHr(createStoreRoot(demo.storeRoot), "create the mail store " + demo.storeRoot);
    CliSession session(demo);
    if (int status = session.open())
        return status;
    IStoreNamespace* store = session.store();
    Net* net = session.net();

    // 1. The learning folder with sample messages, each assigned to its folder.
    std::vector<DemoMessage> learning = demoMessages(12, 7);
    for (std::size_t i = 0; i < learning.size(); ++i)
        if (!deliver(demo.storeRoot, learning[i].text, static_cast<int>(i))) {
            std::fprintf(stderr, "brevalo-cli demo: cannot write into %s: %s\n",
                         demo.storeRoot.c_str(), std::strerror(errno));
            return exitFailed;
        }
    STOREFOLDERID learnFolder = static_cast<STOREFOLDERID>(toInt(net->getLearnFolder(), -1));
    moveInboxTo(store, session.inbox(), learnFolder);
    std::printf("Learning folder: %zu sample messages in %s\n", learning.size(),
                demo.storeRoot.c_str());

    for (const DemoStimulation& stimulation : demoStimulations()) {
        NeuronIn* input = new NeuronIn(stimulation.name);
        for (const std::string& pattern : stimulation.patterns)
            input->addRegex(pattern);
        net->addInput(input);
    }
    std::map<std::string, NeuronOut*> outputs;
    for (const DemoFolder& folder : demoFolders()) {
        NeuronOut* output = new NeuronOut(folder.name);
        output->setAnswer(folder.answer);
        output->setEmails(folder.emails);
        net->addOutput(output);
        outputs[folder.name] = output;
    }
    net->loadLearningSet();
    std::map<std::string, std::string> learnedFolders = folderBySubject(learning);
    for (int i = 0; i < net->fileCount(); ++i) {
        ref_ptr<FileData> entry = net->getFile(i);
        auto found = learnedFolders.find(entry->getName());
        if (found != learnedFolders.end())
            entry->addTarget(outputs[found->second]);
    }
    std::printf("Net: %d stimulations, %d folders, %d learning messages assigned\n",
                net->inputCount(), net->outputCount(), net->fileCount());

    // 2. Learn and save, as 'brevalo-cli learn' does.
    double error = net->learn(std::max(4, (net->inputCount() + net->outputCount()) / 2), 500,
                              nullptr, 0, 0.3, 1.0);
    std::printf("Learned 500 iterations: final error %.4f\n", error);
    net->setJobVariant(1);
    net->setEnabled(1);
    std::string failure;
    if (!net->save(&failure)) {
        std::fprintf(stderr, "brevalo-cli: cannot save the demonstration net to %s: %s\n",
                     net->getFileName().c_str(), failure.c_str());
        return exitFailed;
    }

    // 3. New mail arrives and is sorted.
    std::vector<DemoMessage> arriving = demoMessages(3, 2026);
    for (std::size_t i = 0; i < arriving.size(); ++i)
        deliver(demo.storeRoot, arriving[i].text, 1000 + static_cast<int>(i));
    std::printf("Delivered %zu new messages into the inbox; sorting them...\n\n", arriving.size());
    // Journalled as the sorter does, so 'brevalo-cli log' and 'undo' know of them.
    Journal journal(demo.journalFile());
    Sorter sorter(store, session.inbox(), net, nullptr, nullptr, &journal);
    sorter.sortInbox();

    // 4. Where each went.
    std::map<std::string, std::vector<std::string>> placed;
    STOREFOLDERID root = static_cast<STOREFOLDERID>(toInt(net->getDestFolder(), -1));
    for (const DemoFolder& folder : demoFolders()) {
        STOREFOLDERID id = findOrCreateFolder(store, root, folder.name, false);
        com_ptr<IStoreFolder> target =
            id == FOLDERID_INVALID ? com_ptr<IStoreFolder>() : openFolder(store, id);
        if (!target)
            continue;
        for (auto& [messageId, subject] : listMessages(target.get()))
            placed[subject].push_back(folder.name);
    }
    for (auto& [messageId, subject] : listMessages(session.inbox()))
        placed[subject].push_back("(left in the inbox)");
    int right = 0;
    std::map<std::string, std::string> expected = folderBySubject(arriving);
    for (const DemoMessage& message : arriving) {
        std::size_t at = message.text.find("\nSubject: ");
        std::string subject =
            message.text.substr(at + 10, message.text.find('\n', at + 1) - at - 10);
        std::string where = joinTexts(placed[subject], ", ");
        if (placed[subject].size() == 1 && placed[subject][0] == expected[subject])
            ++right;
        std::printf("  %-48s -> %s\n", subject.c_str(), where.c_str());
    }
    std::printf("\n%d of %zu messages went where a person would have filed them.\n", right,
                arriving.size());
    std::printf("The demonstration's Maildir, net and settings are in %s\n", dir.c_str());
    std::printf("What was sorted: BREVALO_HOME=%s MAILDIR=%s brevalo-cli log\n", dir.c_str(),
                demo.storeRoot.c_str());
    return exitOk;
}

} // namespace

int demoCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    OptionReader options("demo", arguments, {}, true);
    std::vector<std::string> folders;
    while (options.next())
        folders.push_back(options.value());
    if (!options.finished() && (folders.size() != 1 || folders[0].empty()))
        options.fail("name the folder to build the demonstration in");
    if (options.finished())
        return options.exitStatus();
    std::error_code error;
    fs::path dir = fs::absolute(folders[0], error);
    fs::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "brevalo-cli demo: cannot create %s: %s\n", dir.c_str(),
                     error.message().c_str());
        return exitFailed;
    }
    if (fs::exists(dir / "zelko.ini")) {
        std::fprintf(stderr, "brevalo-cli demo: %s already holds a net; name an empty folder\n",
                     dir.c_str());
        return exitFailed;
    }
    ProgramEnvironment demo = environment;
    demo.home = dir.string() + "/";
    demo.homeChosen = true; // its own net only
    demo.stateFolder = demo.home;
    demo.storeRoot = (dir / "Maildir").string();
    demo.storeRootChosen = true;
    try {
        return runDemo(demo, dir.string());
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli demo: %s\n", comErrorText(e).c_str());
        return exitFailed;
    }
}
