#include "auth/gss_wire.h"

#include "xdr/wire.h"

namespace qelrpc::gss {

bool readInitResult(const MbufCursor& window, InitResult& out) noexcept {
    wire::Reader r(window);
    const wire::Opaque handle = r.opaque(RPCSEC_GSS_MAX_HANDLE);
    InitResult res;
    res.major = r.word();
    res.minor = r.word();
    res.seqWindow = r.bytes(4);
    const wire::Opaque token = r.opaque();
    if (!r.ok()) return false;
    res.handle = handle.data;
    res.handleLength = handle.length;
    res.token = token.data;
    res.tokenLength = token.length;
    out = res;
    return true;
}

bool readReplyVerifier(const uint8_t* reply, uint32_t length, Verifier& out) noexcept {
    if (reply == nullptr) return false;
    wire::Reader r(reply, length);
    r.skipWords(1);  // xid
    const uint32_t type = r.word();
    const uint32_t replyStat = r.word();
    if (!r.ok() || type != 1 || replyStat != 0) return false;
    const uint32_t flavor = r.word();
    const uint32_t n = r.word();
    // The body unpadded: a reply may end right behind it.
    const uint8_t* body = n <= RPC_MAX_AUTH_BYTES ? r.bytes(n) : nullptr;
    if (body == nullptr) return false;
    out.flavor = flavor;
    out.body = body;
    out.length = n;
    return true;
}

}  // namespace qelrpc::gss
