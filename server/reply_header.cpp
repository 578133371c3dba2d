// SPDX-License-Identifier: MIT
// The reply headers the server side writes (RFC 5531 section 9), from the
// start of the reply block:
//
//   record mark (filled in when sent) | xid | REPLY (1) | MSG_ACCEPTED (0)
//   | verifier AUTH_NULL (0) | verifier length 0 | accept status
//   [| lowest version | highest version]   only for PROG_MISMATCH (2)
//
//   record mark | xid | REPLY (1) | MSG_DENIED (1) | RPC_MISMATCH (0) | 2 | 2
#include <initializer_list>

#include "rpc/operation.h"
#include "server/server.h"
#include "server/server_status.h"
#include "xdr/rpc_msg.h"
#include "xdr/wire.h"

namespace qelrpc::server {

using namespace rpcmsg;

int createReplyHeader(RpcOperation& op, uint32_t xid, uint32_t acceptStatus, const uint32_t* versions) noexcept {
    Mbuf& rep = op.reply;
    operation::initHeaderBuffer(rep);
    if (rep.block.pos == nullptr || rep.block.limit < 36) return status::kNullArgument;

    // The block holds the longest header (36 bytes): no write below fails.
    wire::Writer w(rep.header, 0);
    for (uint32_t v : {0u, xid, kMsgReply, kMsgAccepted, 0u, 0u, acceptStatus}) w.word(v);
    if (acceptStatus == kProgMismatch) {
        if (versions == nullptr) return status::kNoVersionPair;
        w.word(versions[0]);
        w.word(versions[1]);
    }
    rep.header.count = w.count();
    return 0;
}

void writeRpcMismatchHeader(Mbuf& rep, uint32_t xid) noexcept {
    // Without a block the writer writes nothing, and ReplyRPC refuses it.
    wire::Writer w(MbufCursor{0, rep.block.limit, rep.block.pos}, 0);
    for (uint32_t v : {0u, xid, kMsgReply, kMsgDenied, kRpcMismatch, kRpcVersion, kRpcVersion}) w.word(v);
    rep.header.pos = rep.block.pos;
    rep.header.count = w.count();
    rep.data.count = 0;
}

}  // namespace qelrpc::server

extern "C" int rpcCreateReplyHeader(RpcOperation* op, uint32_t xid, uint32_t acceptStatus, const uint32_t* versions) {
    if (op == nullptr) return qelrpc::server::status::kNullArgument;
    return qelrpc::server::createReplyHeader(*op, xid, acceptStatus, versions);
}
