#include "platform/profile/Loc.h"

#include "platform/profile/Profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

const std::string shipped = std::string(BREVALO_BIN_DIR) + "/strings.ini";

// Every key the program looks up, with the number of text arguments it takes.
struct KeyEntry {
    const char* key;
    int arguments;
};

const KeyEntry keys[] = {
    {"settings.title", false},
    {"settings.tabProperties", false},
    {"settings.paneConfiguration", false},
    {"settings.currentState", false},
    {"settings.currentState.ok", true},
    {"settings.currentState.no", false},
    {"settings.currentState.counts", 2},
    {"settings.configureButton", false},
    {"settings.storeInUse", true},
    {"settings.netInUse", true},
    {"settings.paneOptions", false},
    {"settings.email", false},
    {"settings.email.hint", false},
    {"settings.jobvariant1", false},
    {"settings.jobvariant2", false},
    {"settings.jobvariant3", false},
    {"settings.storeemail1", false},
    {"settings.storeemail0", false},
    {"settings.buttonDestFolder", false},
    {"settings.paneGeneral", false},
    {"settings.usePeriod.from", false},
    {"settings.usePeriod.to", false},
    {"settings.enabled", false},
    {"settings.useAlways", false},
    {"settings.usePeriod", false},
    {"settings.startAtLogin", false},
    {"settings.notifySorted", false},
    {"settings.buttonOk", false},
    {"settings.buttonCancel", false},
    {"settings.buttonApply", false},
    {"store.missing", true},
    {"store.create", true},
    {"store.createFailed", true},
    {"systray.restore", false},
    {"systray.recent", false},
    {"systray.exit", false},
    {"systray.keepsSorting", 0},
    {"systray.sortedCount.one", false},
    {"systray.sortedCount", 1},
    {"systray.sortedMessage.one", 1},
    {"systray.sortedMessage", 2},
    {"recent.title", false},
    {"recent.filter", false},
    {"recent.filter.hint", false},
    {"recent.time", false},
    {"recent.subject", false},
    {"recent.from", false},
    {"recent.action", false},
    {"recent.folders", false},
    {"recent.moveBack", false},
    {"recent.close", false},
    {"learn.title", false},
    {"learn.buttonClose", false},
    {"learn.chart", false},
    {"learn.iteration", false},
    {"learn.error", false},
    {"learn.time", false},
    {"learn.drawChart", false},
    {"learn.paneParameters", false},
    {"learn.inCount", false},
    {"learn.hiddenCount", false},
    {"learn.outCount", false},
    {"learn.iterations", false},
    {"learn.buttonStart", false},
    {"learn.buttonEvaluate", false},
    {"learn.buttonEvaluate.hint", false},
    {"learn.evaluation.title", false},
    {"learn.evaluation.summary", true},
    {"test.title", false},
    {"test.paneContentAnswer", false},
    {"test.buttonFind", false},
    {"test.threshold", 0},
    {"test.tabContent", false},
    {"test.tabAnswer", false},
    {"test.buttonClose", false},
    {"test.paneFolders", false},
    {"test.answer.folder", true},
    {"test.answer.header", false},
    {"test.answer.footer", false},
    {"test.noanswer", false},
    {"test.nostimulation", false},
    {"main.title", false},
    {"main.tabConfiguration", false},
    {"main.paneIn", false},
    {"main.paneOut", false},
    {"main.paneFile", false},
    {"main.fileContent", false},
    {"main.file.name", false},
    {"main.file.from", false},
    {"main.file.received", false},
    {"main.treeIn.root", false},
    {"main.treeOut.root", false},
    {"main.buttonOk", false},
    {"main.buttonCancel", false},
    {"main.close.warn", false},
    {"main.wrongIn", false},
    {"main.wrongOut", false},
    {"main.act.inAdd", false},
    {"main.act.inAdd.hint", false},
    {"main.act.inAdd.label", false},
    {"main.act.inAdd.title", false},
    {"main.act.inAddStimulation", false},
    {"main.act.inAddStimulation.hint", false},
    {"main.act.inSuggest", false},
    {"main.learnWithout", false},
    {"main.field.body", 0},
    {"main.field.subject", 0},
    {"main.field.sender", 0},
    {"main.field.recipients", 0},
    {"main.field.list", 0},
    {"main.field.other", 0},
    {"main.field.header", 1},
    {"main.act.inField", 0},
    {"main.act.inField.hint", 0},
    {"main.act.inField.label", 0},
    {"main.act.inField.name", 0},
    {"main.act.inField.shown", 1},
    {"main.act.inField.title", 0},
    {"learn.leftOut", true},
    {"main.act.inSuggest.hint", false},
    {"suggest.title", false},
    {"suggest.label", false},
    {"suggest.word", false},
    {"suggest.inFolder", false},
    {"suggest.inOthers", false},
    {"suggest.unmatched", true},
    {"suggest.none", false},
    {"suggest.buttonAdd", false},
    {"suggest.buttonCancel", false},
    {"main.act.inAddStimulation.label", false},
    {"main.act.inAddStimulation.title", false},
    {"main.act.inEdit", false},
    {"main.act.inEdit.hint", false},
    {"main.act.inEdit.label", false},
    {"main.act.inEdit.title", false},
    {"main.act.inEditStimulation.label", false},
    {"main.act.inEditStimulation.title", false},
    {"main.act.inDel", false},
    {"main.act.inDel.hint", false},
    {"main.act.inDel.warn", true},
    {"main.act.inDelStimulation.warn", true},
    {"main.act.inExpand", false},
    {"main.act.inExpand.hint", false},
    {"main.act.inExpandAll", false},
    {"main.act.inExpandAll.hint", false},
    {"main.act.inColapse", false},
    {"main.act.inColapse.hint", false},
    {"main.act.inColapseAll", false},
    {"main.act.inColapseAll.hint", false},
    {"main.act.outAdd.hint", false},
    {"main.act.outEdit.hint", false},
    {"main.act.outDel.hint", false},
    {"main.act.outDel.warn", true},
    {"main.act.outCatSel.hint", false},
    {"main.act.fileSelectFolder.hint", false},
    {"main.act.netLearn", false},
    {"main.act.netLearn.hint", false},
    {"main.act.netTest", false},
    {"main.act.netTest.hint", false},
    {"warn", false},
    {"outeditor.title.add", false},
    {"outeditor.title.edit", false},
    {"outeditor.name", false},
    {"outeditor.answer", false},
    {"outeditor.email", false},
    {"outeditor.buttonOk", false},
    {"outeditor.buttonCancel", false},
    {"selectfolder.label", false},
    {"selectfolder.root", false},
    {"selectfolder.title.main", false},
    {"selectfolder.title.settings", false},
    {"mail.from", false},
    {"mail.to", false},
    {"mail.sent", false},
    {"mail.received", false},
    {"mail.answer.header", false},
    {"mail.answer.folder", true},
    {"mail.answer.footer", false},
    {"outlookexpress.folder.main", false},
    {"outlookexpress.folder.output", false},
    {"outlookexpress.folder.learningset", false},
};

