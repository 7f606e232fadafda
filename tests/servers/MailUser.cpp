#include "tests/servers/MailUser.h"

#include <stdexcept>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

MailUser lookUp() {
    const passwd* account = getuid() == 0 ? getpwnam("nobody") : getpwuid(getuid());
    if (!account)
        throw std::runtime_error(getuid() == 0 ? "no account \"nobody\" to run mail servers as"
                                               : "the current user has no passwd entry");
    MailUser user;
    user.name = account->pw_name;
    user.uid = account->pw_uid;
    user.gid = account->pw_gid;
    const group* primary = getgrgid(account->pw_gid);
    user.group = primary ? primary->gr_name : std::to_string(account->pw_gid);
    return user;
}

} // namespace

const MailUser& MailUser::get() {
    static const MailUser user = lookUp();
    return user;
}

bool MailUser::switches() const {
    return getuid() == 0 && uid != 0;
}
