// SPDX-License-Identifier: MIT
// The RPCSEC_GSS credential (RFC 2203): the record, the credential writer
// with the header MIC as verifier, context set-up and destruction, and the
// query of the default credential's principal.
//
// Credential body (flavor 6):            Verifier:
//   0  version (1)                         INIT calls: AUTH_NULL, length 0
//   4  gss_proc (DATA 0, INIT 1, DESTROY 3) others: flavor 6, MIC over the
//   8  seq_num                              header from the xid to the end
//   12 service (1 none, 2 integ, 3 priv)    of the credential body
//   16 handle length, 20 handle, padded
#include <cstdio>
#include <cstring>
#include <vector>

#include "auth/flavor_writers.h"
#include "auth/gss_api.h"
#include "auth/gss_mechanism.h"
#include "auth/gss_protect.h"
#include "auth/gss_providers.h"
#include "auth/gss_status.h"
#include "auth/gss_wire.h"
#include "platform/heap.h"
#include "rpc/c_edge.h"
#include "rpc/call.h"
#include "rpc/call_header.h"
#include "rpc/credentials.h"
#include "rpc/operation.h"
#include "rpc/status.h"
#include "xdr/wire.h"

namespace qelrpc::gss {
namespace {

constexpr uint32_t kCredFixedBytes = 20;
constexpr uint32_t kCredBodyOffset = 36;  // behind mark slot, 6 call words, flavor and length
// RFC 2203 section 5.3.3.1: sequence numbers stay below MAXSEQ; a context
// that reaches it must be replaced.
constexpr uint32_t kMaxSeq = 0x80000000u;
// Kerberos needs two passes; a peer that keeps asking for more is refused.
constexpr int kMaxSetupPasses = 8;

void releaseHandle(AuthGssCred& c) {
    heap::release(c.handle);
    c.handle = nullptr;
    c.handleLength = 0;
}

void deleteContext(AuthGssCred& c) {
    const Mechanism* m = forProvider(c.provider);
    if (m != nullptr) m->deleteContext(c.context);
    c.context = nullptr;
}

// Sends one INIT call carrying `token` and reads the server's answer into
// the record; the server's token, seq_window and verifier are copied out.
struct SetupReply {
    std::vector<uint8_t> token;
    uint8_t seqWindow[4] = {};
    uint8_t verifier[RPC_MAX_AUTH_BYTES] = {};
    uint32_t verifierLength = 0;
};

int exchangeInit(RpcOperation& op, AuthGssCred& c, const Token& token, SetupReply& out) {
    const int h = rpc::prepareHeader(op, 0);
    if (h != 0) return h + rc::kHeaderBase;
    operation::initDataBuffer(op.request);
    wire::Writer w(op.request.data);
    if (token.length > UINT32_MAX || !w.opaque(token.data, static_cast<uint32_t>(token.length))) {
        return rc::kSetupFailed;
    }
    op.request.data = w.window();
    const int call = rpc::callRpc(op, 0);
    if (call != 0) return call + rc::kCallBase;

    InitResult res;
    wire::OpaqueAuth verf;
    const Mbuf& reply = op.reply;
    if (!readInitResult(reply.data, res) ||
        !readReplyVerifier(reply.block.pos, reply.header.count, verf)) {
        return rc::kSetupFailed;
    }
    uint8_t* handle = nullptr;
    if (res.handle.length != 0) {
        handle = static_cast<uint8_t*>(heap::raw(res.handle.length));
        if (handle == nullptr) return rc::kNoMemory;
        std::memcpy(handle, res.handle.data, res.handle.length);
    }
    releaseHandle(c);
    c.handle = handle;
    c.handleLength = res.handle.length;
    c.majorStatus = res.major;
    c.minorStatus = res.minor;
    std::memcpy(out.seqWindow, res.seqWindow, 4);
    std::memcpy(out.verifier, verf.body.data, verf.body.length);
    out.verifierLength = verf.body.length;
    out.token.assign(res.token.data, res.token.data + res.token.length);
    // A server that reports its own GSS failure sends no usable token.
    if (res.major != kComplete && res.major != kContinueNeeded) return rc::kSetupFailed;
    return 0;
}

int initSecurityContext(RpcOperation* op) {
    if (op == nullptr || op->auth == nullptr || op->auth->body == nullptr) return rc::kNoRecord;
    if (op->auth->flavor != RPC_RPCSEC_GSS) return rc::kNotGss;
    auto& c = *static_cast<AuthGssCred*>(op->auth->body);
    // A credential set up before starts over: old handle and context go.
    releaseHandle(c);
    const Mechanism* m = forProvider(c.provider);
    if (m == nullptr) return rc::kUnavailable;
    deleteContext(c);
    c.gssProc = RPCSEC_GSS_PROC_INIT;
    c.seqNum = 0;
    op->auth->verfFlavor = RPC_AUTH_NULL;
    op->auth->verfLength = 0;
    if (c.principal == nullptr) return rc::kImportName;

    SetupReply last;
    std::vector<uint8_t> input;
    bool haveInput = false;
    bool sent = false;
    for (int pass = 0; pass < kMaxSetupPasses; ++pass) {
        Token out;
        bool badName = false;
        const Status s = m->initContext(c.context, c.principal, haveInput ? input.data() : nullptr, input.size(),
                                        out, badName);
        c.majorStatus = s.major;
        c.minorStatus = s.minor;
        if (badName) return rc::kImportName;
        if (s.major != kComplete && s.major != kContinueNeeded) break;
        bool fresh = false;
        if (out.length != 0) {
            const int r = exchangeInit(*op, c, out, last);
            if (r != 0) return r;
            sent = true;
            fresh = true;
        }
        if (s.major == kComplete) {
            // Without an exchange there is no server answer to authenticate.
            if (!sent) return rc::kSetupFailed;
            const int r = verifyMic(*m, c.context, last.seqWindow, 4, last.verifier, last.verifierLength);
            if (r != 0) return r;
            c.gssProc = RPCSEC_GSS_PROC_DATA;
            return 0;
        }
        // Continue needed: the next pass takes the server's newest token.
        if (!fresh) break;
        input.swap(last.token);
        haveInput = true;
    }
    // A local failure, a peer asking for more passes than a set-up needs, or
    // nothing new to go on: the handle goes.
    releaseHandle(c);
    return rc::kSetupFailed;
}

int destroySecurityContext(RpcOperation* op) {
    if (op == nullptr || op->auth == nullptr || op->auth->body == nullptr) return rc::kNoRecord;
    if (op->auth->flavor != RPC_RPCSEC_GSS) return rc::kNotGss;
    auto& c = *static_cast<AuthGssCred*>(op->auth->body);
    const Mechanism* m = forProvider(c.provider);
    if (m == nullptr) return rc::kUnavailable;
    c.gssProc = RPCSEC_GSS_PROC_DESTROY;
    const int h = rpc::prepareHeader(*op, 0);
    if (h != 0) return h + rc::kHeaderBase;
    operation::initDataBuffer(op->request);
    wire::Writer w(op->request.data);
    uint8_t seq[4];
    wire::storeWord(seq, c.seqNum);
    switch (c.service) {
        case RPCSEC_GSS_SVC_NONE: break;
        case RPCSEC_GSS_SVC_INTEGRITY: {
            Token mic;
            const Status s = m->getMic(c.context, seq, 4, mic);
            if (s.major != kComplete) return mapMajorStatus(s.major, rc::kMicFailed);
            // rpc_gss_integ_data over the sequence number alone: its length
            // (4), the number, the MIC.
            if (mic.length > UINT32_MAX || !w.word(4) || !w.word(c.seqNum) ||
                !w.opaque(mic.data, static_cast<uint32_t>(mic.length))) {
                return rc::kMicFailed;
            }
            break;
        }
        case RPCSEC_GSS_SVC_PRIVACY: {
            Token sealed;
            const Status s = m->wrap(c.context, seq, 4, sealed);
            if (s.major != kComplete || sealed.length > UINT32_MAX ||
                !w.opaque(sealed.data, static_cast<uint32_t>(sealed.length))) {
                return rc::kUnsealFailed;
            }
            break;
        }
        default: return rc::kBadService;
    }
    op->request.data = w.window();
    const int call = rpc::callRpc(*op, 0);
    if (call != 0) return call + rc::kCallBase;
    return 0;
}

// Allocates nothing through C++: the exports call it without a barrier.
int inquireCred(char* out, uint32_t* length) noexcept {
    if (out == nullptr || length == nullptr) return rc::kNullArgument;
    out[0] = '\0';
    const Mechanism* m = active();
    if (m == nullptr) return rc::kUnavailable;
    Token text;
    const Status s = m->defaultPrincipal(text);
    switch (s.major) {
        case kComplete: break;
        case kNoCred: return rc::kNoCred;
        case kDefectiveCredential: return rc::kDefectiveCred;
        case kCredentialsExpired: return rc::kCredExpired;
        default: return rc::kInquireFailed;
    }
    const size_t n = text.length;
    if (n > *length) return rc::kTooSmall;
    if (n != 0) std::memcpy(out, text.data, n);
    out[n] = '\0';
    // user@REALM and user/instance@REALM both lose only the realm; the text
    // never grows, so it stays inside the caller's buffer.
    char* at = std::strrchr(out, '@');
    if (at != nullptr) *at = '\0';
    *length = static_cast<uint32_t>(std::strlen(out));
    return 0;
}

}  // namespace
}  // namespace qelrpc::gss

