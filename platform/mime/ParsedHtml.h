#pragma once

#include <gumbo.h>

#include <memory>
#include <string>

// One parsed HTML text. The nodes are allocated by the object itself and all freed at
// once, so that neither parsing nor freeing recurses over the tree's depth.
class ParsedHtml {
public:
    explicit ParsedHtml(std::string utf8);
    ~ParsedHtml();
    ParsedHtml(const ParsedHtml&) = delete;
    ParsedHtml& operator=(const ParsedHtml&) = delete;

    // The body element (the frameset of a frameset document), or null.
    const GumboNode* body() const;

private:
    static void* allocate(void* self, size_t size);
    static void deallocate(void* self, void* block);
    void freeBlocks();

    struct Block;
    std::string source; // gumbo's nodes point into it
    Block* blocks = nullptr;
    GumboOutput* output = nullptr;
};
