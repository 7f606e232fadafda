#pragma once

#include <map>
#include <string>
#include <vector>

// What a Maildir++ store holds, for tests to check where mail landed.
struct StoreContents {
    // Every message file of the store by Message-ID: the folders (the inbox as "") it lies
    // in, " tmp" after a folder whose tmp/ holds it, and its text.
    struct Placed {
        std::vector<std::string> folders;
        std::string text;
    };
    static std::map<std::string, Placed> messages(const std::string& maildir);
};
