#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

// The users a delivery service delivers for: the system's user database, or a file in
// passwd(5) form (virtual users that have no account of their own).
class UserDatabase {
public:
    struct User {
        std::string name;
        uid_t uid = 0;
        gid_t gid = 0;
        std::string home;
    };

    // The system's user database.
    UserDatabase() = default;
    // The users of a passwd(5) file; false with the reason when it cannot be read or holds
    // a line that is not a user (its number in the reason).
    bool readFile(const std::string& path, std::string* error);

    // The user an address is for: its local part with a "+detail" dropped, as it is, then
    // in lower case. Nothing for an address that names no user.
    std::optional<User> find(const std::string& address) const;
    // The local part of an address with a "+detail" dropped.
    static std::string userName(const std::string& address);

private:
    std::optional<User> lookUp(const std::string& name) const;

    bool fromFile = false;
    std::map<std::string, User> users;
};
