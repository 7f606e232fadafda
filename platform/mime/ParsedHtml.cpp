#include "platform/mime/ParsedHtml.h"

#include <cstddef>
#include <algorithm>
#include <cstdlib>
#include <new>

// A large block: linked into a list, so that deallocate unlinks one and the destructor
// frees what is left without walking the tree.
struct ParsedHtml::Block {
    Block* previous;
    Block* next;
};

struct ParsedHtml::Chunk {
    Chunk* next;
};

namespace {
// Keeps the blocks handed out aligned as malloc's own.
constexpr std::size_t alignment = alignof(std::max_align_t) >= 16 ? alignof(std::max_align_t) : 16;
// Before every block: its size class (0 for a large block) in the word just before it; a
// large block's list links before that.
constexpr std::size_t smallHeader = alignment;
constexpr std::size_t largeHeader = 2 * alignment;
static_assert(sizeof(void*) * 2 + sizeof(std::size_t) <= largeHeader);
constexpr std::size_t chunkSize = 64 * 1024;
constexpr std::size_t chunkHeader = alignment;

std::size_t& sizeClassOf(void* memory) {
    return *reinterpret_cast<std::size_t*>(static_cast<char*>(memory) - sizeof(std::size_t));
}
} // namespace

ParsedHtml::ParsedHtml(std::string utf8) : source(std::move(utf8)) {
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &ParsedHtml::allocate;
    options.deallocator = &ParsedHtml::deallocate;
    options.userdata = this;
    options.max_errors = 0; // the errors are not read; recording them costs time
    try {
        output = gumbo_parse_with_options(&options, source.data(), source.size());
    } catch (...) {
        // Out of memory inside the parser: everything it allocated is in the lists.
        freeBlocks();
        throw;
    }
}

ParsedHtml::~ParsedHtml() {
    freeBlocks();
}

void ParsedHtml::freeBlocks() {
    while (blocks) {
        Block* next = blocks->next;
        std::free(blocks);
        blocks = next;
    }
    while (chunks) {
        Chunk* next = chunks->next;
        std::free(chunks);
        chunks = next;
    }
}

void* ParsedHtml::allocateSmall(std::size_t sizeClass) {
    if (void* reused = freeSmall[sizeClass]) {
        freeSmall[sizeClass] = *static_cast<void**>(reused);
        return reused;
    }
    std::size_t need = smallHeader + sizeClass * alignment;
    if (chunkLeft < need) {
        auto* chunk = static_cast<Chunk*>(std::malloc(chunkSize));
        if (!chunk)
            throw std::bad_alloc(); // gumbo does not check; unwinding through C frees nothing
        chunk->next = chunks;
        chunks = chunk;
        chunkFree = reinterpret_cast<char*>(chunk) + chunkHeader;
        chunkLeft = chunkSize - chunkHeader;
    }
    void* memory = chunkFree + smallHeader;
    chunkFree += need;
    chunkLeft -= need;
    sizeClassOf(memory) = sizeClass;
    return memory;
}

void* ParsedHtml::allocate(void* self, size_t size) {
    auto* parsed = static_cast<ParsedHtml*>(self);
    std::size_t sizeClass = (std::max<std::size_t>(size, 1) + alignment - 1) / alignment;
    if (sizeClass <= smallClasses)
        return parsed->allocateSmall(sizeClass);
    auto* block = static_cast<Block*>(std::malloc(largeHeader + size));
    if (!block)
        throw std::bad_alloc();
    block->previous = nullptr;
    block->next = parsed->blocks;
    if (parsed->blocks)
        parsed->blocks->previous = block;
    parsed->blocks = block;
    void* memory = reinterpret_cast<char*>(block) + largeHeader;
    sizeClassOf(memory) = 0;
    return memory;
}

void ParsedHtml::deallocate(void* self, void* memory) {
    if (!memory)
        return;
    auto* parsed = static_cast<ParsedHtml*>(self);
    if (std::size_t sizeClass = sizeClassOf(memory)) {
        *static_cast<void**>(memory) = parsed->freeSmall[sizeClass];
        parsed->freeSmall[sizeClass] = memory;
        return;
    }
    auto* block = reinterpret_cast<Block*>(static_cast<char*>(memory) - largeHeader);
    if (block->previous)
        block->previous->next = block->next;
    else
        parsed->blocks = block->next;
    if (block->next)
        block->next->previous = block->previous;
    std::free(block);
}
const GumboNode* ParsedHtml::body() const {
    if (!output || !output->root || output->root->type != GUMBO_NODE_ELEMENT)
        return nullptr;
    const GumboVector& children = output->root->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (child->type != GUMBO_NODE_ELEMENT)
            continue;
        if (child->v.element.tag == GUMBO_TAG_BODY || child->v.element.tag == GUMBO_TAG_FRAMESET)
            return child;
    }
    return nullptr;
}
