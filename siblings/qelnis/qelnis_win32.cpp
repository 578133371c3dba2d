// SPDX-License-Identifier: MIT
// The directory-service library on Windows: the local machine's accounts
// through the security account look-ups. A user's or group's id is the
// relative id (the last sub-authority) of its security identifier; ids go
// back to names within the machine's own account domain, and for groups
// also within the built-in domain (S-1-5-32, where Administrators is 544).
// Every local account's primary group is the machine's "None" group, 513.
#include <windows.h>

#include <cstring>

#include "qelnis.h"
#include "qelnis_type.h"

namespace {

constexpr DWORD kNoneGroupRid = 513;
constexpr DWORD kBuiltinDomainRid = 32;  // SECURITY_BUILTIN_DOMAIN_RID

struct Sid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
    PSID get() { return bytes; }
};

// Looks a name up on this machine; its relative id and account kind.
bool nameToRid(const char* name, DWORD& rid, SID_NAME_USE& use) {
    Sid sid;
    DWORD sidSize = sizeof sid.bytes;
    char domain[256];
    DWORD domainSize = sizeof domain;
    if (!LookupAccountNameA(nullptr, name, sid.get(), &sidSize, domain, &domainSize, &use)) return false;
    const UCHAR n = *GetSidSubAuthorityCount(sid.get());
    if (n == 0) return false;
    rid = *GetSidSubAuthority(sid.get(), n - 1);
    return true;
}

// The machine's account domain: the SID that the computer's own name has.
bool machineDomain(Sid& out) {
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD computerSize = sizeof computer;
    if (!GetComputerNameA(computer, &computerSize)) return false;
    DWORD sidSize = sizeof out.bytes;
    char domain[256];
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    return LookupAccountNameA(nullptr, computer, out.get(), &sidSize, domain, &domainSize, &use) != 0;
}

// The name of the account domain + rid, cut to size - 1 characters.
bool ridToName(PSID domainSid, DWORD rid, char* buffer, int size) {
    const UCHAR n = *GetSidSubAuthorityCount(domainSid);
    if (n >= SID_MAX_SUB_AUTHORITIES) return false;
    Sid sid;
    if (!InitializeSid(sid.get(), GetSidIdentifierAuthority(domainSid), static_cast<BYTE>(n + 1))) return false;
    for (UCHAR i = 0; i < n; ++i) *GetSidSubAuthority(sid.get(), i) = *GetSidSubAuthority(domainSid, i);
    *GetSidSubAuthority(sid.get(), n) = rid;
    char name[256];
    DWORD nameSize = sizeof name;
    char domain[256];
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid.get(), name, &nameSize, domain, &domainSize, &use)) return false;
    qelnis::copyName(name, buffer, size);
    return true;
}

bool isGroup(SID_NAME_USE use) { return use == SidTypeGroup || use == SidTypeAlias || use == SidTypeWellKnownGroup; }

}  // namespace

extern "C" {

int dirservice_gettype(int* type) {
    if (type == nullptr) return 0;
    *type = qelnis::configuredType();
    return 1;
}

int dirservice_groupnametogid(const char* groupName, int* gid) {
    if (groupName == nullptr || gid == nullptr) return -1;
    DWORD rid;
    SID_NAME_USE use;
    if (!nameToRid(groupName, rid, use) || !isGroup(use)) return 1;
    *gid = static_cast<int>(rid);
    return 0;
}

int dirservice_gidtogroupname(int gid, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return -1;
    Sid domain;
    if (machineDomain(domain) && ridToName(domain.get(), static_cast<DWORD>(gid), buffer, size)) return 0;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    Sid builtin;
    if (InitializeSid(builtin.get(), &nt, 1)) {
        *GetSidSubAuthority(builtin.get(), 0) = kBuiltinDomainRid;
        if (ridToName(builtin.get(), static_cast<DWORD>(gid), buffer, size)) return 0;
    }
    return 1;
}

int dirservice_getlocalcreds(const char* userName, int* uid, int* gid) {
    if (userName == nullptr || uid == nullptr || gid == nullptr) return -1;
    DWORD rid;
    SID_NAME_USE use;
    if (!nameToRid(userName, rid, use) || use != SidTypeUser) return 1;
    *uid = static_cast<int>(rid);
    *gid = static_cast<int>(kNoneGroupRid);
    return 0;
}

int dirservice_uidtousername(int uid, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return -1;
    Sid domain;
    if (machineDomain(domain) && ridToName(domain.get(), static_cast<DWORD>(uid), buffer, size)) return 0;
    return 1;
}

}  // extern "C"
