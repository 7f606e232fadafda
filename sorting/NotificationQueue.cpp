#include "sorting/NotificationQueue.h"

#include "sorting/IncomingMail.h"

namespace {

// New messages and removed folders carry the id itself; the others point to it.
bool pointsToId(std::uint32_t message) {
    return message != WM_NEWMSGS && message != WM_DELETEFOLDER;
}

} // namespace

std::uintptr_t NotificationQueue::Notification::param() const {
    if (pointsToId(message) && wParam)
        return reinterpret_cast<std::uintptr_t>(&id);
    return wParam;
}

void NotificationQueue::push(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    Notification notification{message, wParam, lParam, 0};
    if (pointsToId(message) && wParam)
        notification.id = *reinterpret_cast<const std::uint32_t*>(wParam);
    queue.push_back(notification);
}

bool NotificationQueue::takeNext(
    const std::function<void(const std::vector<MESSAGEID>&)>& sortArrived,
    const std::function<void(const Notification&)>& handleOther) {
    std::vector<MESSAGEID> arrived;
    while (!queue.empty() && queue.front().message == WM_NEWMSGS && arrived.size() < maxSortBatch) {
        arrived.push_back(static_cast<MESSAGEID>(queue.front().wParam));
        queue.pop_front();
    }
    if (!arrived.empty()) {
        sortArrived(arrived);
        return true;
    }
    if (queue.empty())
        return false;
    Notification notification = queue.front();
    queue.pop_front();
    handleOther(notification);
    return false;
}
