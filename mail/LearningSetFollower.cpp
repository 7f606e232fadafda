#include "mail/LearningSetFollower.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"

#include <utility>

std::optional<LearningSetFollower::Notification> LearningSetFollower::read(std::uint32_t message,
                                                                           std::uintptr_t wParam) {
    if (message != WM_DELETEMSGS)
        return Notification{message, static_cast<std::uint32_t>(wParam)};
    if (!wParam)
        return std::nullopt;
    return Notification{message, *reinterpret_cast<const MESSAGEID*>(wParam)};
}

LearningSetFollower::Change LearningSetFollower::receive(const Notification& notification) {
    if (holding) {
        held.push_back(notification);
        return {};
    }
    return apply(notification);
}

std::vector<LearningSetFollower::Notification> LearningSetFollower::release() {
    holding = false;
    return std::exchange(held, {});
}

LearningSetFollower::Change LearningSetFollower::apply(const Notification& notification) {
    if (!followed)
        return {};
    switch (notification.message) {
    case WM_NEWMSGS: {
        ref_ptr<FileData> entry;
        try {
            entry = followed->addFile(static_cast<int>(notification.id));
        } catch (const ComException& e) {
            showComError(e, "Reading a new learning message");
        }
        if (!entry)
            return {};
        return {Change::Added, entry};
    }
    case WM_DELETEMSGS: {
        // Written as the learning set writes its ids: a signed "%d" would miss every id
        // above 2^31.
        int index = followed->findFile(formatString("%ld", static_cast<long>(notification.id)));
        if (index < 0)
            return {};
        return {Change::Removed, followed->removeFile(index)};
    }
    case WM_DELETEFOLDER:
        return {Change::FolderRemoved, {}};
    default:
        return {};
    }
}
