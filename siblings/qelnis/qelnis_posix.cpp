// SPDX-License-Identifier: MIT
// The directory-service library on POSIX systems: every answer comes from
// the name service switch through the reentrant getgr*_r / getpw*_r calls.
#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <vector>

#include "qelnis.h"
#include "qelnis_type.h"

namespace {

// Entries with very many members need large buffers; beyond this the
// entry counts as unknown rather than growing without end.
constexpr size_t kMaxBuffer = size_t{1} << 20;

// Runs one reentrant look-up, growing its buffer on ERANGE. True and *found
// set when the database has the entry.
template <typename Entry, typename Lookup>
bool lookUp(Entry& entry, std::vector<char>& buf, Lookup lookup) {
    buf.resize(1024);
    for (;;) {
        Entry* found = nullptr;
        const int rc = lookup(&entry, buf.data(), buf.size(), &found);
        if (rc == 0) return found != nullptr;
        if (rc != ERANGE || buf.size() >= kMaxBuffer) return false;
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

extern "C" {

int dirservice_gettype(int* type) {
    if (type == nullptr) return 0;
    *type = qelnis::configuredType();
    return 1;
}

int dirservice_groupnametogid(const char* groupName, int* gid) {
    if (groupName == nullptr || gid == nullptr) return -1;
    try {
        group g{};
        std::vector<char> buf;
        if (!lookUp(g, buf, [&](group* e, char* b, size_t n, group** r) { return getgrnam_r(groupName, e, b, n, r); }))
            return 1;
        *gid = static_cast<int>(g.gr_gid);
        return 0;
    } catch (...) {
        return 1;
    }
}

int dirservice_gidtogroupname(int gid, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return -1;
    try {
        group g{};
        std::vector<char> buf;
        if (!lookUp(g, buf, [&](group* e, char* b, size_t n, group** r) {
                return getgrgid_r(static_cast<gid_t>(gid), e, b, n, r);
            }))
            return 1;
        qelnis::copyName(g.gr_name, buffer, size);
        return 0;
    } catch (...) {
        return 1;
    }
}

int dirservice_getlocalcreds(const char* userName, int* uid, int* gid) {
    if (userName == nullptr || uid == nullptr || gid == nullptr) return -1;
    try {
        passwd p{};
        std::vector<char> buf;
        if (!lookUp(p, buf, [&](passwd* e, char* b, size_t n, passwd** r) { return getpwnam_r(userName, e, b, n, r); }))
            return 1;
        *uid = static_cast<int>(p.pw_uid);
        *gid = static_cast<int>(p.pw_gid);
        return 0;
    } catch (...) {
        return 1;
    }
}

int dirservice_uidtousername(int uid, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return -1;
    try {
        passwd p{};
        std::vector<char> buf;
        if (!lookUp(p, buf, [&](passwd* e, char* b, size_t n, passwd** r) {
                return getpwuid_r(static_cast<uid_t>(uid), e, b, n, r);
            }))
            return 1;
        qelnis::copyName(p.pw_name, buffer, size);
        return 0;
    } catch (...) {
        return 1;
    }
}

}  // extern "C"
