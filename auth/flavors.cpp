// SPDX-License-Identifier: MIT
// The flavor seam of rpc/flavor.h. AUTH_NULL and AUTH_UNIX are plain data
// and written here; AUTH_DES and RPCSEC_GSS have their own writers, reply
// checks and records (auth/des_*.cpp, auth/gss_*.cpp).
#include <cstring>

#include "auth/des_reply.h"
#include "auth/flavor_writers.h"
#include "auth/gss_protect.h"
#include "platform/heap.h"
#include "qelrpc.h"
#include "rpc/flavor.h"
#include "rpc/status.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {

// The verifier words of a flavor that writes them as given (AUTH_NULL's
// and AUTH_UNIX's), behind its credential body.
bool writeVerifierWords(wire::Writer& w, const RpcAuth& a) { return w.word(a.verfFlavor) && w.word(a.verfLength); }

// The AUTH_UNIX body (RFC 5531 appendix A: stamp, machine name, uid, gid,
// one group: the gid) and its verifier words. The body is bounded by the
// credential record (a name of at most 512 characters), so it fits any
// block that holds the fixed header.
int writeAuthUnixCred(RpcAuth& a, wire::Writer& w) {
    if (a.body == nullptr) return status::kInvalidParameter;
    const auto& c = *static_cast<const AuthUnixCred*>(a.body);
    const auto n = static_cast<uint32_t>(strnlen(c.machineName, RPC_AUTHUNIX_MACHINE_MAX));
    // Checked whole first, so a refused body leaves the block untouched.
    if (!wire::hasRoom(w.window(), 24 + wire::padded(n) + 8, 0)) return status::kInvalidParameter;
    w.word(c.stamp);
    w.opaque(c.machineName, n);
    w.word(c.uid);
    w.word(c.gid);
    w.word(1);
    w.word(c.gid);
    writeVerifierWords(w, a);
    a.credLength = static_cast<uint32_t>(24 + wire::padded(n));
    return status::kOk;
}

}  // namespace

namespace qelrpc::flavor {

int writeCredential(RpcOperation& op, uint8_t* at, const uint8_t* end) noexcept {
    if (op.auth == nullptr) return status::kInvalidParameter;
    wire::Writer w(MbufCursor{0, static_cast<uint32_t>(end - at), at}, 0);
    switch (op.auth->flavor) {
        case RPC_AUTH_NULL: return writeVerifierWords(w, *op.auth) ? status::kOk : status::kInvalidParameter;
        case RPC_AUTH_UNIX: return writeAuthUnixCred(*op.auth, w);
        case RPC_AUTH_DES: return auth::writeAuthDesCred(op, at, end);
        case RPC_RPCSEC_GSS: return auth::writeRpcsecGssCred(op, at, end);
        default: return status::kInvalidParameter;
    }
}

int checkReplyVerifier(RpcOperation& op, const wire::OpaqueAuth& verifier) noexcept {
    const uint32_t f = verifier.flavor;
    const uint32_t called = op.auth != nullptr ? op.auth->flavor : RPC_AUTH_NULL;
    // An AUTH_DES or RPCSEC_GSS call is answered by its server with that
    // flavor's verifier, an RPCSEC_GSS set-up (INIT, CONTINUE_INIT) also with
    // AUTH_NULL; an AUTH_NULL verifier can come from anyone, so it
    // authenticates nobody.
    if (called == RPC_AUTH_DES || called == RPC_RPCSEC_GSS) {
        const bool setUp = called == RPC_RPCSEC_GSS && !gss::onEstablishedContext(op);
        if (f != called && !(setUp && f == RPC_AUTH_NULL)) return status::kReplyNoFlavorVerifier;
    } else if (f != RPC_AUTH_NULL && f != RPC_AUTH_DES && f != RPC_RPCSEC_GSS) {
        return status::kReplyMalformed;
    }
    const wire::Opaque& body = verifier.body;
    switch (f) {
        case RPC_AUTH_DES: return auth::takeAuthDesReplyVerifier(op, body) ? status::kOk : status::kReplyAuthError;
        case RPC_RPCSEC_GSS:
            return gss::replyVerifierMatches(op, body.data, body.length) ? status::kOk : status::kReplyAuthError;
        default: return status::kOk;
    }
}

void release(RpcAuth* auth) noexcept {
    if (auth == nullptr) return;
    switch (auth->flavor) {
        case RPC_AUTH_UNIX: heap::release(auth->body); break;
        case RPC_AUTH_DES: auth::releaseAuthDesBody(auth->body); break;
        case RPC_RPCSEC_GSS: auth::releaseRpcsecGssBody(auth->body); break;
        default: break;  // AUTH_NULL has no body
    }
    auth->body = nullptr;
    heap::release(auth);
}

void resetForPortLookup(RpcOperation& op) noexcept {
    if (AuthDesCred* c = auth::desCredential(op)) {
        c->nameKind = RPC_AUTHDES_FULLNAME;
        op.auth->credLength = auth::fullNameCredLength(*c);
    }
}

}  // namespace qelrpc::flavor
