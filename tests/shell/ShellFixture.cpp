#include "ShellFixture.h"

#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace shellFixture {

std::string message(const std::string& subject, const std::string& body) {
    return "From: Sender <sender@example.org>\r\nTo: me@example.org\r\nSubject: " + subject +
           "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" +
           std::to_string(std::hash<std::string>{}(subject + body)) +
           "@example.org>\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body + "\r\n";
}

std::string deliver(const std::string& folderDir, const std::string& content,
                    const std::string& name) {
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(folderDir + "/" + sub);
    std::string tmp = folderDir + "/tmp/" + name;
    {
        std::ofstream out(tmp, std::ios::binary);
        out << content;
    }
    std::string target = folderDir + "/new/" + name;
    fs::rename(tmp, target);
    return target;
}

void copyStrings(const std::string& home) {
    fs::copy_file(std::string(BREVALO_BIN_DIR) + "/strings.ini", home + "/strings.ini",
                  fs::copy_options::overwrite_existing);
}

std::string invoiceMessage(int number) {
    return message("Invoice " + std::to_string(number),
                   "Please find the invoice number " + std::to_string(number) +
                       " attached; the amount is due in 30 days.");
}

void writeLearnedNet(const std::string& home, const std::string& maildir) {
    locOpen(home + "/strings.ini");
    if (FAILED(createStoreRoot(maildir)))
        throw std::runtime_error("cannot create the mail store " + maildir);
    StoreConnection connection = connectStore(maildir);
    ref_ptr<Net> net(new Net(home + "/zelko.ini", StoreMessages::of(connection.store.get())));

    // The learning folder's directory follows the store's naming of "Main/Learning set".
    std::string learnDir = maildir + "/." + locText("outlookexpress.folder.main") + "." +
                           locText("outlookexpress.folder.learningset");
    net->getLearnFolder();
    const char* subjects[] = {"Invoice 1", "Invoice 2", "Meeting on Monday", "Meeting agenda"};
    const char* bodies[] = {"The invoice for March is attached.", "Your invoice is ready.",
                            "The meeting starts at ten.", "Agenda of the meeting."};
    for (int i = 0; i < 4; ++i)
        deliver(learnDir, message(subjects[i], bodies[i]),
                "170000000" + std::to_string(i) + ".M1P1.fixture");

    auto* invoice = new NeuronIn("invoice");
    invoice->addRegex("invoice");
    net->addInput(invoice);
    auto* meeting = new NeuronIn("meeting");
    meeting->addRegex("meeting");
    net->addInput(meeting);
    auto* invoices = new NeuronOut("Invoices");
    net->addOutput(invoices);
    auto* meetings = new NeuronOut("Meetings");
    net->addOutput(meetings);

    net->loadLearningSet();
    if (net->fileCount() != 4)
        throw std::runtime_error("the learning folder holds " + std::to_string(net->fileCount()) +
                                 " messages instead of 4");
    for (int i = 0; i < net->fileCount(); ++i) {
        ref_ptr<FileData> entry = net->getFile(i);
        bool isInvoice = entry->getName().rfind("Invoice", 0) == 0;
        entry->addTarget(isInvoice ? invoices : meetings);
    }
    net->learn(4, 1000, nullptr, 0, 0.3, 1.0);
    if (!net->save())
        throw std::runtime_error("cannot write " + home + "/zelko.ini");
    net->setJobVariant(1);
    net->setEnabled(1);
    locClose();
}

} // namespace shellFixture
