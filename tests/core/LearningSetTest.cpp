#include "core/Net.h"

#include "CoreTestSupport.h"
#include "platform/profile/Loc.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "core/LearningRun.h"
#include "core/LearningSetCheck.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// A store with a learning folder of three messages and a net whose learning folder it is.
class LearningSet : public testing::Test {
protected:
    void SetUp() override {
        learnId = dir.folder("Learn");
        learnText = std::to_string(learnId);
        dir.deliver("Learn", "100.M1P1.host", plainMessage("Cheap offer", "Buy now. Great price!"),
                    1700000100);
        dir.deliver("Learn", "200.M1P1.host", plainMessage("Printer broken", "It jams."),
                    1700000200);
        dir.deliver("Learn", "300.M1P1.host", "From: x@example.org\r\n\r\nno subject here\r\n",
                    1700000300);
        net = new Net(dir.netFile(), StoreMessages::of(dir.store()));
        net->setLearnFolder(learnText);
    }

    // The message id text of the learning message with that subject.
    std::string idOf(const std::string& subject) {
        RefsPtr entries = net->listLearnFolder(learnText);
        for (int i = 0; i < refsCount(entries); ++i) {
            auto* entry = (*entries)[i].as<FileData>();
            if (entry->getName() == subject)
                return entry->getId();
        }
        return {};
    }

    CoreTestFolder dir;
    STOREFOLDERID learnId = FOLDERID_INVALID;
    std::string learnText;
    ref_ptr<Net> net;
};

TEST_F(LearningSet, ListsTheFolderInStoreOrder) {
    RefsPtr entries = net->listLearnFolder(learnText);
    ASSERT_EQ(refsCount(entries), 3);
    auto* first = (*entries)[0].as<FileData>();
    EXPECT_EQ(first->getName(), "Cheap offer");
    EXPECT_EQ(first->getFrom(), "Ann Example");
    EXPECT_EQ(fileTimeTicks(first->getReceived()), fileTimeTicks(fileTimeFromUnix(1700000100)));
    EXPECT_EQ(first->targetCount(), 0);
    EXPECT_EQ((*entries)[1].as<FileData>()->getName(), "Printer broken");
    auto* third = (*entries)[2].as<FileData>();
    EXPECT_EQ(third->getName(), "");
    EXPECT_EQ(third->getFrom(), "x@example.org");
    EXPECT_EQ(third->getId(), std::to_string(std::stoul(first->getId()) + 2));
    // The empty text means the learning folder.
    EXPECT_EQ(refsCount(net->listLearnFolder("")), 3);
}

TEST_F(LearningSet, UnusableFoldersGiveAnEmptyList) {
    EXPECT_EQ(refsCount(net->listLearnFolder("abc")), 0);
    EXPECT_EQ(refsCount(net->listLearnFolder("-1")), 0);
    EXPECT_EQ(refsCount(net->listLearnFolder("9999")), 0);
    EXPECT_EQ(refsCount(net->listLearnFolder("0")), 0);
    STOREFOLDERID empty = dir.folder("Empty");
    EXPECT_EQ(refsCount(net->listLearnFolder(std::to_string(empty))), 0);
    net->load();
    EXPECT_EQ(net->fileCount(), 3);
    net->setLearnFolder("abc");
    net->load();
    EXPECT_EQ(net->fileCount(), 0);
    Net withoutStore(dir.netFile(), nullptr);
    EXPECT_EQ(refsCount(withoutStore.listLearnFolder(learnText)), 0);
}

TEST_F(LearningSet, FileContentByPath) {
    ErrorRecorder errors;
    std::string id = idOf("Cheap offer");
    EXPECT_EQ(net->getFileContent(learnText + "/" + id), "Buy now. Great price!\r\n");
    EXPECT_EQ(net->getFileContent(learnText + "\\" + id), "Buy now. Great price!\r\n");
    EXPECT_TRUE(errors.texts().empty());
    // Ids that are no numbers give the empty text without touching the store.
    for (const std::string& path : std::vector<std::string>{"abc/" + id, learnText + "/x",
                                                            learnText, "", "-1/" + id, "/" + id})
        EXPECT_EQ(net->getFileContent(path), "") << path;
    EXPECT_TRUE(errors.texts().empty());

    EXPECT_EQ(net->getFileContent(learnText + "/9999"), "");
    EXPECT_EQ(net->getFileContent("9999/" + id), "");
    std::vector<std::string> texts = errors.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(
        texts[0].rfind("Error: Reading the learning message " + learnText + "/9999 failed: ", 0),
        0u)
        << texts[0];
    EXPECT_EQ(texts[1].rfind("Error: Reading the learning message 9999/" + id + " failed: ", 0), 0u)
        << texts[1];
}

