#include "platform/ComInit.h"

namespace {
thread_local int depth = 0;
} // namespace

HRESULT CoInitialize(void*) {
    return depth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (depth > 0)
        --depth;
}

bool comInitialized() {
    return depth > 0;
}
