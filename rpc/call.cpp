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
    switch (verfFlavor) {
        case RPC_AUTH_NULL:
            break;
        case RPC_AUTH_DES: {
            // Always 12 bytes: the encrypted timestamp and the nickname.
            const uint8_t* stamp = wire::take(r, kAuthDesVerifierTimestamp);
            if (stamp == nullptr) return status::kReplyMalformed;
            if (!auth::checkAuthDesReplyVerifier(op, stamp)) return status::kReplyAuthError;
            uint32_t nickname = 0;
            if (!nextWord(r, nickname)) return status::kReplyMalformed;
            auth::useAuthDesNickname(op, nickname);
            break;
        }
        case RPC_RPCSEC_GSS: {
            // A reply to an established context's call carries the MIC of
            // the call's sequence number (RFC 2203 section 5.3.3.2); set-up
            // replies are checked by the set-up itself.
            const uint8_t* body = wire::take(r, wire::padded(verfLength));
            if (body == nullptr) return status::kReplyMalformed;
            if (!gss::replyVerifierMatches(op, body, verfLength)) return status::kReplyAuthError;
            break;
        }
        default:
            return status::kReplyMalformed;
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
