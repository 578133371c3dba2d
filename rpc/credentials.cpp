// The two plain credential flavors: AUTH_NULL and AUTH_UNIX (RFC 5531
// appendix A).
//
// Attaching a credential stores a fresh record in op->auth without looking
// at the old pointer: a caller-filled or temporary operation may hold an
// uninitialised value there, so it is never released here.
#include <cstring>

#include "platform/clock.h"
#include "platform/host.h"
#include "qelrpc.h"
#include "platform/heap.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {
// Used when the host's own name cannot be read.
constexpr const char* kFallbackMachineName = "localhost";
}  // namespace

extern "C" {

int rpcCreateAuthNull(RpcOperation* op) {
    if (op == nullptr) return 0;
    op->auth = nullptr;
    auto* a = static_cast<RpcAuth*>(heap::zeroed(sizeof(RpcAuth)));
    if (a == nullptr) return 0;
    op->auth = a;
    return 1;
}

int rpcCreateAuthUnix(RpcOperation* op, const char* machineName, uint32_t uid, uint32_t gid) {
    if (op == nullptr) return 0;
    op->auth = nullptr;

    char hostName[RPC_AUTHUNIX_MACHINE_MAX + 1] = {};
    if (machineName == nullptr) {
        if (!platform::localHostName(hostName, sizeof hostName) || hostName[0] == '\0')
            std::strcpy(hostName, kFallbackMachineName);
        machineName = hostName;
    }

    if (!rpcCreateAuthNull(op)) return 0;
    op->auth->flavor = RPC_AUTH_UNIX;

    auto* cred = static_cast<AuthUnixCred*>(heap::zeroed(sizeof(AuthUnixCred)));
    if (cred == nullptr) {
        heap::release(op->auth);
        op->auth = nullptr;
        return 0;
    }
    cred->stamp = platform::unixTimeNow();
    // At most 512 characters; the cleared record keeps the terminator.
    std::memcpy(cred->machineName, machineName, strnlen(machineName, RPC_AUTHUNIX_MACHINE_MAX));
    cred->uid = uid;
    cred->gid = gid;
    cred->gidCount = 1;
    cred->gids[0] = gid;

    op->auth->body = cred;
    op->auth->credLength = static_cast<uint32_t>(24 + wire::padded(std::strlen(cred->machineName)));
    return 1;
}

}  // extern "C"
