#include "core/MessageSource.h"

#include "platform/profile/Loc.h"

#include <exception>

std::string programFolder(const MessageSource* source, const char* locKey) {
    if (!source)
        return {};
    return source->defaultFolder(locText("outlookexpress.folder.main"), locText(locKey));
}

MessageSource::TextMaker MessageSource::prepareText(const std::string& folder,
                                                    const std::string& message,
                                                    const std::vector<std::string>& fields) const {
    try {
        return [text = messageText(folder, message, fields)] { return text; };
    } catch (...) {
        return [failure = std::current_exception()]() -> std::string {
            std::rethrow_exception(failure);
        };
    }
}