TEST_F(LearningSet, AddFileAppendsOneEntry) {
    net->load();
    dir.deliver("Learn", "400.M1P1.host", plainMessage("Late one", "x"), 1700000400);
    std::string newest = std::to_string(std::stoul(idOf("")) + 1);
    ref_ptr<FileData> added = net->addFile(std::stoi(newest));
    ASSERT_TRUE(added);
    EXPECT_EQ(added->getName(), "Late one");
    EXPECT_EQ(added->getId(), newest);
    EXPECT_EQ(net->fileCount(), 4);
    EXPECT_EQ(net->getFile(3).get(), added.get());

    EXPECT_FALSE(net->addFile(9999));
    EXPECT_EQ(net->fileCount(), 4);
    net->setLearnFolder("nonsense");
    EXPECT_FALSE(net->addFile(std::stoi(newest)));
    EXPECT_EQ(net->fileCount(), 4);
}

TEST_F(LearningSet, AssignmentsSurviveSaveAndLoad) {
    net->addOutput(folderOf("Sales").get());
    net->addOutput(folderOf("Support").get());
    net->loadLearningSet();
    ASSERT_EQ(net->fileCount(), 3);
    net->getFile(0)->addTarget(net->getOutput(1).get());
    net->getFile(0)->addTarget(net->getOutput(0).get());
    net->getFile(1)->addTarget(net->getOutput(1).get());
    ASSERT_TRUE(net->save());
    std::string text = readFile(dir.netFile());
    EXPECT_NE(text.find("[Files]\nfile_" + idOf("Cheap offer") + "=_1,0_\nfile_" +
                        idOf("Printer broken") + "=_1_\nfile_" + idOf("") + "=__\n"),
              std::string::npos)
        << text;

    Net loaded(dir.netFile(), StoreMessages::of(dir.store()));
    loaded.load();
    ASSERT_EQ(loaded.fileCount(), 3);
    ASSERT_EQ(loaded.getFile(0)->targetCount(), 2);
    EXPECT_EQ(loaded.getFile(0)->getTarget(0).get(), loaded.getOutput(1).get());
    EXPECT_EQ(loaded.getFile(0)->getTarget(1).get(), loaded.getOutput(0).get());
    EXPECT_EQ(loaded.getFile(2)->targetCount(), 0);
}

TEST_F(LearningSet, RemovedMessagesAndOutputsLoseTheirAssignments) {
    net->addOutput(folderOf("Sales").get());
    ref_ptr<NeuronOut> support = net->addOutput(folderOf("Support").get());
    net->loadLearningSet();
    net->getFile(0)->addTarget(support.get());
    net->getFile(1)->addTarget(support.get());
    net->getFile(1)->addTarget(net->getOutput(0).get());
    ASSERT_TRUE(net->save());
    std::string gone = idOf("Printer broken");
    for (const auto& entry : std::filesystem::directory_iterator(dir.folderPath("Learn") + "/cur"))
        if (entry.path().filename().string().rfind("200.", 0) == 0)
            std::filesystem::remove(entry.path());

    net->removeOutput(1);
    // The entry still holds the removed folder; the file no longer will.
    EXPECT_EQ(net->getFile(0)->targetCount(), 1);
    EXPECT_EQ(net->indexOfOutput(support.get()), -1);
    net->loadLearningSet();
    ASSERT_EQ(net->fileCount(), 2);
    EXPECT_EQ(net->getFile(0)->targetCount(), 0); // index 1 is beyond the output list now
    ASSERT_TRUE(net->save());
    std::string text = readFile(dir.netFile());
    EXPECT_EQ(text.find("file_" + gone + "="), std::string::npos) << text;
    EXPECT_NE(text.find("file_" + idOf("Cheap offer") + "=__"), std::string::npos) << text;
}

