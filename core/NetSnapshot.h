#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What sorting reads of a net file (stimulations, folders, network, settings, the damage
// found), decoded, in a compact file beside it ("<net file>.snapshot"), so that a command
// started once per message does not parse the whole net file, learning set included, at
// every start. The net file stays the only truth: a snapshot is used only when it was
// made from exactly the bytes the net file holds now (their length and a digest of them
// are in it), its format is this program's and it is whole (every count within the file,
// a checksum over all of it). Anything else is ignored, the net file read, and the
// snapshot written again, whole, under a new name renamed over the old one. It is a
// cache: a snapshot that cannot be written costs the next start a parse of the net file.
//
//   brevalo-net-snapshot 2\n
//   <net file length> <net file digest>
//   <stimulation count>, each: <name> <pattern count> <patterns> <field>
//   <folder count>, each: <name> <answer> <address count> <addresses>
//   <damage>
//   <settings count>, each: <key> <value>
//   <inputs> <hidden units> <outputs>, then the weights: hidden rows, output rows,
//   hidden biases, output biases (none when a count is 0)
//   <checksum of everything before it>
// Counts and text lengths are 4-byte, lengths and digests 8-byte little-endian numbers;
// weights are the 8 bytes of each double, least significant first.
class NetSnapshot {
public:
    // The largest net file (and snapshot) read: far beyond any net people make.
    static constexpr std::size_t maxNetBytes = std::size_t{64} << 20;
    struct Stimulation {
        std::string name;
        std::vector<std::string> patterns;
        std::string field; // HeaderField key; empty: the body
    };
    struct Folder {
        std::string name;
        std::string answer;
        std::vector<std::string> emails;
    };
    // The decoded values of the "settings" section present in the file, by key.
    using Settings = std::vector<std::pair<std::string, std::string>>;

    std::vector<Stimulation> inputs;
    std::vector<Folder> outputs;
    std::string damage;
    Settings settings;
    int inputCount = 0;
    int hiddenCount = 0;
    int outputCount = 0;
    // hiddenCount * inputCount + outputCount * hiddenCount + hiddenCount + outputCount
    // values when every count is above 0; none otherwise.
    std::vector<double> weights;

    // Where the snapshot of a net file lies.
    static std::string fileFor(const std::string& netFile);
    // A 64-bit digest of the bytes, to tell a net file from any other.
    static std::uint64_t digest(std::string_view bytes);

    // The snapshot that `bytes` hold when it was made from the net file text `net`; nothing
    // when it was made from other bytes or is not a whole snapshot of this format.
    static std::optional<NetSnapshot> parse(std::string_view bytes, std::string_view net);
    std::string serialize(std::string_view net) const;

    // parse() of the file; nothing when it is missing or unreadable.
    static std::optional<NetSnapshot> read(const std::string& file, std::string_view net);
    // Writes the file whole (a new file renamed over the old one; not synced: a snapshot
    // a crash cuts short fails its checksum). False when it could not be written.
    bool write(const std::string& file, std::string_view net) const;
};
