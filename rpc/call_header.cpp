// SPDX-License-Identifier: MIT
// The RPC call header (RFC 5531 section 9), written as big-endian words into
// the front of the request block:
//
//   0  record-mark slot (holds the header length; TCP overwrites it)
//   4  xid            8  CALL (0)       12 RPC version (2)
//   16 prog           20 vers           24 proc
//   28 cred flavor    32 cred length    36 cred body ...
//   then verifier flavor, verifier length, verifier body.
#include "rpc/call_header.h"

#include <initializer_list>

#include "qelrpc.h"
#include "rpc/flavor.h"
#include "rpc/operation.h"
#include "rpc/status.h"
#include "rpc/xid.h"
#include "xdr/rpc_msg.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {

using namespace qelrpc::rpcmsg;

constexpr uint32_t kFixedHeaderBytes = 44;  // mark slot, 8 words, 2 verifier words

}  // namespace

namespace qelrpc::rpc {

int prepareHeader(RpcOperation& op, uint32_t proc) noexcept {
    op.proc = proc;
    Mbuf& req = op.request;
    operation::initHeaderBuffer(req);
    const uint32_t xid = xid::take();
    if (req.block.pos == nullptr || req.block.limit < kFixedHeaderBytes) return status::kHeaderNullOperation;
    if (op.auth == nullptr) return status::kNullRecord;

    // The call words go in first: a verifier over the header (RPCSEC_GSS)
    // signs them. The block holds the fixed header, so none is refused.
    wire::Writer w(MbufCursor{0, req.block.limit, req.block.pos}, 0);
    uint8_t* const mark = w.reserve(4);
    for (uint32_t v : {xid, kMsgCall, kRpcVersion, op.prog, op.vers, proc, op.auth->flavor}) w.word(v);
    uint8_t* const credLength = w.reserve(4);
    const int rc = flavor::writeCredential(op, w.window().pos, req.block.pos + req.block.limit);
    if (rc != status::kOk) return rc;

    const RpcAuth& a = *op.auth;
    const uint64_t length = uint64_t{kFixedHeaderBytes} + a.credLength + a.verfLength;
    if (length > req.block.limit) return status::kInvalidParameter;

    // The credential length comes last: a flavor writer may change it
    // (AUTH_DES moves between full name and nickname).
    wire::storeWord(credLength, a.credLength);
    req.header.count = static_cast<uint32_t>(length);
    wire::storeWord(mark, req.header.count);
    return status::kOk;
}

int prepareBroadcastHeader(RpcOperation& op, uint32_t prog, uint32_t vers, uint32_t proc, uint16_t port) noexcept {
    op.prog = prog;
    op.vers = vers;
    op.udpPort = port;
    op.tcpPort = 0;
    op.protocol = RPC_PROTOCOL_UDP_ONLY;
    return prepareHeader(op, proc);
}

}  // namespace qelrpc::rpc

extern "C" {

int rpcPrepareRPCHeader(RpcOperation* op, uint32_t proc) {
    return op != nullptr ? rpc::prepareHeader(*op, proc) : status::kHeaderNullOperation;
}

int rpcPrepareRPCBroadcastHeader(RpcOperation* op, uint32_t prog, uint32_t vers, uint32_t proc, uint16_t port) {
    return op != nullptr ? rpc::prepareBroadcastHeader(*op, prog, vers, proc, port) : status::kHeaderNullOperation;
}

}  // extern "C"
