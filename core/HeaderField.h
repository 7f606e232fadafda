#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Where a stimulation looks, by its key as the net file stores it: empty for the body
// (files written before stimulations could look elsewhere have no key at all),
// "subject", "sender" (From, Sender, Reply-To), "recipients" (To, Cc, Delivered-To),
// "list" (List-Id) or "header:<Name>" for any named field.
//
// A message's header texts travel with its body text as one string (the body, then a
// trailer of NUL-separated keys and values), so that every path that reads a message
// for the classifier carries them without a second channel; a text without the trailer
// is the body alone, exactly as before.
class HeaderField {
public:
    // The key for a text people or files give: "body" and "" give "", a known name in
    // any case gives its key, "header:Name" keeps the name; empty with *valid false for
    // anything else (a name with blanks, colons or control characters, or too long).
    static std::string normalize(const std::string& text, bool* valid = nullptr);
    // The header fields a key reads, in order; none for the body or an unknown key.
    static std::vector<std::string> headerNames(const std::string& key);
    // The longest text kept of one key's fields (the rest is cut off).
    static constexpr std::size_t maxFieldText = 16 * 1024;

    // The body with the texts of the keys attached; NULs in the texts become blanks.
    static std::string attach(std::string body,
                              const std::vector<std::pair<std::string, std::string>>& fields);
    // The body part of such a text; fills `fields` (key to text) when given. A text without
    // the trailer is all body.
    static std::string_view split(std::string_view text,
                                  std::map<std::string, std::string>* fields = nullptr);
};
