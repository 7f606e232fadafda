// What deliver makes of the bytes a transfer agent hands over (the envelope sender before
// the first NUL, when there is one): stored without a sender, they are the input less at
// most its mbox "From " line; with one, the header holds exactly one Return-Path field, the
// first, on one line with no CR or LF inside, and otherwise only lines of the input's
// header, in order; the body is the input's, byte for byte.
#include "util/Text.h"
#include "sorting/MessageDelivery.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Parts {
    std::vector<std::string_view> header; // lines with their ends
    std::string_view body;                // from the blank line that ends the header on
};

Parts split(std::string_view text) {
    Parts parts;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(at, end - at);
        if (line == "\n" || line == "\r\n")
            break;
        parts.header.push_back(line);
        at = end;
    }
    parts.body = text.substr(at);
    return parts;
}

bool isReturnPath(std::string_view line) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || line[0] == ' ' || line[0] == '\t')
        return false;
    std::string name(line.substr(0, colon));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.pop_back();
    return lowerText(name) == "return-path";
}

void checkWithSender(std::string_view bytes, const std::string& sender) {
    std::string path = MessageDelivery::returnPath(sender);
    check(path.size() >= 2 && path.front() == '<' && path.back() == '>',
          "Return-Path not in angle brackets");
    for (std::size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        check(c >= 32 && c != 127, "a control character in Return-Path");
        check((c != '<' && c != '>') || i == 0 || i + 1 == path.size(), "an angle bracket inside");
    }

    std::string plain = MessageDelivery::storedText(bytes, nullptr);
    std::string stored = MessageDelivery::storedText(bytes, &sender);
    Parts in = split(plain), out = split(stored);
    check(!out.header.empty(), "no header");
    std::string_view first = out.header[0];
    check(first.starts_with("Return-Path: " + path), "the first field is not Return-Path");
    check(first.find_first_of("\r\n") >= first.size() - (first.ends_with("\r\n") ? 2 : 1),
          "CR or LF inside the Return-Path field");
    check(out.header.size() < 2 || (out.header[1][0] != ' ' && out.header[1][0] != '\t'),
          "the Return-Path field is continued on the next line");
    std::size_t next = 0;
    for (std::size_t i = 1; i < out.header.size(); ++i) {
        check(!isReturnPath(out.header[i]), "a second Return-Path field");
        while (next < in.header.size() && in.header[next] != out.header[i])
            ++next;
        check(next < in.header.size(), "a header line the message did not have");
        ++next;
    }
    check(out.body == in.body, "the body changed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    MessageDelivery::isMessage(input);
    std::string plain = MessageDelivery::storedText(input, nullptr);
    std::size_t firstLine = std::min(input.find('\n'), input.size() - 1) + 1;
    check(input.ends_with(plain) && input.size() - plain.size() <= firstLine,
          "stored without a sender, more than the From line went");

    std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos)
        return 0;
    std::string sender(input.substr(0, nul));
    std::string_view bytes = input.substr(nul + 1);
    // deliver refuses what is no message (a header that starts with a continuation line)
    // before it stores anything.
    if (MessageDelivery::isMessage(bytes))
        checkWithSender(bytes, sender);
    return 0;
}
