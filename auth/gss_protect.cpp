// SPDX-License-Identifier: MIT
// RPCSEC_GSS message protection (RFC 2203 section 5.3.2), MICs and the error
// text, all through the back-end seam (auth/gss_mechanism.h). The exports
// that name only a context use the back end new credentials use.
//
// Integrity (rpc_gss_integ_data):   Privacy (rpc_gss_priv_data):
//   4 + P            length word       w       length of the sealed token
//   seq_num          word              token   seal(seq_num | data), padded
//   data             P bytes (padded)
//   q                MIC length
//   MIC(seq_num | data), padded
#include "auth/gss_protect.h"

#include <cstdio>
#include <cstring>

#include "auth/gss_api.h"
#include "auth/gss_mechanism.h"
#include "auth/gss_providers.h"
#include "auth/gss_status.h"
#include "platform/heap.h"
#include "xdr/wire.h"

namespace qelrpc::gss {
namespace {

// RFC 2203's second set-up procedure; this library's set-up sends INIT
// only, but a record may say either.
constexpr uint32_t kProcContinueInit = 2;

// The exports' own steps. None of them allocates through C++ or throws, so
// they need no exception barrier.
int protect(const void* in, uint32_t len, void* out, uint32_t* outLen, int service, uint32_t seqNum,
            RpcGssContext context) noexcept {
    const Mechanism* m = active();
    if (m == nullptr) return rc::kUnavailable;
    if (service < RPCSEC_GSS_SVC_NONE || service > RPCSEC_GSS_SVC_PRIVACY) return 0;  // nothing written
    if (outLen == nullptr || out == nullptr || (in == nullptr && len != 0)) return rc::kNullArgument;
    auto* o = static_cast<uint8_t*>(out);
    if (service == RPCSEC_GSS_SVC_NONE) {
        if (len != 0) std::memmove(o, in, len);
        *outLen = len;
        return 0;
    }
    // Integrity: the length, the number and the data, then their MIC.
    // Privacy: the sealed number and data. Either ends in the token.
    const bool integrity = service == RPCSEC_GSS_SVC_INTEGRITY;
    wire::Writer w(MbufCursor{0, UINT32_MAX, o}, 0);
    Token token;
    if (integrity) {
        // The data is padded to 4 before it is signed, so the length word,
        // the bytes sent and the bytes the MIC covers always agree.
        const uint64_t p = wire::padded(len);
        if (p + 12 > UINT32_MAX) return rc::kMicFailed;
        w.word(static_cast<uint32_t>(4 + p));
        w.word(seqNum);
        // The data may overlap the caller's input: moved, not copied.
        uint8_t* data = w.reserve(static_cast<uint32_t>(p));
        if (len != 0) std::memmove(data, in, len);
        if (p > len) std::memset(data + len, 0, static_cast<size_t>(p - len));
        const Status s = m->getMic(context, o + 4, static_cast<size_t>(4 + p), token);
        if (s.major != kComplete) return mapMajorStatus(s.major, rc::kMicFailed);
    } else {
        if (len > UINT32_MAX - 4) return rc::kSealFailed;
        auto* clear = static_cast<uint8_t*>(heap::raw(size_t{len} + 4));
        if (clear == nullptr) return rc::kNoMemory;
        wire::Writer clearText(MbufCursor{0, len + 4, clear}, 0);
        clearText.word(seqNum);
        if (len != 0) std::memcpy(clearText.reserve(len), in, len);
        const Status s = m->wrap(context, clear, size_t{len} + 4, token);
        heap::release(clear);
        if (s.major != kComplete) return rc::kSealFailed;
    }
    if (token.length > UINT32_MAX || !w.opaque(token.data, static_cast<uint32_t>(token.length))) {
        return integrity ? rc::kMicFailed : rc::kSealFailed;
    }
    *outLen = w.count();
    return 0;
}

int unseal(const void* in, uint32_t inLen, RpcGssContext context, void* out, uint32_t* outLen) noexcept {
    const Mechanism* m = active();
    if (m == nullptr) return rc::kUnavailable;
    if (in == nullptr || context == nullptr || out == nullptr || outLen == nullptr) return rc::kNullArgument;
    Token clear;
    const Status s = m->unwrap(context, in, inLen, clear);
    if (s.major != kComplete) return rc::kUnsealFailed;
    if (clear.length > *outLen) return rc::kTooSmall;
    if (clear.length != 0) std::memcpy(out, clear.data, clear.length);
    *outLen = static_cast<uint32_t>(clear.length);
    return 0;
}

int micInto(RpcGssContext context, const void* data, uint32_t len, void* mic, uint32_t* micLen) noexcept {
    const Mechanism* m = active();
    if (m == nullptr) return rc::kUnavailable;
    if (micLen == nullptr || mic == nullptr || (data == nullptr && len != 0)) return rc::kNullArgument;
    uint32_t n = 0;
    const int r = getMic(*m, context, data, len, mic, *micLen, n);
    if (r == 0) *micLen = n;
    return r;
}

int checkMic(RpcGssContext context, const void* data, uint32_t len, const void* mic, uint32_t micLen) noexcept {
    const Mechanism* m = active();
    if (m == nullptr) return rc::kUnavailable;
    if ((data == nullptr && len != 0) || (mic == nullptr && micLen != 0)) return rc::kNullArgument;
    return verifyMic(*m, context, data, len, mic, micLen);
}

}  // namespace

AuthGssCred* recordOf(RpcOperation* op) noexcept {
    if (op == nullptr || op->auth == nullptr || op->auth->flavor != RPC_RPCSEC_GSS) return nullptr;
    return static_cast<AuthGssCred*>(op->auth->body);
}

int getMic(const Mechanism& m, RpcGssContext context, const void* data, uint32_t len, void* mic, uint32_t room,
           uint32_t& micLen) noexcept {
    Token token;
    const Status s = m.getMic(context, data, len, token);
    if (s.major != kComplete) return mapMajorStatus(s.major, rc::kMicFailed);
    if (token.length > room) return rc::kTooSmall;
    if (token.length != 0) std::memcpy(mic, token.data, token.length);
    micLen = static_cast<uint32_t>(token.length);
    return 0;
}

int verifyMic(const Mechanism& m, RpcGssContext context, const void* data, uint32_t len, const void* mic,
              uint32_t micLen) noexcept {
    const Status s = m.verifyMic(context, data, len, mic, micLen);
    switch (s.major) {
        case kComplete:
        // One supplementary bit alone: a good MIC that came again or out of
        // order, which RPC's own retransmissions produce.
        case kDuplicateToken:
        case kOldToken:
        case kUnseqToken:
        case kGapToken: return 0;
        case kBadSig: return rc::kBadMic;
        case kNoContext: return rc::kNoContext;
        default: return rc::kSetupFailed;
    }
}

bool onEstablishedContext(RpcOperation& op) noexcept {
    const AuthGssCred* c = recordOf(&op);
    return c != nullptr && c->gssProc != RPCSEC_GSS_PROC_INIT && c->gssProc != kProcContinueInit;
}

bool replyVerifierMatches(RpcOperation& op, const uint8_t* body, uint32_t length) noexcept {
    if (!onEstablishedContext(op)) return true;
    const AuthGssCred* c = recordOf(&op);
    const Mechanism* m = forProvider(c->provider);
    if (c->context == nullptr || m == nullptr) return false;
    uint8_t seq[4];
    wire::storeWord(seq, c->seqNum);
    return verifyMic(*m, c->context, seq, 4, body, length) == 0;
}

}  // namespace qelrpc::gss