// "%%" left out, the conversions of a value: "s" for each "%s", "?" for anything else.
std::string conversions(const std::string& value) {
    std::string found;
    for (std::size_t at = value.find('%'); at != std::string::npos; at = value.find('%', at)) {
        if (at + 1 < value.size() && value[at + 1] == '%') {
            at += 2;
            continue;
        }
        found += at + 1 < value.size() && value[at + 1] == 's' ? 's' : '?';
        at += 1;
    }
    return found;
}

TEST(StringsFile, HoldsExactlyTheKeysOfTheProgram) {
    ASSERT_EQ(std::size(keys), 181u);
    char names[65536];
    unsigned size =
        GetPrivateProfileStringA("en", nullptr, "", names, sizeof names, shipped.c_str());
    ASSERT_LT(size, sizeof names - 2);
    std::multiset<std::string> inFile;
    for (const char* name = names; *name; name += std::string(name).size() + 1)
        inFile.insert(name);
    std::multiset<std::string> expected;
    for (const KeyEntry& entry : keys)
        expected.insert(entry.key);
    EXPECT_EQ(expected.size(), 181u);
    EXPECT_EQ(inFile, expected);
}

TEST(StringsFile, ArgumentKeysPlaceTheirArgumentOnce) {
    for (const KeyEntry& entry : keys) {
        std::string value = getProfileString("en", entry.key, "", shipped);
        EXPECT_FALSE(value.empty()) << entry.key;
        EXPECT_EQ(conversions(value), std::string(static_cast<std::size_t>(entry.arguments), 's'))
            << entry.key << "=" << value;
    }
}

TEST(StringsFile, FolderNamesAndTitleThroughLoc) {
    locOpen(shipped);
    EXPECT_EQ(locText("outlookexpress.folder.main"), "Brevalo");
    EXPECT_EQ(locText("outlookexpress.folder.output"), "Sorted");
    EXPECT_EQ(locText("outlookexpress.folder.learningset"), "Learning set");
    EXPECT_EQ(locText("settings.title"), "Brevalo");
    EXPECT_EQ(locText("mail.answer.folder", "Sales"), "Your message has been passed on to: Sales.");
    // Composed replies break lines at CR LF only: the header's sentence ends with one.
    EXPECT_EQ(locText("mail.answer.header"), "Thank you for your message.\r\n");
    locClose();
}

} // namespace
