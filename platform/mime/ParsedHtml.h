#pragma once

#include <gumbo.h>

#include <cstddef>
#include <memory>
#include <string>

// One parsed HTML text. The nodes are allocated by the object itself and all freed at
// once, so that neither parsing nor freeing recurses over the tree's depth. The parser
// makes and frees a great many small blocks (a node, a token's text); those come from
// chunks of the object's own, and a freed one is kept for the next of its size, which
// costs far less than the system allocator.
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
    void* allocateSmall(std::size_t sizeClass);

    struct Block;
    struct Chunk;
    static constexpr std::size_t smallClasses = 32; // blocks of up to 32 × 16 bytes
    std::string source;                             // gumbo's nodes point into it
    Block* blocks = nullptr;                        // the large blocks, each malloc'ed
    Chunk* chunks = nullptr;                        // the small blocks' memory
    char* chunkFree = nullptr;                      // unused rest of the newest chunk
    std::size_t chunkLeft = 0;
    void* freeSmall[smallClasses + 1] = {}; // freed small blocks by size class
    GumboOutput* output = nullptr;
};