TEST_F(LearningSet, BadIndexesAreIgnored) {
    writeFile(dir.netFile(), "[Global]\nlearnFolder=_" + learnText +
                                 "_\n[NeuronsOut]\nneuron0.name=_A_\nneuron1.name=_B_\n"
                                 "[Files]\nfile_" +
                                 idOf("Cheap offer") + "=_5,1,x,-1,,0, 1_\nfile_0" +
                                 idOf("Printer broken") + "=_0_\n");
    net->load();
    ASSERT_EQ(net->fileCount(), 3);
    ASSERT_EQ(net->getFile(0)->targetCount(), 2);
    EXPECT_EQ(net->getFile(0)->getTarget(0)->getName(), "B");
    EXPECT_EQ(net->getFile(0)->getTarget(1)->getName(), "A");
    // "012" is not the key of message 12.
    EXPECT_EQ(net->getFile(1)->targetCount(), 0);
}

TEST(LearningFolder, DefaultIsCreatedByNameInsideTheMainFolder) {
    CoreTestFolder dir;
    writeFile(dir.file("strings.ini"), "[en]\noutlookexpress.folder.main=Brevalo\n"
                                       "outlookexpress.folder.learningset=Learning set\n");
    locOpen(dir.file("strings.ini"));
    Net net(dir.netFile(), StoreMessages::of(dir.store()));
    std::string folder = net.getLearnFolder();
    net.load();
    std::string again = net.getLearnFolder();
    locClose();
    STOREFOLDERID main = findOrCreateFolder(dir.store(), FOLDERID_ROOT, "Brevalo", false);
    ASSERT_NE(main, FOLDERID_INVALID);
    EXPECT_EQ(folder, std::to_string(findOrCreateFolder(dir.store(), main, "Learning set", false)));
    EXPECT_EQ(again, folder);
    EXPECT_EQ(net.fileCount(), 0);
    EXPECT_EQ(readFile(dir.netFile()), "");
    EXPECT_EQ(Net(dir.netFile(), nullptr).getLearnFolder(), "");
}

class LearningSetCheckTest : public LearningSet {
protected:
    void SetUp() override {
        LearningSet::SetUp();
        writeFile(dir.file("strings.ini"),
                  "[en]\nmain.wrongIn=No stimulation:\nmain.wrongOut=No folder:\n");
        locOpen(dir.file("strings.ini"));
        net->addInput(stimulationOf("price", {"price", "offer"}).get());
        net->addInput(stimulationOf("jam", {"jams"}).get());
        net->addOutput(folderOf("Sales").get());
        net->loadLearningSet();
    }
    void TearDown() override { locClose(); }
};

TEST_F(LearningSetCheckTest, PassesWhenEveryMessageIsMatchedAndAssigned) {
    net->addInput(stimulationOf("subjectless", {"subject"}).get());
    for (int f = 0; f < net->fileCount(); ++f)
        net->getFile(f)->addTarget(net->getOutput(0).get());
    LogRecorder log;
    LearningSetCheck check = checkLearningSet(*net);
    EXPECT_TRUE(check.passed());
    EXPECT_EQ(check.report, "");
    EXPECT_TRUE(log.contains("checkFileAssignments time "));
    EXPECT_FALSE(log.contains("checkFileAssignments 2 time"));
}

TEST_F(LearningSetCheckTest, OnlyUnassignedMessages) {
    net->addInput(stimulationOf("subjectless", {"subject"}).get());
    LogRecorder log;
    LearningSetCheck check = checkLearningSet(*net);
    EXPECT_FALSE(check.passed());
    EXPECT_TRUE(check.noStimulation.empty());
    EXPECT_EQ(check.report, "No folder:\n\tCheap offer\n\tPrinter broken\n\t\n");
    std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("checkFileAssignments time ", 0), 0u);
    EXPECT_NE(lines[0].find(" ms check input "), std::string::npos);
    EXPECT_EQ(lines[1].rfind("checkFileAssignments 2 time ", 0), 0u);
    EXPECT_EQ(lines[1].back(), ' ');
}

TEST_F(LearningSetCheckTest, MessageFailingBothIsInBothLists) {
    net->getFile(0)->addTarget(net->getOutput(0).get());
    LearningSetCheck check = checkLearningSet(*net);
    EXPECT_EQ(check.noStimulation, std::vector<std::string>{""});
    EXPECT_EQ(check.noTarget, (std::vector<std::string>{"Printer broken", ""}));
    EXPECT_EQ(check.report, "No stimulation:\n\t\n\nNo folder:\n\tPrinter broken\n\t\n");
}

