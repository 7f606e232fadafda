#include "sorting/MailboxCache.h"

#include "sorting/UserMailbox.h"

#include <vector>

MailboxCache::MailboxCache(std::size_t capacity) : capacity(capacity < 1 ? 1 : capacity) {}

MailboxCache::~MailboxCache() = default;

std::shared_ptr<UserMailbox>
MailboxCache::get(const std::string& key,
                  const std::function<std::unique_ptr<UserMailbox>()>& make) {
    std::vector<std::shared_ptr<UserMailbox>> dropped; // freed outside the lock
    std::lock_guard<std::mutex> lock(mutex);
    auto found = kept.find(key);
    if (found != kept.end()) {
        order.splice(order.begin(), order, found->second.place);
        return found->second.mailbox;
    }
    std::shared_ptr<UserMailbox> mailbox = make();
    order.push_front(key);
    kept[key] = {mailbox, order.begin()};
    while (kept.size() > capacity) {
        auto last = kept.find(order.back());
        dropped.push_back(std::move(last->second.mailbox));
        kept.erase(last);
        order.pop_back();
    }
    return mailbox;
}

std::size_t MailboxCache::size() const {
    std::lock_guard<std::mutex> lock(mutex);
    return kept.size();
}
