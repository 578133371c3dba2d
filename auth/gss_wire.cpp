// SPDX-License-Identifier: MIT
#include "auth/gss_wire.h"

namespace qelrpc::gss {

bool readInitResult(const MbufCursor& window, InitResult& out) noexcept {
    wire::Reader r(window);
    InitResult res;
    res.handle = r.opaque(RPCSEC_GSS_MAX_HANDLE);
    res.major = r.word();
    res.minor = r.word();
    res.seqWindow = r.bytes(4);
    res.token = r.opaque();
    if (!r.ok()) return false;
    out = res;
    return true;
}

bool readReplyVerifier(const uint8_t* reply, uint32_t length, wire::OpaqueAuth& out) noexcept {
    wire::Reader r(reply, length);
    r.skipWords(1);  // xid
    const uint32_t type = r.word();
    const uint32_t replyStat = r.word();
    if (!r.ok() || type != 1 || replyStat != 0) return false;
    const uint32_t flavor = r.word();
    const uint32_t n = r.word();
    const uint8_t* body = n <= RPC_MAX_AUTH_BYTES ? r.bytes(n) : nullptr;
    if (body == nullptr) return false;
    out = wire::OpaqueAuth{flavor, {body, n}};
    return true;
}

}  // namespace qelrpc::gss