TEST_F(LearningSetCheckTest, UnreadableMessageCountsAsUnmatched) {
    for (int f = 0; f < net->fileCount(); ++f)
        net->getFile(f)->addTarget(net->getOutput(0).get());
    net->addInput(stimulationOf("subjectless", {"subject"}).get());
    for (const auto& entry : std::filesystem::directory_iterator(dir.folderPath("Learn") + "/cur"))
        if (entry.path().filename().string().rfind("100.", 0) == 0)
            std::filesystem::remove(entry.path());
    ErrorRecorder errors;
    LearningSetCheck check = checkLearningSet(*net);
    EXPECT_EQ(check.noStimulation, std::vector<std::string>{"Cheap offer"});
    EXPECT_EQ(errors.texts().size(), 1u);
}

TEST(LearningSetCheckEmpty, EmptyLearningSetPasses) {
    CoreTestFolder dir;
    Net net(dir.netFile(), nullptr);
    EXPECT_TRUE(checkLearningSet(net).passed());
}

// A learning set of plain and HTML messages, read by a pool of threads: what the network
// learns depends on the messages only, never on how many threads read them.
class PooledReading : public LearningSetCheckTest {
protected:
    void SetUp() override {
        LearningSetCheckTest::SetUp();
        const char* words[] = {"offer", "jams", "price", "nothing"};
        for (int i = 0; i < 40; ++i) {
            std::string name = std::to_string(1000 + i) + ".M1P1.host";
            std::string body = std::string("message ") + std::to_string(i) + " " + words[i % 4];
            if (i % 3 == 0)
                dir.deliver("Learn", name,
                            "Subject: h" + std::to_string(i) +
                                "\r\nContent-Type: text/html\r\n\r\n<p>" + body + "</p>\r\n",
                            1700001000 + i);
            else
                dir.deliver("Learn", name, plainMessage("p" + std::to_string(i), body),
                            1700001000 + i);
        }
        net->addOutput(folderOf("Help").get());
        net->loadLearningSet();
        for (int f = 0; f < net->fileCount(); ++f)
            net->getFile(f)->addTarget(net->getOutput(f % 2).get());
    }

    std::vector<double> learned(int threads, const CheckedInputs* checked = nullptr) {
        LearningRun run(*net, {4, 30, 0.3, 1.0, threads});
        if (checked) {
            EXPECT_TRUE(run.takeChecked(*checked));
        }
        run.train(nullptr, 0);
        return networkWeights(*run.network());
    }

    void removeLearningFiles() {
        for (const char* sub : {"/new", "/cur"})
            for (const auto& entry :
                 std::filesystem::directory_iterator(dir.folderPath("Learn") + sub))
                std::filesystem::remove(entry.path());
    }
};

TEST_F(PooledReading, WeightsAreBitForBitThoseOfOneThread) {
    std::vector<double> one = learned(1);
    for (int threads : {2, 3, 8, 0})
        EXPECT_EQ(learned(threads), one) << threads << " threads";
}

// The check hands what it read to the run: with the messages gone after the check, the run
// still learns exactly what it would have learned from them.
TEST_F(PooledReading, TheRunTakesTheChecksInputsInsteadOfReadingAgain) {
    std::vector<double> reference = learned(1);
    LearningSetCheck check = checkLearningSet(*net, 2);
    ASSERT_EQ(check.read.inputs.size(), static_cast<std::size_t>(net->fileCount()));
    removeLearningFiles();
    EXPECT_EQ(learned(2, &check.read), reference);
}

TEST_F(PooledReading, ChangedStimulationsOrEntriesAreReadAgain) {
    LearningSetCheck check = checkLearningSet(*net);
    LearningRun moved(*net, {4, 30, 0.3, 1.0, 2});
    net->removeFile(0);
    LearningRun fewer(*net, {4, 30, 0.3, 1.0, 2});
    EXPECT_FALSE(fewer.takeChecked(check.read));
    net->getInput(0)->setRegex(0, "other");
    LearningRun changed(*net, {4, 30, 0.3, 1.0, 2});
    EXPECT_FALSE(changed.takeChecked(check.read));
    EXPECT_TRUE(moved.takeChecked(check.read));
}

} // namespace
