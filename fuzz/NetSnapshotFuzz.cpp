// Any snapshot body, sealed with the net file's length and digest and a right checksum so
// that the reader gets past them: it is refused or read without reading past its end or
// allocating more than it holds, and what is read is written back byte for byte (the
// reader invents nothing and drops nothing).
#include "core/NetSnapshot.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void putNumber(std::string& bytes, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        bytes += static_cast<char>(value >> (8 * i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string net = "[NeuronsIn]\nneuron0.name=_a_\n";
    std::string bytes = "brevalo-net-snapshot 1\n";
    putNumber(bytes, net.size());
    putNumber(bytes, NetSnapshot::digest(net));
    bytes.append(reinterpret_cast<const char*>(data), size);
    putNumber(bytes, NetSnapshot::digest(bytes));
    std::optional<NetSnapshot> snapshot = NetSnapshot::parse(bytes, net);
    if (snapshot && snapshot->serialize(net) != bytes)
        std::abort();
    return 0;
}
