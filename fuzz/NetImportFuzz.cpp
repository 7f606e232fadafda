// Any text given to import, into a net over a store whose learning folder holds two
// messages: either it is refused with an error and the net file keeps every byte it had,
// or the net file it wrote loads back as the very net that was imported (the same export).
#include "util/Exception.h"
#include "util/Log.h"
#include "core/Net.h"
#include "mail/NetExchange.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct World {
    World() {
        folder = workFolder("import");
        std::string root = folder + "/Maildir";
        for (const char* dir : {"", "/.Learn"})
            for (const char* sub : {"/cur", "/new", "/tmp"})
                fs::create_directories(root + dir + sub);
        writeAll(root + "/.Learn/cur/1700000000.M1P1.host:2,S",
                 "Message-ID: <one@example.org>\nSubject: One\n\nFirst\n");
        writeAll(root + "/.Learn/cur/1700000001.M2P1.host:2,S", "Subject: Two\n\nSecond\n");
        connection = connectStore(root);
        learn = std::to_string(
            findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Learn", false));
        netFile = folder + "/zelko.ini";
        ref_ptr<Net> net = open();
        net->addInput(new NeuronIn("offer"));
        net->addOutput(new NeuronOut("Sales"));
        check(net->save(), "the first net cannot be saved");
        baseline = readAll(netFile);
    }
    ref_ptr<Net> open() {
        ref_ptr<Net> net(new Net(netFile, StoreMessages::of(connection.store.get())));
        net->setLearnFolder(learn);
        net->load();
        return net;
    }

    std::string folder, learn, netFile, baseline;
    StoreConnection connection;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World* world = [] {
        setLogToStderr(false);
        return new World;
    }();
    IStoreNamespace* store = world->connection.store.get();
    writeAll(world->netFile, world->baseline);
    ref_ptr<Net> net = world->open();
    try {
        NetExchange::importNet(std::string(reinterpret_cast<const char*>(data), size), *net, store);
    } catch (const Exception&) {
        check(readAll(world->netFile) == world->baseline, "a refused import changed the net file");
        return 0;
    }
    std::string imported = NetExchange::exportNet(*net, store);
    std::string loaded = NetExchange::exportNet(*world->open(), store);
    if (loaded != imported) {
        std::fprintf(stderr, "imported:\n%s\nloaded from its file:\n%s\n", imported.c_str(),
                     loaded.c_str());
        std::abort();
    }
    return 0;
}
