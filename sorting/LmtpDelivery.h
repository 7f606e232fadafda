#pragma once

#include "platform/lmtp/LmtpSession.h"
#include "platform/lmtp/UserDatabase.h"
#include "platform/maildir/SyncGroup.h"
#include "sorting/MailboxCache.h"
#include "sorting/ProgramEnvironment.h"

#include <memory>
#include <optional>
#include <string>

class UserMailbox;

// What a resident delivery service does with the recipients and messages its LMTP
// sessions receive, shared by every connection (each on a thread of its own): each
// message goes to each recipient's mailbox as deliver would have delivered it, and the
// deliveries of all connections sync their files and folders together (SyncGroup).
//
// For every user of the machine (a service started as root): a recipient is a user of
// the user database, whose store is the template with "%u" (the user name) and "%h"
// (the home folder) filled in, whose net and state lie where that user's own programs
// keep them (~/.config/brevalo/, ~/.local/state/brevalo/), and whose files are written
// as that user: each thread takes the user's file-system identity for the delivery
// (FileSystemIdentity). Threads rather than a process per user: one process keeps the
// nets of the active users and commits every user's deliveries in the same groups.
// For one user (a service started by that user): every recipient is that user. A user
// named by several recipients of a message gets one copy.
class LmtpDelivery : public LmtpSession::Handler {
public:
    // For every user of the database.
    LmtpDelivery(const UserDatabase& users, std::string maildirTemplate,
                 const ProgramEnvironment& service, std::size_t cachedUsers);
    // For the one user whose environment it is.
    LmtpDelivery(const ProgramEnvironment& own, std::size_t cachedUsers);
    ~LmtpDelivery() override;

    std::string checkRecipient(const std::string& address) override;
    std::vector<std::string>
    deliver(const LmtpSession::Envelope& envelope, std::string message,
            std::vector<std::function<void(bool sent)>>& afterReplies) override;

    // The store path of a user by the template.
    static std::string storePath(const std::string& maildirTemplate,
                                 const UserDatabase::User& user);

    SyncGroup& syncGroup() { return group; }
    std::size_t cachedMailboxes() const { return cache.size(); }

private:
    // user: empty for the one user.
    std::string deliverTo(const std::optional<UserDatabase::User>& user, const std::string& text,
                          std::vector<std::function<void(bool sent)>>& afterReplies);

    const UserDatabase* users = nullptr; // null: one user
    std::string maildirTemplate;
    ProgramEnvironment service;
    MailboxCache cache;
    SyncGroup group;
};