namespace qelrpc::auth {

using namespace qelrpc::gss;

int writeRpcsecGssCred(RpcOperation& op, uint8_t* p, const uint8_t* end) noexcept {
    RpcAuth* a = op.auth;
    if (a == nullptr || a->flavor != RPC_RPCSEC_GSS || a->body == nullptr) return status::kInvalidParameter;
    auto& c = *static_cast<AuthGssCred*>(a->body);
    uint8_t* const base = op.request.block.pos;
    if (base == nullptr || p != base + kCredBodyOffset) return status::kInvalidParameter;
    if (c.handleLength > RPCSEC_GSS_MAX_HANDLE || (c.handleLength != 0 && c.handle == nullptr)) {
        return status::kInvalidParameter;
    }
    const bool init = c.gssProc == RPCSEC_GSS_PROC_INIT;
    const uint32_t credLength = kCredFixedBytes + static_cast<uint32_t>(wire::padded(c.handleLength));
    const uint64_t verfRoom = 8 + (init ? 0 : RPCSEC_GSS_MAX_MIC);
    if (credLength + verfRoom > static_cast<uint64_t>(end - p)) return status::kInvalidParameter;
    const Mechanism* m = forProvider(c.provider);
    if (!init) {
        if (m == nullptr) return rc::kUnavailable;
        if (c.seqNum >= kMaxSeq - 1) return rc::kContextExpired;
        // Every DATA and DESTROY call carries a number of its own, so a
        // server that drops repeats (RFC 2203 section 5.3.3.1) takes it.
        ++c.seqNum;
    }

    // Room for the credential and the largest verifier was checked above.
    wire::Writer w(MbufCursor{0, static_cast<uint32_t>(end - p), p}, 0);
    w.word(RPCSEC_GSS_VERS_1);
    w.word(c.gssProc);
    w.word(c.seqNum);
    w.word(c.service);
    w.opaque(c.handle, c.handleLength);
    a->credLength = credLength;
    // The MIC covers the credential's length word too, so it is in place
    // before the MIC is made.
    wire::storeWord(p - 4, credLength);

    if (init) {
        w.word(RPC_AUTH_NULL);
        w.word(0);
        a->verfFlavor = RPC_AUTH_NULL;
        a->verfLength = 0;
        return 0;
    }
    uint8_t mic[RPCSEC_GSS_MAX_MIC];
    uint32_t micLength = 0;
    // The MIC covers the call from the xid (behind the record mark's slot)
    // to the end of the credential body.
    const uint8_t* const xid = base + 4;
    const int r = getMic(*m, c.context, xid, static_cast<uint32_t>(w.window().pos - xid), mic, sizeof mic, micLength);
    if (r != 0) return r;
    w.opaqueAuth(RPC_RPCSEC_GSS, mic, micLength);
    a->verfFlavor = RPC_RPCSEC_GSS;
    a->verfLength = static_cast<uint32_t>(wire::padded(micLength));
    return 0;
}

void releaseRpcsecGssBody(void* body) noexcept {
    if (body == nullptr) return;
    auto& c = *static_cast<AuthGssCred*>(body);
    deleteContext(c);
    releaseHandle(c);
    heap::release(c.principal);
    heap::release(body);
}

}  // namespace qelrpc::auth

