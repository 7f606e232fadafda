#include "sorting/LmtpDelivery.h"

#include "platform/lmtp/FileSystemIdentity.h"
#include "sorting/MessageDelivery.h"
#include "sorting/UserMailbox.h"

#include <map>

namespace {

std::string unknownUser(const std::string& address) {
    return "550 5.1.1 <" + UserMailbox::replyText(address) + ">: no such user here";
}

} // namespace

LmtpDelivery::LmtpDelivery(const UserDatabase& users, std::string maildirTemplate,
                           const ProgramEnvironment& service, std::size_t cachedUsers)
    : users(&users), maildirTemplate(std::move(maildirTemplate)), service(service),
      cache(cachedUsers) {}

LmtpDelivery::LmtpDelivery(const ProgramEnvironment& own, std::size_t cachedUsers)
    : service(own), cache(cachedUsers) {}

LmtpDelivery::~LmtpDelivery() = default;

std::string LmtpDelivery::storePath(const std::string& maildirTemplate,
                                    const UserDatabase::User& user) {
    std::string path;
    for (std::size_t i = 0; i < maildirTemplate.size(); ++i) {
        char c = maildirTemplate[i];
        if (c != '%' || i + 1 == maildirTemplate.size()) {
            path += c;
            continue;
        }
        char what = maildirTemplate[++i];
        if (what == 'u')
            path += user.name;
        else if (what == 'h')
            path += user.home;
        else
            path += what; // "%%" is a "%"
    }
    return path;
}

std::string LmtpDelivery::checkRecipient(const std::string& address) {
    if (users && !users->find(address))
        return unknownUser(address);
    return "250 2.1.5 Ok";
}

std::string LmtpDelivery::deliverTo(const std::optional<UserDatabase::User>& user,
                                    const std::string& text,
                                    std::vector<std::function<void(bool sent)>>& afterReplies) {
    std::function<void(bool)> then;
    if (!users) {
        std::shared_ptr<UserMailbox> mailbox =
            cache.get("", [&] { return std::make_unique<UserMailbox>(service, false); });
        std::string reply = mailbox->deliver(text, &group, &then);
        afterReplies.push_back(std::move(then));
        return reply;
    }
    std::shared_ptr<UserMailbox> mailbox = cache.get(user->name, [&] {
        ProgramEnvironment environment = service;
        environment.storeRoot = storePath(maildirTemplate, *user);
        environment.storeRootChosen = true;
        environment.home = user->home + "/.config/brevalo/";
        environment.homeChosen = false;
        environment.stateFolder = user->home + "/.local/state/brevalo/";
        return std::make_unique<UserMailbox>(environment, true);
    });
    FileSystemIdentity identity(user->uid, user->gid);
    std::string failure;
    if (!identity.check(&failure))
        return "451 4.3.0 " + failure;
    std::string reply = mailbox->deliver(text, &group, &then);
    // The end of the delivery touches the user's files: as that user too.
    afterReplies.push_back([then = std::move(then), uid = user->uid, gid = user->gid](bool sent) {
        FileSystemIdentity identity(uid, gid);
        if (then)
            then(sent);
    });
    return reply;
}

std::vector<std::string>
LmtpDelivery::deliver(const LmtpSession::Envelope& envelope, std::string message,
                      std::vector<std::function<void(bool sent)>>& afterReplies) {
    if (!MessageDelivery::isMessage(message))
        return std::vector<std::string>(
            envelope.recipients.size(),
            std::string("554 5.6.0 Not a message: ") +
                (message.find_first_not_of(" \t\r\n") == std::string::npos
                     ? "it is empty"
                     : "it does not start with a header field"));
    std::string text = MessageDelivery::storedText(message, &envelope.sender);
    message.clear();
    message.shrink_to_fit();
    // One copy per user, whatever the number of the user's addresses among the
    // recipients: each gets that copy's reply.
    std::vector<std::string> replies;
    std::map<std::string, std::size_t> delivered; // user: the reply's place
    for (const std::string& recipient : envelope.recipients) {
        std::optional<UserDatabase::User> user;
        if (users && !(user = users->find(recipient))) {
            replies.push_back(unknownUser(recipient));
            continue;
        }
        // Two names for one store (a user's aliases in a passwd file) get one copy too.
        std::string name = user ? storePath(maildirTemplate, *user) : std::string();
        if (auto found = delivered.find(name); found != delivered.end()) {
            replies.push_back(replies[found->second]);
            continue;
        }
        delivered[name] = replies.size();
        // Whatever goes wrong with one delivery (memory, a library's fault) is that
        // delivery's temporary failure, never the service's end.
        try {
            replies.push_back(deliverTo(user, text, afterReplies));
        } catch (const std::exception& e) {
            replies.push_back("451 4.3.0 " + UserMailbox::replyText(e.what()));
        }
    }
    return replies;
}
