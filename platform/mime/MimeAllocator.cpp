#include "platform/mime/MimeAllocator.h"

#include <cstdlib>

IMimeAllocator* MimeAllocator::instance() {
    // Never released: callers may hold it until the very end of the process.
    static MimeAllocator* allocator = new MimeAllocator;
    allocator->AddRef();
    return allocator;
}

void MimeAllocator::Free(void* p) {
    std::free(p);
}
