#pragma once

#include "platform/Store.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// The inbox's notifications in the order they came, until the sorter's loop (the
// command-line tool's, the tray program's event loop) gets to them. New messages that
// queued up together are taken together, to be sorted as one batch; any other
// notification keeps its place among them (a removal after arrivals is handled after them).
class NotificationQueue {
public:
    struct Notification {
        std::uint32_t message = 0;
        std::uintptr_t wParam = 0;
        std::intptr_t lParam = 0;
        std::uint32_t id = 0; // the id wParam pointed to, copied while it was valid

        // wParam as onStoreNotify takes it: a pointed-to id points to the copy.
        std::uintptr_t param() const;
    };

    // As the store's dispatch posts: the pointed-to id is read now, while it is valid.
    void push(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    bool empty() const { return queue.empty(); }

    // Hands on what comes next: the new messages at the front (at most maxSortBatch ids,
    // in their order) to sortArrived, else the one notification at the front to
    // handleOther. Either is taken off the queue first, so it may push more. True when
    // it was arrivals. Nothing happens when the queue is empty.
    bool takeNext(const std::function<void(const std::vector<MESSAGEID>&)>& sortArrived,
                  const std::function<void(const Notification&)>& handleOther);

private:
    std::deque<Notification> queue;
};
