#include "sorting/LmtpDelivery.h"

#include "platform/lmtp/FileSystemIdentity.h"
#include "sorting/MessageDelivery.h"
#include "sorting/UserMailbox.h"

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
        return "550 5.1.1 <" + address.substr(0, 200) + ">: no such user here";
    return "250 2.1.5 Ok";
}

std::string LmtpDelivery::deliverTo(const std::string& recipient, const std::string& text) {
    if (!users) {
        std::shared_ptr<UserMailbox> mailbox =
            cache.get("", [&] { return std::make_unique<UserMailbox>(service, false); });
        return mailbox->deliver(text, &group);
    }
    std::optional<UserDatabase::User> user = users->find(recipient);
    if (!user)
        return "550 5.1.1 <" + recipient.substr(0, 200) + ">: no such user here";
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
    return mailbox->deliver(text, &group);
}

std::vector<std::string> LmtpDelivery::deliver(const LmtpSession::Envelope& envelope,
                                               std::string message) {
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
    std::vector<std::string> replies;
    for (const std::string& recipient : envelope.recipients)
        replies.push_back(deliverTo(recipient, text));
    return replies;
}
