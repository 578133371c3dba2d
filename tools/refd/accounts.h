// SPDX-License-Identifier: MIT
// The reference daemon's table of users and groups, read from a small text
// file:
//
//   # comment
//   user NAME PASSWORD UID GID [EXTRA_GID ...]
//   group NAME GID
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace refd {

struct User {
    std::string name;
    std::string password;
    int32_t uid = -1;
    int32_t gid = -1;
    std::vector<int32_t> extraGids;
};

struct Group {
    std::string name;
    int32_t gid = -1;
};

class Accounts {
  public:
    // Reads the file; on failure returns nullopt and says why in `error`.
    static std::optional<Accounts> load(const std::string& path, std::string& error);

    const User* userByName(const std::string& name) const;
    const User* userByUid(int32_t uid) const;
    const Group* groupByName(const std::string& name) const;
    const Group* groupByGid(int32_t gid) const;
    // The user when the name and password match, else null.
    const User* authenticate(const std::string& name, const std::string& password) const;

    std::size_t userCount() const { return users_.size(); }
    std::size_t groupCount() const { return groups_.size(); }

  private:
    std::vector<User> users_;
    std::vector<Group> groups_;
};

}  // namespace refd
