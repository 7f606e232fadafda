#include "core/NetSnapshot.h"

#include "CoreTestSupport.h"
#include "core/NetFile.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// What sorting reads of a net: neurons, network bit for bit, damage and settings.
std::string describe(const Net& net) {
    std::ostringstream out;
    for (int n = 0; n < net.inputCount(); ++n) {
        out << "in[" << net.getInput(n)->getName() << "] {" << net.getInput(n)->getField() << "}";
        for (const std::string& pattern : net.getInput(n)->getRegexes())
            out << " [" << pattern << "]";
        out << "\n";
    }
    for (int n = 0; n < net.outputCount(); ++n)
        out << "out[" << net.getOutput(n)->getName() << "] [" << net.getOutput(n)->getAnswer()
            << "] [" << joinAddresses(net.getOutput(n)->getEmails()) << "]\n";
    if (const BackPropagationPtr& network = net.getNetwork()) {
        for (int h = 0; h < network->getHiddenCount(); ++h)
            out << encodeNumbers(network->hwRow(h), network->getInputCount()) << "\n";
        for (int o = 0; o < network->getOutputCount(); ++o)
            out << encodeNumbers(network->owRow(o), network->getHiddenCount()) << "\n";
        out << encodeNumbers(network->getHb(), network->getHiddenCount()) << " "
            << encodeNumbers(network->getOb(), network->getOutputCount()) << "\n";
    }
    out << "damage[" << net.damage() << "] " << net.getJobVariant() << net.getStoreMail()
        << net.getEnabled() << net.getEnabledPeriod() << " " << net.getThreshold() << " ["
        << net.getFrom() << "] [" << net.getDestFolder() << "]\n";
    return out.str();
}

std::string loaded(const std::string& file, bool forSorting) {
    ref_ptr<Net> net(new Net(file, nullptr));
    forSorting ? net->loadForSorting() : net->load();
    return describe(*net);
}

const std::string network = "[NeuronsHidden]\ninputCount=_2_\noutputCount=_1_\nhiddenCount=_1_\n"
                            "hw.0=_000000000000F03F|000000000000E0BF_\now.0=_000000000000F03F_\n"
                            "hb=_0000000000000000_\nob=_000000000000D03F_\n";
const std::string neurons = "[NeuronsIn]\nneuron0.name=_offer_\nneuron0.regex0=_\\boffer\\b_\n"
                            "neuron0.regex1=_deal_\nneuron1.name=__\n[NeuronsOut]\n"
                            "neuron0.name=_Ads_\nneuron0.answer=_Thanks,\\r\\nus_\n"
                            "neuron0.emails=_a@example.org;b@example.org_\n";
const std::string settings = "[settings]\njobvariant=_2_\nStoreMail=_0_\nthreshold=_42.5_\n"
                             "from=_me@example.org_\ndestFolder=_17_\n";

struct NetCase {
    const char* name;
    std::string text;
};

class SortingLoad : public testing::TestWithParam<NetCase> {};

// Loaded for sorting, from the net file and then from the snapshot made of it, a net is
// what the full load makes of the file: a learned one, damaged ones, an unlearned one.
TEST_P(SortingLoad, TakesWhatTheNetFileHolds) {
    CoreTestFolder dir;
    writeFile(dir.netFile(), GetParam().text);
    std::string expected = loaded(dir.netFile(), false);
    EXPECT_EQ(loaded(dir.netFile(), true), expected);
    ASSERT_TRUE(NetSnapshot::read(NetSnapshot::fileFor(dir.netFile()), GetParam().text));
    EXPECT_EQ(loaded(dir.netFile(), true), expected);
}

INSTANTIATE_TEST_SUITE_P(
    NetSnapshot, SortingLoad,
    testing::Values(
        NetCase{"learned", neurons + settings + network},
        NetCase{"unlearned", neurons + "[Files]\nfile_1=_0_\n"},
        NetCase{"damaged_row", neurons + network.substr(0, network.size() - 18) + "F8FF_\n"},
        NetCase{"cut_off", neurons + network.substr(0, network.size() - 9)}, NetCase{"empty", ""},
        NetCase{"header_field",
                [] {
                    std::string text = neurons + network;
                    text.insert(text.find("[NeuronsOut]"), "neuron1.field=_header:X-Tag_\n");
                    return text;
                }()}),
    [](const auto& info) { return std::string(info.param.name); });