using namespace qelrpc;
using namespace qelrpc::gss;

extern "C" {

int rpcCreateAuthRPCSEC_GSS(RpcOperation* op, const char* serviceName, int service) {
    const Mechanism* m = active();
    if (m == nullptr || op == nullptr || serviceName == nullptr) return 0;
    const bool full = std::strchr(serviceName, '@') != nullptr;
    if (!full && (op->hostName == nullptr || op->hostName[0] == '\0')) return 0;
    op->auth = nullptr;
    auto a = credentials::makeZeroed<RpcAuth>();
    if (a == nullptr) return 0;
    auto c = credentials::makeZeroed<AuthGssCred>(auth::releaseRpcsecGssBody);
    if (c == nullptr) return 0;
    const size_t n = std::strlen(serviceName) + (full ? 0 : std::strlen(op->hostName) + 1);
    c->principal = static_cast<char*>(heap::raw(n + 1));
    if (c->principal == nullptr) return 0;
    std::snprintf(c->principal, n + 1, full ? "%s" : "%s@%s", serviceName, op->hostName);
    c->provider = m->provider();
    c->gssProc = RPCSEC_GSS_PROC_INIT;
    c->service = static_cast<uint32_t>(service);
    a->flavor = RPC_RPCSEC_GSS;
    a->credLength = kCredFixedBytes;
    a->body = c.release();
    op->auth = a.release();
    return 1;
}

int RPCSEC_GSS_InitSecurityContext(RpcOperation* op) {
    return edge::guard(rc::kNoMemory, rc::kSetupFailed, [&] { return initSecurityContext(op); });
}

int RPCSEC_GSS_DestroySecurityContext(RpcOperation* op) {
    return edge::guard(rc::kNoMemory, rc::kSetupFailed, [&] { return destroySecurityContext(op); });
}

int RPCSEC_GSS_InquireCredEx(char* out, uint32_t* length, int) { return inquireCred(out, length); }

int RPCSEC_GSS_InquireCred(char* out, uint32_t* length) { return inquireCred(out, length); }

}  // extern "C"
