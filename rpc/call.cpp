// The call driver and the reply check.
//
// A reply (RFC 5531 section 9), as read from the start of the reply block:
//
//   xid | REPLY (1) | reply_stat
//     MSG_DENIED (1):   reject_stat | RPC_MISMATCH (0): low, high
//                                   | AUTH_ERROR (1):   auth_stat
//     MSG_ACCEPTED (0): verifier flavor | verifier length | verifier body
//                       | accept_stat | results ...
//
// Every word is taken through a window bounded by the bytes received, so a
// short reply is refused, never read past its end.
#include <cstdint>

#include "auth/des_reply.h"
#include "auth/gss_protect.h"
#include "qelrpc.h"
#include "rpc/received_reply.h"
#include "rpc/status.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {

constexpr uint32_t kMsgReply = 1;
constexpr uint32_t kMsgAccepted = 0;
constexpr uint32_t kRpcMismatch = 0;
constexpr uint32_t kAuthError = 1;
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kAuthDesVerifierTimestamp = 8;
constexpr uint32_t kAuthDesVerifierLength = 12;
// accept_stat values above this cannot be reported as -4 - n in an int.
constexpr uint32_t kLargestReportableAcceptStat = 0x7FFFFFFBu;

bool usablePort(uint16_t p) { return p != 0 && p != 0xFFFF; }
bool resolved(uint32_t a) { return a != 0 && a != 0xFFFFFFFFu; }

bool nextWord(MbufCursor& r, uint32_t& v) {
    const uint8_t* p = wire::take(r, 4);
    if (p == nullptr) return false;
    v = wire::loadWord(p);
    return true;
}

// The verifier an accepted reply must carry, by the call's credential.
enum class Expect {
    Any,       // AUTH_NULL, AUTH_UNIX and others: nothing to authenticate
    AuthDes,   // AUTH_DES: the server's AUTH_DES verifier
    GssMic,    // RPCSEC_GSS past the set-up: the MIC of the sequence number
    GssSetUp,  // RPCSEC_GSS set-up: AUTH_NULL, or the window's MIC when complete
};

Expect expectedVerifier(RpcOperation& op) {
    if (op.auth == nullptr) return Expect::Any;
    if (op.auth->flavor == RPC_AUTH_DES) return Expect::AuthDes;
    if (op.auth->flavor == RPC_RPCSEC_GSS) return gss::onEstablishedContext(op) ? Expect::GssMic : Expect::GssSetUp;
    return Expect::Any;
}