using namespace qelrpc;
using namespace qelrpc::gss;

extern "C" {

int MIT_RPCSEC_GSS_EncryptBuffer(const void* in, uint32_t len, void* out, uint32_t* outLen, int service,
                                 uint32_t seqNum, RpcGssContext context) {
    return protect(in, len, out, outLen, service, seqNum, context);
}

int RPCSEC_GSS_EncryptBuffer(const void* in, uint32_t len, void* out, uint32_t* outLen, int service,
                             uint32_t seqNum, RpcGssContext context) {
    return protect(in, len, out, outLen, service, seqNum, context);
}

int RPCSEC_GSS_EncryptBufferEx(const void* in, uint32_t len, void* out, uint32_t* outLen, int service,
                               uint32_t seqNum, RpcOperation* op) {
    const AuthGssCred* c = recordOf(op);
    return c != nullptr ? protect(in, len, out, outLen, service, seqNum, c->context) : rc::kNoRecord;
}

int MIT_RPCSEC_GSS_DecryptBuffer(const void* in, uint32_t inLen, RpcGssContext context, void* out,
                                 uint32_t* outLen) {
    return unseal(in, inLen, context, out, outLen);
}

int RPCSEC_GSS_DecryptBuffer(const void* in, uint32_t inLen, RpcGssContext context, void* out, uint32_t* outLen) {
    return unseal(in, inLen, context, out, outLen);
}

int RPCSEC_GSS_DecryptBufferEx(const void* in, uint32_t inLen, RpcOperation* op, void* out, uint32_t* outLen) {
    const AuthGssCred* c = recordOf(op);
    return c != nullptr ? unseal(in, inLen, c->context, out, outLen) : rc::kNoRecord;
}

int MIT_RPCSEC_GSS_GetMIC(RpcGssContext context, const void* data, uint32_t len, void* mic, uint32_t* micLen) {
    return micInto(context, data, len, mic, micLen);
}

int RPCSEC_GSS_GetChecksum(RpcGssContext context, const void* data, uint32_t len, void* mic, uint32_t* micLen) {
    return micInto(context, data, len, mic, micLen);
}

int RPCSEC_GSS_GetMIC(RpcOperation* op, const void* data, uint32_t len, void* mic, uint32_t* micLen) {
    const AuthGssCred* c = recordOf(op);
    return c != nullptr ? micInto(c->context, data, len, mic, micLen) : rc::kNoRecord;
}

int MIT_RPCSEC_GSS_VerifyMIC(RpcGssContext context, const void* data, uint32_t len, const void* mic,
                             uint32_t micLen) {
    return checkMic(context, data, len, mic, micLen);
}

int RPCSEC_GSS_VerifyMIC(RpcOperation* op, const void* data, uint32_t len, const void* mic, uint32_t micLen) {
    const AuthGssCred* c = recordOf(op);
    return c != nullptr ? checkMic(c->context, data, len, mic, micLen) : rc::kNoRecord;
}

int RPCSEC_GSS_GetErrorMessage(RpcOperation* op, int, int) {
    if (op == nullptr || op->auth == nullptr || op->auth->flavor != RPC_RPCSEC_GSS) return rc::kNotGss;
    const auto* c = static_cast<const AuthGssCred*>(op->auth->body);
    if (c == nullptr) return rc::kNoRecord;
    const Mechanism* m = forProvider(c->provider);
    if (m == nullptr) return rc::kUnavailable;
    m->printStatus(c->majorStatus, c->minorStatus);
    return 0;
}

}  // extern "C"
