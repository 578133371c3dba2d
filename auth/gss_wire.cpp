#include "auth/gss_wire.h"

#include "xdr/wire.h"

namespace qelrpc::gss {
namespace {

bool word(MbufCursor& r, uint32_t& v) {
    const uint8_t* p = wire::take(r, 4);
    if (p == nullptr) return false;
    v = wire::loadWord(p);
    return true;
}

// An opaque<>: the length is checked against the bytes left before any
// pointer moves.
bool opaque(MbufCursor& r, const uint8_t*& bytes, uint32_t& length) {
    uint32_t n = 0;
    if (!word(r, n)) return false;
    const uint8_t* p = wire::take(r, wire::padded(n));
    if (p == nullptr) return false;
    bytes = p;
    length = n;
    return true;
}

}  // namespace

bool readInitResult(const MbufCursor& window, InitResult& out) noexcept {
    MbufCursor r = window;
    InitResult res;
    if (!opaque(r, res.handle, res.handleLength)) return false;
    if (res.handleLength > RPCSEC_GSS_MAX_HANDLE) return false;
    if (!word(r, res.major) || !word(r, res.minor)) return false;
    res.seqWindow = wire::take(r, 4);
    if (res.seqWindow == nullptr) return false;
    if (!opaque(r, res.token, res.tokenLength)) return false;
    out = res;
    return true;
}

bool readReplyVerifier(const uint8_t* reply, uint32_t length, Verifier& out) noexcept {
    if (reply == nullptr) return false;
    MbufCursor r{length, length, const_cast<uint8_t*>(reply)};
    uint32_t xid = 0, type = 0, replyStat = 0, flavor = 0, n = 0;
    if (!word(r, xid) || !word(r, type) || !word(r, replyStat)) return false;
    if (type != 1 || replyStat != 0) return false;
    if (!word(r, flavor) || !word(r, n)) return false;
    if (n > RPC_MAX_AUTH_BYTES) return false;
    const uint8_t* body = wire::take(r, n);
    if (body == nullptr) return false;
    out.flavor = flavor;
    out.body = body;
    out.length = n;
    return true;
}

}  // namespace qelrpc::gss