int checkReply(RpcOperation& op) {
    Mbuf& reply = op.reply;
    const uint32_t length = reply.block.count < reply.block.limit ? reply.block.count : reply.block.limit;
    InitRpcHeaderBuffer(&reply);
    reply.header.count = length;
    MbufCursor r{length, length, reply.block.pos};

    uint32_t xid = 0, type = 0, replyStat = 0;
    (void)xid;  // not compared: the exchange already matched it where it could
    if (!nextWord(r, xid) || !nextWord(r, type)) return status::kReplyMalformed;
    if (type != kMsgReply) return status::kReplyNotReply;
    if (!nextWord(r, replyStat)) return status::kReplyMalformed;

    if (replyStat != kMsgAccepted) {
        uint32_t rejectStat = 0;
        if (!nextWord(r, rejectStat)) return status::kReplyMalformed;
        op.rejectStat = rejectStat;
        if (rejectStat == kRpcMismatch) return status::kReplyRpcMismatch;
        if (rejectStat == kAuthError) {
            uint32_t authStat = 0;
            if (!nextWord(r, authStat)) return status::kReplyMalformed;
            op.authStat = authStat;
            return status::kReplyAuthError;
        }
        op.authStat = 0;
        return status::kReplyMalformed;
    }

    uint32_t verfFlavor = 0, verfLength = 0;
    if (!nextWord(r, verfFlavor) || !nextWord(r, verfLength)) return status::kReplyMalformed;
    // Every flavor's body is skipped by its length, AUTH_NULL's included
    // (RFC 5531 section 8.2 lets it carry one), up to an opaque_auth's 400.
    if (verfLength > RPC_MAX_AUTH_BYTES) return status::kReplyMalformed;
    const uint8_t* body = wire::take(r, wire::padded(verfLength));
    if (body == nullptr) return status::kReplyMalformed;
    // An AUTH_DES or RPCSEC_GSS call is answered by its server with that
    // flavor's verifier; an AUTH_NULL one can come from anyone, so it
    // authenticates nobody.
    switch (expectedVerifier(op)) {
        case Expect::AuthDes:
            if (verfFlavor != RPC_AUTH_DES) return status::kReplyNoFlavorVerifier;
            break;
        case Expect::GssMic:
            if (verfFlavor != RPC_RPCSEC_GSS) return status::kReplyNoFlavorVerifier;
            break;
        case Expect::GssSetUp:
            if (verfFlavor != RPC_AUTH_NULL && verfFlavor != RPC_RPCSEC_GSS) return status::kReplyNoFlavorVerifier;
            break;
        case Expect::Any:
            if (verfFlavor != RPC_AUTH_NULL && verfFlavor != RPC_AUTH_DES && verfFlavor != RPC_RPCSEC_GSS)
                return status::kReplyMalformed;
            break;
    }
    switch (verfFlavor) {
        case RPC_AUTH_DES: {
            // The encrypted timestamp and the nickname (RFC 1057 section
            // 9.3.2: authdes_verf_svr), nothing else.
            if (verfLength != kAuthDesVerifierLength) return status::kReplyAuthError;
            if (!auth::checkAuthDesReplyVerifier(op, body)) return status::kReplyAuthError;
            auth::useAuthDesNickname(op, wire::loadWord(body + kAuthDesVerifierTimestamp));
            break;
        }
        case RPC_RPCSEC_GSS:
            // A reply to an established context's call carries the MIC of
            // the call's sequence number (RFC 2203 section 5.3.3.2); set-up
            // replies are checked by the set-up itself.
            if (!gss::replyVerifierMatches(op, body, verfLength)) return status::kReplyAuthError;
            break;
        default:
            break;
    }

    uint32_t acceptStat = 0;
    if (!nextWord(r, acceptStat)) return status::kReplyMalformed;
    op.acceptStat = acceptStat;
    reply.data.pos = r.pos;
    reply.data.count = r.count;
    reply.data.limit = r.count;
    if (acceptStat == kSuccess) return status::kOk;
    if (acceptStat > kLargestReportableAcceptStat) return status::kReplyMalformed;
    return status::kReplyAcceptBase - static_cast<int>(acceptStat);
}

}  // namespace

extern "C" {

int ProcessRPCResponse(RpcOperation* op) {
    if (op == nullptr || op->reply.block.pos == nullptr) return status::kReplyMalformed;
    // Readers handed only a pointer into this reply take their bound from it.
    received::noteReply(op->reply);
    return checkReply(*op);
}

int CallRPC(RpcOperation* op, int reserved) {
    if (op == nullptr) return status::kNullRecord;
    if (op->tcpPort == 0 && op->udpPort == 0) return status::kCallNoPorts;
    int rc;
    if (usablePort(op->tcpPort)) {
        rc = DoTCPRPCGram(op);  // TCP whenever its port is known
    } else if (usablePort(op->udpPort)) {
        rc = DoUDPRPCGram(op, reserved);
    } else {
        // No exchange took place: whatever the reply block still holds (a
        // portmapper's answer, say) is not this call's reply.
        return status::kCallNoUsablePort;
    }
    if (rc != status::kOk) return rc;
    return ProcessRPCResponse(op);
}

int rpcCallRPCProgram(RpcOperation* op, int reserved) {
    if (op == nullptr) return status::kNullRecord;
    if (!resolved(op->hostAddr)) return status::kCallUnresolved;
    if (!usablePort(op->tcpPort) && !usablePort(op->udpPort)) return status::kCallNoUsablePort;
    return CallRPC(op, reserved);
}

}  // extern "C"
