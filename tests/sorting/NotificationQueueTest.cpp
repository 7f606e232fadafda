// The order the sorters handle queued notifications in: arrivals that queued up together
// as one batch (at most maxSortBatch), anything else in its place between them.

#include "sorting/IncomingMail.h"
#include "sorting/NotificationQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What each takeNext handed on: "new 1,2" or "<message> <pointed-to id>".
std::vector<std::string> drain(NotificationQueue& queue) {
    std::vector<std::string> steps;
    while (!queue.empty())
        queue.takeNext(
            [&](const std::vector<MESSAGEID>& ids) {
                std::string step = "new";
                for (std::size_t i = 0; i < ids.size(); ++i)
                    step += (i ? "," : " ") + std::to_string(ids[i]);
                if (ids.size() > 3)
                    step = "new x" + std::to_string(ids.size());
                steps.push_back(step);
            },
            [&](const NotificationQueue::Notification& n) {
                std::uint32_t id = n.message == WM_DELETEFOLDER
                                       ? static_cast<std::uint32_t>(n.param())
                                       : *reinterpret_cast<const std::uint32_t*>(n.param());
                steps.push_back(std::to_string(n.message) + " " + std::to_string(id));
            });
    return steps;
}

TEST(NotificationQueue, ArrivalsAreTakenTogetherAndOthersKeepTheirPlace) {
    NotificationQueue queue;
    std::uint32_t pointed = 7;
    queue.push(WM_NEWMSGS, 1, 0);
    queue.push(WM_NEWMSGS, 2, 0);
    queue.push(WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&pointed), 0);
    pointed = 8; // the store reuses its slot: the id was read when it was posted
    queue.push(WM_MARKEDASREAD, reinterpret_cast<std::uintptr_t>(&pointed), 0);
    queue.push(WM_NEWMSGS, 3, 0);
    queue.push(WM_DELETEFOLDER, 12, 0);
    EXPECT_EQ(drain(queue),
              (std::vector<std::string>{"new 1,2", "2675 7", "2677 8", "new 3", "2676 12"}));

    for (std::size_t n = 0; n < maxSortBatch + 1; ++n)
        queue.push(WM_NEWMSGS, n + 1, 0);
    EXPECT_EQ(drain(queue), (std::vector<std::string>{"new x" + std::to_string(maxSortBatch),
                                                      "new " + std::to_string(maxSortBatch + 1)}));
}

} // namespace
