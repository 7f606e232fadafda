#include "tests/sorting/SortingWorld.h"

#include "util/ErrorReport.h"
#include "platform/Mime.h"
#include "platform/OEMessage.h"
#include "platform/profile/Loc.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"
#include "mail/HtmlText.h"
#include "mail/MessageText.h"
#include "mail/StoreMessages.h"
#include "sorting/OutgoingMail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string mailText(const std::string& subject, const std::string& body,
                     const std::string& extraHeaders, const std::string& from,
                     const std::string& contentType) {
    std::string text = "From: " + from + "\nTo: Bob <bob@example.org>\n";
    if (!subject.empty())
        text += "Subject: " + subject + "\n";
    text += "Date: Mon, 07 Dec 2026 10:11:12 +0000\n" + extraHeaders +
            "MIME-Version: 1.0\nContent-Type: " + contentType + "\n\n" + body + "\n";
    return text;
}

SortingWorld::SortingWorld() {
    dir = fs::path(store.root()).parent_path().string();
    netFile = dir + "/zelko.ini";
    locOpen(std::string(BREVALO_BIN_DIR) + "/strings.ini");
    initMessageAccess();
    setErrorReporter([this](const std::string& caption, const std::string& text) {
        errors.push_back(caption + ": " + text);
    });
    fs::create_directories(dir + "/sent");
    sendmailExits(0);
    std::ofstream(dir + "/sendmail") << "#!/bin/sh\n"
                                        "dir=$(dirname \"$0\")\n"
                                        "n=$(ls \"$dir/sent\" | grep -c eml)\n"
                                        "echo \"$@\" > \"$dir/sent/$n.args\"\n"
                                        "cat > \"$dir/sent/$n.eml\"\n"
                                        "exit $(cat \"$dir/sendmail-exit\")\n";
    fs::permissions(dir + "/sendmail", fs::perms::owner_all);
    setSendmailCommand(dir + "/sendmail -t -oi");

    connection = connectStore(store.root());
    net = new Net(netFile, StoreMessages::of(connection.store.get()));
    net->load();

    NeuronIn* invoice = new NeuronIn("invoice");
    invoice->addRegex("invoice");
    net->addInput(invoice);
    NeuronIn* flight = new NeuronIn("flight");
    flight->addRegex("flight");
    net->addInput(flight);
    NeuronOut* invoices = new NeuronOut("Invoices");
    invoices->setAnswer("Your invoice is with accounting.\r\nThank you.");
    invoices->setEmails({"acc@example.org", "boss@example.org"});
    net->addOutput(invoices);
    NeuronOut* travel = new NeuronOut("Travel");
    net->addOutput(travel);

    // The learning messages go into the learning folder the way the program's users put
    // them there: moved out of the inbox.
    std::map<std::string, std::vector<NeuronOut*>> targets;
    for (int i = 0; i < 6; ++i) {
        std::string n = std::to_string(i);
        targets["about an invoice " + n] = {invoices};
        targets["about a flight " + n] = {travel};
        targets["invoice for a flight " + n] = {invoices, travel};
        targets["a note " + n] = {};
    }
    STOREFOLDERID learnFolder = static_cast<STOREFOLDERID>(std::stoul(net->getLearnFolder()));
    com_ptr<IStoreFolder> learning = openFolder(connection.store.get(), learnFolder);
    for (const auto& [subject, folders] : targets) {
        MESSAGEID id = deliver(mailText(subject, "This is " + subject + "."));
        MESSAGEIDLIST ids;
        ids.cMsgs = 1;
        ids.prgdwMsgId = &id;
        EXPECT_EQ(connection.inbox->CopyMoveMessages(learning.get(), &ids, 0, 2, nullptr), S_OK);
        EXPECT_EQ(connection.inbox->DeleteMessages(&ids, 0, nullptr), S_OK);
    }
    net->loadLearningSet();
    for (int i = 0; i < net->fileCount(); ++i)
        for (NeuronOut* target : targets[net->getFile(i)->getName()])
            net->getFile(i)->addTarget(target);
    net->learn(4, 1500, nullptr, 0, 0.3, 1.0);
    EXPECT_TRUE(net->save());
    net->setEnabled(1);
    net->setJobVariant(1);
    net->setFrom("sorter@example.org");
}

