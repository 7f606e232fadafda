#pragma once

#include "platform/Mime.h"

// Frees what the MIME layer allocates for its callers (GetAddressFormat's text).
class MimeAllocator final : public ComObject<IMimeAllocator> {
public:
    // The process's one allocator, with a reference added for the caller.
    static IMimeAllocator* instance();

    void Free(void* p) override;
};
