#include "core/FileData.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"

#include <gtest/gtest.h>

namespace {

TEST(NeuronIn, CompiledPatternsAreKeptUntilAPatternTextChanges) {
    ref_ptr<NeuronIn> changed(new NeuronIn("changed"));
    ref_ptr<NeuronIn> other(new NeuronIn("other"));
    changed->addRegex("price");
    changed->addRegex("offer");
    other->addRegex("invoice");

    REsPtr before = changed->getREs();
    REsPtr otherBefore = other->getREs();
    EXPECT_EQ(changed->getREs().get(), before.get());

    changed->setRegex(1, "deal");
    REsPtr after = changed->getREs();
    EXPECT_NE(after.get(), before.get());
    ASSERT_EQ(after->size(), 2u);
    EXPECT_EQ(after->at(1)->pattern(), "(deal)");
    EXPECT_NE(after->at(0).get(), before->at(0).get()); // every pattern compiled again
    EXPECT_EQ(other->getREs().get(), otherBefore.get());
    // A holder of the old list (the highlighting) keeps it intact.
    EXPECT_EQ(before->at(1)->pattern(), "(offer)");

    EXPECT_TRUE(changed->matches("a good deal"));
    EXPECT_FALSE(changed->matches("a good offer"));
}

TEST(NeuronIn, EditingThePatternList) {
    NeuronIn neuron("n");
    neuron.addRegex("a");
    neuron.addRegex("b");
    neuron.addRegex("c");
    REsPtr compiled = neuron.getREs();

    neuron.setRegex(3, "x");
    neuron.setRegex(-1, "x");
    neuron.removeRegex(3);
    EXPECT_EQ(neuron.getRegexes(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(neuron.getREs().get(), compiled.get());

    neuron.removeRegex(1);
    EXPECT_EQ(neuron.getRegexes(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(neuron.getREs()->size(), 2u);
    EXPECT_EQ(neuron.getRegex(1), "c");
    EXPECT_EQ(neuron.getRegex(2), "");
    EXPECT_EQ(neuron.getRegex(-1), "");
}

TEST(NeuronIn, NoPatternsNeverMatches) {
    NeuronIn neuron("empty");
    EXPECT_EQ(neuron.regexCount(), 0);
    EXPECT_TRUE(neuron.getREs()->empty());
    EXPECT_FALSE(neuron.matches(""));
    EXPECT_FALSE(neuron.matches("anything"));
}

TEST(FileData, TargetsByIdentityWithDuplicates) {
    ref_ptr<NeuronOut> sales(new NeuronOut("Sales"));
    ref_ptr<NeuronOut> twin(new NeuronOut("Sales"));
    ref_ptr<FileData> entry(new FileData("Subject", "17", "Ann", FILETIME{1, 2}));
    entry->addTarget(sales.get());
    entry->addTarget(sales.get());
    entry->addTarget(nullptr);

    EXPECT_EQ(entry->targetCount(), 2);
    EXPECT_EQ(entry->indexOfTarget(sales.get()), 0);
    EXPECT_EQ(entry->indexOfTarget(twin.get()), -1);
    EXPECT_FALSE(entry->removeTarget(2));
    EXPECT_EQ(entry->removeTarget(0).get(), sales.get());
    EXPECT_EQ(entry->targetCount(), 1);
    EXPECT_EQ(entry->getTarget(0).get(), sales.get());
    EXPECT_FALSE(entry->getTarget(1));
    EXPECT_EQ(entry->getName(), "Subject");
    EXPECT_EQ(entry->getReceived().dwHighDateTime, 2u);
}

} // namespace