// A net file changed since the snapshot was made, even to a text of the same length within
// the same tick of the file clock, is read again: the snapshot is never trusted over it.
TEST(NetSnapshot, AChangedNetFileIsReadAgain) {
    CoreTestFolder dir;
    std::string text = neurons + settings + network;
    writeFile(dir.netFile(), text);
    loaded(dir.netFile(), true);
    std::string changed = text;
    changed.replace(changed.find("42.5"), 4, "61.5");
    writeFile(dir.netFile(), changed);
    EXPECT_EQ(loaded(dir.netFile(), true), loaded(dir.netFile(), false));
    EXPECT_NE(loaded(dir.netFile(), true).find(" 61.5 "), std::string::npos);
}

// A snapshot with a valid checksum around the given body (what follows the net file's
// length and digest).
std::string sealed(const std::string& body, const std::string& net,
                   const std::string& magic = "brevalo-net-snapshot 2\n") {
    std::string bytes = magic;
    auto number = [&bytes](std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes += static_cast<char>(value >> (8 * i));
    };
    number(net.size(), 8);
    number(NetSnapshot::digest(net), 8);
    bytes += body;
    number(NetSnapshot::digest(bytes), 8);
    return bytes;
}

// Whatever a snapshot file holds (cut short anywhere, a byte changed, counts past its end
// or past any real net, weights that are no numbers), it is refused without reading past
// its end or allocating what it claims, and the net comes from the net file.
TEST(NetSnapshot, ADamagedOrHostileSnapshotIsRefused) {
    CoreTestFolder dir;
    std::string text = neurons + settings + network;
    writeFile(dir.netFile(), text);
    std::string expected = loaded(dir.netFile(), true);
    std::string file = NetSnapshot::fileFor(dir.netFile());
    std::string good = readFile(file);
    ASSERT_TRUE(NetSnapshot::parse(good, text));
    EXPECT_EQ(NetSnapshot::parse(good, text)->serialize(text), good);
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(NetSnapshot::parse(good.substr(0, cut), text)) << cut;
    for (std::size_t at = 0; at < good.size(); ++at) {
        std::string changed = good;
        changed[at] ^= 0x20;
        EXPECT_FALSE(NetSnapshot::parse(changed, text)) << at;
    }
    const std::string none(4, '\0'), all(4, '\xff');
    const std::string zeros = none + none + none + none; // no neuron, damage or setting
    for (const std::string& body :
         {all, none + all, none + none + all, none + none + none + all,
          zeros + std::string("\x01\0\0\0\x01\0\0\0\x01\0\0\0", 12) + std::string(24, '\0'),
          zeros + std::string("\x01\0\0\0\x01\0\0\0\x01\0\0\0", 12) + std::string(24, '\0') +
              std::string("\0\0\0\0\0\0\xf8\x7f", 8),
          zeros + std::string("\xa0\x86\x01\0\xa0\x86\x01\0\xa0\x86\x01\0", 12)})
        EXPECT_FALSE(NetSnapshot::parse(sealed(body, text), text));
    EXPECT_TRUE(NetSnapshot::parse(sealed(zeros + none + none + none, text), text));
    writeFile(file, good.substr(0, good.size() / 2));
    EXPECT_EQ(loaded(dir.netFile(), true), expected);
    EXPECT_EQ(readFile(file), good); // written again, whole
}

// A snapshot in the format before stimulations had a field is rebuilt from the net file,
// whatever it holds.
TEST(NetSnapshot, AnOlderFormatIsRebuilt) {
    CoreTestFolder dir;
    std::string text = neurons + settings + network;
    writeFile(dir.netFile(), text);
    std::string expected = loaded(dir.netFile(), true);
    std::string file = NetSnapshot::fileFor(dir.netFile()), good = readFile(file);
    std::size_t head = good.find('\n') + 17;
    std::string old =
        sealed(good.substr(head, good.size() - head - 8), text, "brevalo-net-snapshot 1\n");
    writeFile(file, old);
    EXPECT_FALSE(NetSnapshot::parse(old, text));
    EXPECT_EQ(loaded(dir.netFile(), true), expected);
    EXPECT_EQ(readFile(file), good);
}

} // namespace
