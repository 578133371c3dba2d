// The RPC call header (RFC 5531 section 9), written as big-endian words into
// the front of the request block:
//
//   0  record-mark slot (holds the header length; TCP overwrites it)
//   4  xid            8  CALL (0)       12 RPC version (2)
//   16 prog           20 vers           24 proc
//   28 cred flavor    32 cred length    36 cred body ...
//   then verifier flavor, verifier length, verifier body.
#include <cstring>

#include "auth/flavor_writers.h"
#include "qelrpc.h"
#include "rpc/status.h"
#include "rpc/xid.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {

constexpr uint32_t kMsgCall = 0;
constexpr uint32_t kRpcVersion = 2;
constexpr uint32_t kFixedHeaderBytes = 44;  // mark slot, 8 words, 2 verifier words
constexpr uint32_t kCredBodyOffset = 36;

// The AUTH_UNIX body and its AUTH_NULL-style verifier words; the body is
// bounded by the credential record (a name of at most 512 characters), so
// it always fits the block.
int writeAuthUnixCred(RpcOperation& op, uint8_t* p, const uint8_t* end) {
    RpcAuth* a = op.auth;
    if (a == nullptr || a->flavor != RPC_AUTH_UNIX || a->body == nullptr) return status::kInvalidParameter;
    const auto* c = static_cast<const AuthUnixCred*>(a->body);
    const uint32_t n = static_cast<uint32_t>(strnlen(c->machineName, RPC_AUTHUNIX_MACHINE_MAX));
    const uint64_t need = 4 + 4 + wire::padded(n) + 16 + 8;
    if (need > static_cast<uint64_t>(end - p)) return status::kInvalidParameter;
    MbufCursor w{0, static_cast<uint32_t>(end - p), p};
    wire::putWord(w, c->stamp);
    wire::putWord(w, n);
    wire::putPaddedBytes(w, c->machineName, n);
    wire::putWord(w, c->uid);
    wire::putWord(w, c->gid);
    wire::putWord(w, 1);
    wire::putWord(w, c->gid);
    wire::putWord(w, a->verfFlavor);
    wire::putWord(w, a->verfLength);
    a->credLength = static_cast<uint32_t>(24 + wire::padded(n));
    return status::kOk;
}

}  // namespace

extern "C" {

int rpcPrepareRPCHeader(RpcOperation* op, uint32_t proc) {
    if (op == nullptr) return status::kHeaderNullOperation;
    op->proc = proc;
    Mbuf& req = op->request;
    InitRpcHeaderBuffer(&req);
    const uint32_t xid = xid::take();
    if (req.block.pos == nullptr || req.block.limit < kFixedHeaderBytes) return status::kHeaderNullOperation;
    if (op->auth == nullptr) return status::kNullRecord;

    uint8_t* const base = req.block.pos;
    const uint8_t* const end = base + req.block.limit;
    uint8_t* const body = base + kCredBodyOffset;

    // The call words go in first: a verifier over the header (RPCSEC_GSS)
    // signs them.
    wire::storeWord(base + 4, xid);
    wire::storeWord(base + 8, kMsgCall);
    wire::storeWord(base + 12, kRpcVersion);
    wire::storeWord(base + 16, op->prog);
    wire::storeWord(base + 20, op->vers);
    wire::storeWord(base + 24, proc);
    wire::storeWord(base + 28, op->auth->flavor);

    int rc = status::kOk;
    switch (op->auth->flavor) {
        case RPC_AUTH_NULL:
            wire::storeWord(body, op->auth->verfFlavor);
            wire::storeWord(body + 4, op->auth->verfLength);
            break;
        case RPC_AUTH_UNIX: rc = writeAuthUnixCred(*op, body, end); break;
        case RPC_AUTH_DES: rc = auth::writeAuthDesCred(*op, body, end); break;
        case RPC_RPCSEC_GSS: rc = auth::writeRpcsecGssCred(*op, body, end); break;
        default: rc = status::kInvalidParameter; break;
    }
    if (rc != status::kOk) return rc;

    const RpcAuth& a = *op->auth;
    const uint64_t length = uint64_t{kFixedHeaderBytes} + a.credLength + a.verfLength;
    if (length > req.block.limit) return status::kInvalidParameter;

    // The credential length comes last: a flavor writer may change it
    // (AUTH_DES moves between full name and nickname).
    wire::storeWord(base + 32, a.credLength);
    req.header.count = static_cast<uint32_t>(length);
    wire::storeWord(base, req.header.count);
    return status::kOk;
}

int rpcPrepareRPCBroadcastHeader(RpcOperation* op, uint32_t prog, uint32_t vers, uint32_t proc, uint16_t port) {
    if (op == nullptr) return status::kHeaderNullOperation;
    op->prog = prog;
    op->vers = vers;
    op->udpPort = port;
    op->tcpPort = 0;
    op->protocol = RPC_PROTOCOL_UDP_ONLY;
    return rpcPrepareRPCHeader(op, proc);
}

}  // extern "C"
