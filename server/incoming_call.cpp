// SPDX-License-Identifier: MIT
// The check of an incoming CALL header (RFC 5531 section 9), read from the
// start of the request block and bounded by the bytes received:
//
//   xid | CALL (0) | RPC version (2) | prog | vers | proc
//   | cred flavor | cred length Lc | cred body, padded to 4
//   | verf flavor | verf length Lv | verf body, padded to 4 | arguments ...
//
// Credentials and verifiers are skipped, not examined: the server side does
// no authentication (and sets no bound on their bodies beyond the call's).
#include "server/server.h"
#include "server/server_status.h"
#include "xdr/rpc_msg.h"
#include "xdr/wire.h"

namespace qelrpc::server {

using namespace rpcmsg;

int processCall(RpcOperation& op, uint32_t& xid) noexcept {
    Mbuf& req = op.request;
    req.header.pos = req.block.pos;
    if (req.block.pos == nullptr) return status::kNullArgument;

    // The received bytes bound every read; a count beyond the block is
    // clamped to it.
    const uint32_t received = req.block.count <= req.block.limit ? req.block.count : req.block.limit;
    wire::Reader r(req.block.pos, received);

    const uint32_t first = r.word();
    if (!r.ok()) return status::kShortCall;
    xid = first;
    const uint32_t type = r.word();
    const uint32_t version = r.word();
    if (!r.ok()) return status::kShortCall;
    if (type != kMsgCall) return status::kNotACall;
    if (version != kRpcVersion) return status::kBadRpcVersion;
    const uint32_t prog = r.word(), vers = r.word(), proc = r.word();
    for (int i = 0; i < 2; ++i) {  // credential, verifier
        r.word();
        r.opaque();
    }
    if (!r.ok()) return status::kShortCall;

    op.prog = prog;
    op.vers = vers;
    op.proc = proc;
    req.header.count = received - r.remaining();
    req.data.pos = r.window().pos;
    req.data.count = r.remaining();
    return 0;
}

}  // namespace qelrpc::server

extern "C" int ProcessRPCCall(RpcOperation* op, uint32_t* xid) {
    if (op == nullptr || xid == nullptr) return qelrpc::server::status::kNullArgument;
    return qelrpc::server::processCall(*op, *xid);
}
