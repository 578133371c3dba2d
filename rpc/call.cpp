// SPDX-License-Identifier: MIT
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
#include "rpc/call.h"

#include <cstdint>

#include "qelrpc.h"
#include "rpc/exchange.h"
#include "rpc/flavor.h"
#include "rpc/operation.h"
#include "rpc/received_reply.h"
#include "rpc/status.h"
#include "xdr/rpc_msg.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {

using namespace qelrpc::rpcmsg;

// accept_stat values above this cannot be reported as -4 - n in an int.
constexpr uint32_t kLargestReportableAcceptStat = 0x7FFFFFFBu;

bool resolved(uint32_t a) { return a != 0 && a != 0xFFFFFFFFu; }

int checkReply(RpcOperation& op) {
    Mbuf& reply = op.reply;
    const uint32_t length = reply.block.count < reply.block.limit ? reply.block.count : reply.block.limit;
    operation::initHeaderBuffer(reply);
    reply.header.count = length;
    wire::Reader r(reply.block.pos, length);

    r.word();  // xid, not compared: the exchange already matched it where it could
    const uint32_t type = r.word();
    if (!r.ok()) return status::kReplyMalformed;
    if (type != kMsgReply) return status::kReplyNotReply;
    const uint32_t replyStat = r.word();
    if (!r.ok()) return status::kReplyMalformed;

    if (replyStat != kMsgAccepted) {
        const uint32_t rejectStat = r.word();
        if (!r.ok()) return status::kReplyMalformed;
        op.rejectStat = rejectStat;
        if (rejectStat == kRpcMismatch) return status::kReplyRpcMismatch;
        if (rejectStat == kAuthError) {
            const uint32_t authStat = r.word();
            if (!r.ok()) return status::kReplyMalformed;
            op.authStat = authStat;
            return status::kReplyAuthError;
        }
        op.authStat = 0;
        return status::kReplyMalformed;
    }

    // Every flavor's body is skipped by its length, AUTH_NULL's included
    // (RFC 5531 section 8.2 lets it carry one), up to an opaque_auth's 400.
    const wire::OpaqueAuth verifier = r.opaqueAuth();
    if (!r.ok()) return status::kReplyMalformed;
    const int verified = flavor::checkReplyVerifier(op, verifier);
    if (verified != status::kOk) return verified;

    const uint32_t acceptStat = r.word();
    if (!r.ok()) return status::kReplyMalformed;
    op.acceptStat = acceptStat;
    reply.data.pos = r.window().pos;
    reply.data.count = r.remaining();
    reply.data.limit = r.remaining();
    if (acceptStat == kSuccess) return status::kOk;
    if (acceptStat > kLargestReportableAcceptStat) return status::kReplyMalformed;
    return status::kReplyAcceptBase - static_cast<int>(acceptStat);
}

}  // namespace

namespace qelrpc::rpc {

int processResponse(RpcOperation& op) noexcept {
    if (op.reply.block.pos == nullptr) return status::kReplyMalformed;
    // Readers handed only a pointer into this reply take their bound from it.
    received::noteReply(op.reply);
    return checkReply(op);
}

int callRpc(RpcOperation& op, int /*reserved*/) noexcept {
    if (op.tcpPort == 0 && op.udpPort == 0) return status::kCallNoPorts;
    int rc;
    if (usablePort(op.tcpPort)) {
        rc = exchange::tcpExchange(op);  // TCP whenever its port is known
    } else if (usablePort(op.udpPort)) {
        rc = exchange::udpExchange(op);
    } else {
        // No exchange took place: whatever the reply block still holds (a
        // portmapper's answer, say) is not this call's reply.
        return status::kCallNoUsablePort;
    }
    if (rc != status::kOk) return rc;
    return processResponse(op);
}

int callProgram(RpcOperation& op, int reserved) noexcept {
    if (!resolved(op.hostAddr)) return status::kCallUnresolved;
    if (!usablePort(op.tcpPort) && !usablePort(op.udpPort)) return status::kCallNoUsablePort;
    return callRpc(op, reserved);
}

}  // namespace qelrpc::rpc

extern "C" {

int ProcessRPCResponse(RpcOperation* op) { return op != nullptr ? rpc::processResponse(*op) : status::kReplyMalformed; }

int CallRPC(RpcOperation* op, int reserved) {
    return op != nullptr ? rpc::callRpc(*op, reserved) : status::kNullRecord;
}

int rpcCallRPCProgram(RpcOperation* op, int reserved) {
    return op != nullptr ? rpc::callProgram(*op, reserved) : status::kNullRecord;
}

}  // extern "C"
