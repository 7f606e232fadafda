#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class UserMailbox;

// The users' mailboxes a delivery service keeps, at most a given number: the least
// recently delivered to goes when another comes, so a server with thousands of users
// holds only the active ones. A mailbox in use when it goes lives on until its delivery
// ends. Safe to use from several threads.
class MailboxCache {
public:
    explicit MailboxCache(std::size_t capacity);
    ~MailboxCache();

    // The mailbox kept under key, else the one make() makes (and keeps).
    std::shared_ptr<UserMailbox> get(const std::string& key,
                                     const std::function<std::unique_ptr<UserMailbox>()>& make);
    std::size_t size() const;

private:
    using Order = std::list<std::string>;
    struct Kept {
        std::shared_ptr<UserMailbox> mailbox;
        Order::iterator place;
    };

    std::size_t capacity;
    mutable std::mutex mutex;
    Order order; // most recent first
    std::map<std::string, Kept> kept;
};
