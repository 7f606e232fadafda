#include "platform/mime/GMimeLibrary.h"

#include <gmime/gmime.h>

#include <mutex>

void GMimeLibrary::initialise() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}