SortingWorld::~SortingWorld() {
    setErrorReporter(nullptr);
    setSorterClock(nullptr);
    setSendmailCommand(defaultSendmailCommand());
    net.reset();
    connection = StoreConnection();
}

MESSAGEID SortingWorld::deliver(const std::string& message) {
    std::vector<MESSAGEID> before = messageIds(connection.inbox.get());
    store.deliver(message);
    std::vector<MESSAGEID> after = messageIds(connection.inbox.get());
    for (MESSAGEID id : after)
        if (std::find(before.begin(), before.end(), id) == before.end())
            return id;
    ADD_FAILURE() << "the delivered message did not appear in the inbox";
    return 0;
}

void SortingWorld::arrive(MESSAGEID id) {
    SorterContext context{
        connection.store.get(), connection.inbox.get(), net.get(), nullptr, record, journal};
    onStoreNotify(context, WM_NEWMSGS, id, 0);
}

std::vector<std::string> SortingWorld::subjectsOf(IStoreFolder* folder) {
    std::vector<std::string> subjects;
    for (MESSAGEID id : messageIds(folder)) {
        MESSAGEPROPS props;
        if (folder->GetMessageProps(id, 0, &props) == S_OK)
            subjects.push_back(props.pszSubject);
        folder->FreeMessageProps(&props);
    }
    std::sort(subjects.begin(), subjects.end());
    return subjects;
}

std::vector<std::string> SortingWorld::inboxSubjects() {
    return subjectsOf(connection.inbox.get());
}

bool SortingWorld::folderExists(const std::string& name) {
    STOREFOLDERID root = rootTargetFolderId(net.get());
    return findOrCreateFolder(connection.store.get(), root, name, false) != FOLDERID_INVALID;
}

std::vector<std::string> SortingWorld::folderSubjects(const std::string& name) {
    STOREFOLDERID root = rootTargetFolderId(net.get());
    STOREFOLDERID id = findOrCreateFolder(connection.store.get(), root, name, false);
    if (id == FOLDERID_INVALID)
        return {};
    com_ptr<IStoreFolder> folder = openFolder(connection.store.get(), id);
    return folder ? subjectsOf(folder.get()) : std::vector<std::string>{};
}

std::vector<std::string> SortingWorld::folderFiles(const std::string& name) {
    STOREFOLDERID id =
        findOrCreateFolder(connection.store.get(), rootTargetFolderId(net.get()), name, false);
    com_ptr<IStoreFolder> folder = openFolder(connection.store.get(), id);
    std::vector<std::string> files;
    if (folder)
        forEachMessage(folder.get(), MESSAGEID_FIRST,
                       [&files](const MESSAGEPROPS& props) { files.push_back(props.fileName); });
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<SortingWorld::Sent> SortingWorld::sent() {
    std::vector<Sent> messages;
    for (int n = 0;; ++n) {
        fs::path file = fs::path(dir) / "sent" / (std::to_string(n) + ".eml");
        if (!fs::exists(file))
            break;
        Sent one;
        one.raw = readFile(file);
        one.args = readFile(fs::path(dir) / "sent" / (std::to_string(n) + ".args"));
        com_ptr<IMimeMessage> message;
        EXPECT_EQ(MimeOleCreateMessage(one.raw, FILETIME{}, message.out()), S_OK);
        one.subject = headerText(message.get(), PID_HDR_SUBJECT);
        one.to = headerText(message.get(), PID_HDR_TO);
        MessageBody body = messageBody(message.get());
        one.htmlBody = wideToUtf8(body.text);
        messages.push_back(one);
    }
    return messages;
}

void SortingWorld::sendmailExits(int status) {
    std::ofstream(dir + "/sendmail-exit") << status << "\n";
}
