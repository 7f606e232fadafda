#include "core/MessageSource.h"

#include "platform/profile/Loc.h"

std::string programFolder(const MessageSource* source, const char* locKey) {
    if (!source)
        return {};
    return source->defaultFolder(locText("outlookexpress.folder.main"), locText(locKey));
}
