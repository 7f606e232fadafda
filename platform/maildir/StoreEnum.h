#pragma once

#include "platform/Store.h"
#include "platform/maildir/MaildirFolderTable.h"

#include <cstddef>
#include <vector>

// A running enumeration (the HENUMSTORE handle): the folders or message ids listed when
// it started, and the position of the next record.
class StoreEnum {
public:
    const void* owner = nullptr; // the store or folder that made it
    std::vector<MaildirFolderInfo> folders;
    std::vector<MESSAGEID> messages;
    std::size_t next = 0;
};
