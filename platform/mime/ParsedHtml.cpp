#include "platform/mime/ParsedHtml.h"

#include <cstddef>
#include <cstdlib>
#include <new>

// Every allocation is linked into a list: deallocate unlinks one block, the destructor
// frees what is left without walking the tree.
struct ParsedHtml::Block {
    Block* previous;
    Block* next;
};

namespace {
// Keeps the blocks handed out aligned as malloc's own.
constexpr std::size_t headerSize = alignof(std::max_align_t) >= 16 ? alignof(std::max_align_t) : 16;
static_assert(sizeof(void*) * 2 <= headerSize);
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
        // Out of memory inside the parser: everything it allocated is in the list.
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
}

void* ParsedHtml::allocate(void* self, size_t size) {
    auto* parsed = static_cast<ParsedHtml*>(self);
    auto* block = static_cast<Block*>(std::malloc(headerSize + size));
    if (!block)
        throw std::bad_alloc(); // gumbo does not check; unwinding through C frees nothing
    block->previous = nullptr;
    block->next = parsed->blocks;
    if (parsed->blocks)
        parsed->blocks->previous = block;
    parsed->blocks = block;
    return reinterpret_cast<char*>(block) + headerSize;
}

void ParsedHtml::deallocate(void* self, void* memory) {
    if (!memory)
        return;
    auto* parsed = static_cast<ParsedHtml*>(self);
    auto* block = reinterpret_cast<Block*>(static_cast<char*>(memory) - headerSize);
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
