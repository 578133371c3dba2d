// SPDX-License-Identifier: MIT
// The two plain credential flavors: AUTH_NULL and AUTH_UNIX (RFC 5531
// appendix A).
//
// Attaching a credential stores a fresh record in op->auth without looking
// at the old pointer: a caller-filled or temporary operation may hold an
// uninitialised value there, so it is never released here.
#include "rpc/credentials.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/host.h"
#include "xdr/wire.h"

namespace qelrpc::credentials {

int createAuthNull(RpcOperation& op) noexcept {
    op.auth = makeZeroed<RpcAuth>().release();
    return op.auth != nullptr ? 1 : 0;
}

int createAuthUnix(RpcOperation& op, const char* machineName, uint32_t uid, uint32_t gid) noexcept {
    op.auth = nullptr;
    char hostName[RPC_AUTHUNIX_MACHINE_MAX + 1] = {};
    if (machineName == nullptr) {
        if (!platform::localHostName(hostName, sizeof hostName) || hostName[0] == '\0')
            std::strcpy(hostName, "localhost");
        machineName = hostName;
    }

    auto auth = makeZeroed<RpcAuth>();
    if (auth == nullptr) return 0;
    auto cred = makeZeroed<AuthUnixCred>();
    if (cred == nullptr) return 0;
    cred->stamp = platform::unixTimeNow();
    // At most 512 characters; the cleared record keeps the terminator.
    std::memcpy(cred->machineName, machineName, strnlen(machineName, RPC_AUTHUNIX_MACHINE_MAX));
    cred->uid = uid;
    cred->gid = gid;
    cred->gidCount = 1;
    cred->gids[0] = gid;

    auth->flavor = RPC_AUTH_UNIX;
    auth->credLength = static_cast<uint32_t>(24 + wire::padded(std::strlen(cred->machineName)));
    auth->body = cred.release();
    op.auth = auth.release();
    return 1;
}

}  // namespace qelrpc::credentials

extern "C" {

int rpcCreateAuthNull(RpcOperation* op) { return op != nullptr ? qelrpc::credentials::createAuthNull(*op) : 0; }

int rpcCreateAuthUnix(RpcOperation* op, const char* machineName, uint32_t uid, uint32_t gid) {
    return op != nullptr ? qelrpc::credentials::createAuthUnix(*op, machineName, uid, gid) : 0;
}

}  // extern "C"
