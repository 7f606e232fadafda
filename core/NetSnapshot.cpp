#include "core/NetSnapshot.h"

#include "util/Log.h"
#include "util/RegularFile.h"
#include "core/Net.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

constexpr std::string_view magic = "brevalo-net-snapshot 2\n";

std::uint64_t rotate(std::uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

class Writer {
public:
    void number(std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xff);
    }
    void text(std::string_view value) {
        number(value.size(), 4);
        out += value;
    }
    void texts(const std::vector<std::string>& values) {
        number(values.size(), 4);
        for (const std::string& value : values)
            text(value);
    }
    std::string out;
};

// Every read checks what is left first: the bytes may be anything.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes(bytes) {}

    bool number(std::uint64_t& value, int bytesWide) {
        if (left() < static_cast<std::size_t>(bytesWide))
            return false;
        value = 0;
        for (int i = 0; i < bytesWide; ++i)
            value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[at + i]))
                     << (8 * i);
        at += static_cast<std::size_t>(bytesWide);
        return true;
    }
    // A count of items that take at least `each` bytes apiece: never more than fit.
    bool count(std::size_t& value, std::size_t each) {
        std::uint64_t read = 0;
        if (!number(read, 4) || read > left() / each)
            return false;
        value = static_cast<std::size_t>(read);
        return true;
    }
    bool text(std::string& value) {
        std::size_t length = 0;
        if (!count(length, 1))
            return false;
        value.assign(bytes.substr(at, length));
        at += length;
        return true;
    }
    bool texts(std::vector<std::string>& values) {
        std::size_t n = 0;
        if (!count(n, 4))
            return false;
        values.resize(n);
        for (std::string& value : values)
            if (!text(value))
                return false;
        return true;
    }
    std::size_t left() const { return bytes.size() - at; }

private:
    std::string_view bytes;
    std::size_t at = 0;
};

std::size_t weightCount(int inputs, int hidden, int outputs) {
    if (inputs == 0 || hidden == 0 || outputs == 0)
        return 0;
    auto i = static_cast<std::size_t>(inputs), h = static_cast<std::size_t>(hidden),
         o = static_cast<std::size_t>(outputs);
    return h * i + o * h + h + o;
}

bool readBody(Reader& in, NetSnapshot& net) {
    std::size_t n = 0;
    if (!in.count(n, 8))
        return false;
    net.inputs.resize(n);
    for (NetSnapshot::Stimulation& input : net.inputs)
        if (!in.text(input.name) || !in.texts(input.patterns) || !in.text(input.field))
            return false;
    if (!in.count(n, 12))
        return false;
    net.outputs.resize(n);
    for (NetSnapshot::Folder& output : net.outputs)
        if (!in.text(output.name) || !in.text(output.answer) || !in.texts(output.emails))
            return false;
    if (!in.text(net.damage) || !in.count(n, 8))
        return false;
    net.settings.resize(n);
    for (auto& [key, value] : net.settings)
        if (!in.text(key) || !in.text(value))
            return false;
    std::uint64_t counts[3] = {};
    for (std::uint64_t& c : counts)
        if (!in.number(c, 4) || c > static_cast<std::uint64_t>(maxNetworkCount))
            return false;
    net.inputCount = static_cast<int>(counts[0]);
    net.hiddenCount = static_cast<int>(counts[1]);
    net.outputCount = static_cast<int>(counts[2]);
    if (!isSaneNetworkSize(net.inputCount, net.hiddenCount, net.outputCount))
        return false;
    std::size_t weights = weightCount(net.inputCount, net.hiddenCount, net.outputCount);
    // Written as all three 0 when there is no network: anything else was not written here.
    if (weights > in.left() / 8 || (weights == 0 && (counts[0] || counts[1] || counts[2])))
        return false;
    net.weights.resize(weights);
    for (double& weight : net.weights) {
        std::uint64_t bits = 0;
        in.number(bits, 8);
        std::memcpy(&weight, &bits, sizeof weight);
        // The net file's reader refuses these; a snapshot holding one was not made by it.
        if (!std::isfinite(weight))
            return false;
    }
    return in.left() == 0;
}

} // namespace

std::string NetSnapshot::fileFor(const std::string& netFile) {
    return netFile + ".snapshot";
}

std::uint64_t NetSnapshot::digest(std::string_view bytes) {
    // Eight bytes a step: a net file of megabytes costs a fraction of its parse.
    const std::uint64_t k1 = 0x9E3779B97F4A7C15ull, k2 = 0xC2B2AE3D27D4EB4Full;
    std::uint64_t hash = k1 ^ (bytes.size() * k2);
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + at, 8);
        hash = rotate(hash ^ (word * k2), 31) * k1;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, bytes.data() + at, bytes.size() - at);
    hash = rotate(hash ^ (tail * k2), 31) * k1;
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 33);
}

std::optional<NetSnapshot> NetSnapshot::parse(std::string_view bytes, std::string_view net) {
    if (bytes.size() < magic.size() + 24 || bytes.substr(0, magic.size()) != magic)
        return std::nullopt;
    std::string_view body = bytes.substr(0, bytes.size() - 8);
    Reader sum(bytes.substr(body.size()));
    std::uint64_t checksum = 0, netSize = 0, netDigest = 0;
    sum.number(checksum, 8);
    if (checksum != digest(body))
        return std::nullopt;
    Reader in(body.substr(magic.size()));
    if (!in.number(netSize, 8) || !in.number(netDigest, 8) || netSize != net.size() ||
        netDigest != digest(net))
        return std::nullopt;
    NetSnapshot snapshot;
    if (!readBody(in, snapshot))
        return std::nullopt;
    return snapshot;
}

std::string NetSnapshot::serialize(std::string_view net) const {
    Writer out;
    out.out = magic;
    out.number(net.size(), 8);
    out.number(digest(net), 8);
    out.number(inputs.size(), 4);
    for (const Stimulation& input : inputs) {
        out.text(input.name);
        out.texts(input.patterns);
        out.text(input.field);
    }
    out.number(outputs.size(), 4);
    for (const Folder& output : outputs) {
        out.text(output.name);
        out.text(output.answer);
        out.texts(output.emails);
    }
    out.text(damage);
    out.number(settings.size(), 4);
    for (const auto& [key, value] : settings) {
        out.text(key);
        out.text(value);
    }
    bool network =
        weightCount(inputCount, hiddenCount, outputCount) == weights.size() && !weights.empty();
    for (int count : {inputCount, hiddenCount, outputCount})
        out.number(network ? static_cast<std::uint64_t>(count) : 0, 4);
    for (std::size_t i = 0; network && i < weights.size(); ++i) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &weights[i], sizeof bits);
        out.number(bits, 8);
    }
    out.number(digest(out.out), 8);
    return std::move(out.out);
}

std::optional<NetSnapshot> NetSnapshot::read(const std::string& file, std::string_view net) {
    std::string bytes;
    if (!readRegularFile(file, maxNetBytes, &bytes))
        return std::nullopt;
    std::optional<NetSnapshot> snapshot = parse(bytes, net);
    if (!snapshot)
        debugLog("net snapshot %s: not of the net file as it is now; read the net file",
                 file.c_str());
    return snapshot;
}

bool NetSnapshot::write(const std::string& file, std::string_view net) const {
    std::string bytes = serialize(net);
    if (!replaceFileUnsynced(file, bytes)) {
        debugLog("net snapshot %s: cannot write it (%s)", file.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}
