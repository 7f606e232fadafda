#include "core/WordSuggester.h"
#include "CoreTestSupport.h"
#include "core/LearningSetCheck.h"
#include "core/MemoryMessages.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct WordsCase {
    const char* name;
    const char* text;
    std::vector<std::string> words;
};

class WordsOf : public testing::TestWithParam<WordsCase> {};

TEST_P(WordsOf, KeepsWholeAsciiWordsOfThreeLettersOrMore) {
    EXPECT_EQ(WordSuggester::wordsOf(GetParam().text), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WordsOf,
    testing::Values(
        WordsCase{"LowerCasedOnceEach", "The cat, THE Cat! the", {"cat", "the"}},
        WordsCase{"ShortWordsAndNumbersLeftOut", "an ox 2024 at 3.50 dog", {"dog"}},
        WordsCase{"DigitsAndUnderscoresSpoilAWord", "abc123 foo_bar x1y bar", {"bar"}},
        WordsCase{"NonAsciiLettersSpoilAWord", "caf\xc3\xa9 na\xc3\xafve plain", {"plain"}},
        WordsCase{"PunctuationSeparates", "mail-order:one/two", {"mail", "one", "order", "two"}},
        WordsCase{"Empty", "", {}}),
    [](const testing::TestParamInfo<WordsCase>& info) { return info.param.name; });

// A learning set in memory: each folder's messages hold its own words, every message the
// same filler, and one message ("Stray") only filler.
class Suggestions : public testing::Test {
protected:
    void SetUp() override {
        std::string folder = messages->addFolder();
        const std::vector<std::pair<std::string, std::string>> texts{
            {"Invoices", "Invoice and payment due, hello team"},
            {"Invoices", "Payment reminder: invoice overdue. Hello team"},
            {"Invoices", "Your invoice, payment by card. hello team"},
            {"Travel", "Flight booking confirmed, hello team"},
            {"Travel", "Your flight and hotel booking. Hello team"},
            {"Travel", "Hotel booking changed, flight delayed; hello team"},
            {"Travel", "hello team"},
        };
        net = new Net(dir.netFile(), messages);
        net->setLearnFolder(folder);
        net->addOutput(folderOf("Invoices").get());
        net->addOutput(folderOf("Travel").get());
        for (const auto& [target, text] : texts)
            messages->add(folder, {"", text, "ann@example.org", {}}, text);
        net->loadLearningSet();
        for (int f = 0; f < net->fileCount(); ++f)
            net->getFile(f)->addTarget(net->getOutput(texts[f].first == "Invoices" ? 0 : 1).get());
    }
    std::vector<std::string> wordsFor(const SuggestionReport& report, int folder) {
        std::vector<std::string> found;
        for (const WordSuggestion& s : report.suggestions)
            if (s.folder == folder)
                found.push_back(s.word);
        return found;
    }

    CoreTestFolder dir;
    std::shared_ptr<MemoryMessages> messages = std::make_shared<MemoryMessages>();
    ref_ptr<Net> net;
    LogRecorder quiet;
};

TEST_F(Suggestions, RankAFoldersOwnWordsFirstAndSkipCoveredAndSharedOnes) {
    net->addInput(stimulationOf("pay", {"Payment"}).get()); // case-sensitive: misses "payment"
    net->addInput(stimulationOf("hotels", {"hotel"}).get());
    SuggestionReport report = WordSuggester(*net).suggest(20);
    // In every message of its folder and none other: first, the more frequent first.
    EXPECT_EQ(wordsFor(report, 0), (std::vector<std::string>{"invoice", "payment"}));
    EXPECT_EQ(wordsFor(report, 1), (std::vector<std::string>{"booking", "flight"}));
    const WordSuggestion& top = report.suggestions[0];
    EXPECT_EQ(top.inFolder, 3);
    EXPECT_EQ(top.folderSize, 3);
    EXPECT_EQ(top.inOthers, 0);
    EXPECT_EQ(top.othersSize, 4);
    // The filler, which holds no hint, leaves the last message unmatched.
    EXPECT_EQ(report.unmatched, std::vector<int>{6});
    EXPECT_EQ(wordsFor(WordSuggester(*net).suggest(1), 1), std::vector<std::string>{"booking"});
}

TEST_F(Suggestions, AddedWordsPassTheCheckWhereEveryMessageHoldsOne) {
    net->removeFile(6);
    SuggestionReport report = WordSuggester(*net).suggest(20);
    EXPECT_TRUE(report.unmatched.empty());
    EXPECT_FALSE(checkLearningSet(*net).passed());
    EXPECT_EQ(WordSuggester::addTo(*net, report.suggestions), 5); // "hotel" too now
    EXPECT_EQ(WordSuggester::addTo(*net, report.suggestions), 0); // named already
    ASSERT_EQ(net->inputCount(), 5);
    EXPECT_EQ(net->getInput(0)->getName(), "invoice");
    EXPECT_TRUE(net->getInput(0)->matches("An INVOICE."));
    EXPECT_FALSE(net->getInput(0)->matches("invoices"));
    EXPECT_TRUE(checkLearningSet(*net).passed());
    ASSERT_TRUE(net->save());
    net->load();
    EXPECT_EQ(net->inputCount(), 5);
}

} // namespace
