#include "auth/credential_release.h"

#include "auth/flavor_writers.h"
#include "platform/heap.h"

namespace qelrpc::auth {

void releaseCredential(RpcAuth* auth) noexcept {
    if (auth == nullptr) return;
    switch (auth->flavor) {
        case RPC_AUTH_UNIX: heap::release(auth->body); break;
        case RPC_AUTH_DES: releaseAuthDesBody(auth->body); break;
        case RPC_RPCSEC_GSS: releaseRpcsecGssBody(auth->body); break;
        default: break;  // AUTH_NULL has no body
    }
    auth->body = nullptr;
    heap::release(auth);
}

}  // namespace qelrpc::auth
