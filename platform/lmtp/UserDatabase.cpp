#include "platform/lmtp/UserDatabase.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include <pwd.h>

namespace {

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        std::size_t colon = line.find(':', at);
        parts.push_back(line.substr(at, colon - at));
        if (colon == std::string::npos)
            return parts;
        at = colon + 1;
    }
}

bool number(const std::string& text, unsigned long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10)
        return false;
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value <= 0xFFFFFFFEul;
}

} // namespace

bool UserDatabase::readFile(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "open(" + path + ") failed: " + std::strerror(errno);
        return false;
    }
    std::map<std::string, User> read;
    std::string line;
    for (int number_ = 1; std::getline(in, line); ++number_) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> parts = fields(line);
        unsigned long uid = 0, gid = 0;
        if (parts.size() != 7 || parts[0].empty() || !number(parts[2], &uid) ||
            !number(parts[3], &gid) || parts[5].empty() || parts[5][0] != '/') {
            *error = path + ", line " + std::to_string(number_) +
                     ": not a user (name:password:uid:gid:comment:home:shell)";
            return false;
        }
        read[parts[0]] = {parts[0], static_cast<uid_t>(uid), static_cast<gid_t>(gid), parts[5]};
    }
    users = std::move(read);
    fromFile = true;
    return true;
}

std::string UserDatabase::userName(const std::string& address) {
    std::string local = address.substr(0, address.rfind('@'));
    return local.substr(0, local.find('+'));
}

std::optional<UserDatabase::User> UserDatabase::find(const std::string& address) const {
    std::string name = userName(address);
    // A quoted local part, a path or a blank names nobody.
    if (name.empty() || name.size() > 256 ||
        name.find_first_of("/\"\\ \t\r\n:") != std::string::npos || name[0] == '.' ||
        name[0] == '-')
        return std::nullopt;
    if (std::optional<User> user = lookUp(name))
        return user;
    std::string lower = name;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower == name ? std::nullopt : lookUp(lower);
}

std::optional<UserDatabase::User> UserDatabase::lookUp(const std::string& name) const {
    if (fromFile) {
        auto found = users.find(name);
        return found == users.end() ? std::nullopt : std::optional<User>(found->second);
    }
    passwd entry{};
    passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result)
        return std::nullopt;
    return User{result->pw_name, result->pw_uid, result->pw_gid, result->pw_dir};
}
