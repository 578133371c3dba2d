// SPDX-License-Identifier: MIT
#include "accounts.h"

#include <fstream>
#include <sstream>

namespace refd {

std::optional<Accounts> Accounts::load(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    Accounts a;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::istringstream words(line);
        std::string kind;
        if (!(words >> kind) || kind[0] == '#') continue;
        if (kind == "user") {
            User u;
            if (!(words >> u.name >> u.password >> u.uid >> u.gid)) {
                error = path + ":" + std::to_string(lineNo) + ": expected user NAME PASSWORD UID GID [GID ...]";
                return std::nullopt;
            }
            int32_t g;
            while (words >> g) u.extraGids.push_back(g);
            a.users_.push_back(std::move(u));
        } else if (kind == "group") {
            Group g;
            if (!(words >> g.name >> g.gid)) {
                error = path + ":" + std::to_string(lineNo) + ": expected group NAME GID";
                return std::nullopt;
            }
            a.groups_.push_back(std::move(g));
        } else {
            error = path + ":" + std::to_string(lineNo) + ": unknown entry " + kind;
            return std::nullopt;
        }
    }
    return a;
}

const User* Accounts::userByName(const std::string& name) const {
    for (const User& u : users_)
        if (u.name == name) return &u;
    return nullptr;
}

const User* Accounts::userByUid(int32_t uid) const {
    for (const User& u : users_)
        if (u.uid == uid) return &u;
    return nullptr;
}

const Group* Accounts::groupByName(const std::string& name) const {
    for (const Group& g : groups_)
        if (g.name == name) return &g;
    return nullptr;
}

const Group* Accounts::groupByGid(int32_t gid) const {
    for (const Group& g : groups_)
        if (g.gid == gid) return &g;
    return nullptr;
}

const User* Accounts::authenticate(const std::string& name, const std::string& password) const {
    const User* u = userByName(name);
    return (u != nullptr && u->password == password) ? u : nullptr;
}

}  // namespace refd
