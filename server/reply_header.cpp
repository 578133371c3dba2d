// The accepted-reply header the server side writes (RFC 5531 section 9),
// from the start of the reply block:
//
//   record mark (filled in when sent) | xid | REPLY (1) | MSG_ACCEPTED (0)
//   | verifier AUTH_NULL (0) | verifier length 0 | accept status
//   [| lowest version | highest version]   only for PROG_MISMATCH (2)
#include "qelrpc.h"
#include "server/server_status.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {
constexpr uint32_t kMsgReply = 1;
constexpr uint32_t kMsgAccepted = 0;
constexpr uint32_t kProgMismatch = 2;
}  // namespace

extern "C" {

int rpcCreateReplyHeader(RpcOperation* op, uint32_t xid, uint32_t acceptStatus, const uint32_t* versions) {
    if (op == nullptr) return server::status::kNullArgument;
    Mbuf& rep = op->reply;
    InitRpcHeaderBuffer(&rep);
    if (rep.block.pos == nullptr || rep.block.limit < 36) return server::status::kNullArgument;

    MbufCursor w{0, rep.block.limit, rep.block.pos};
    wire::putWord(w, 0);
    wire::putWord(w, xid);
    wire::putWord(w, kMsgReply);
    wire::putWord(w, kMsgAccepted);
    wire::putWord(w, 0);
    wire::putWord(w, 0);
    wire::putWord(w, acceptStatus);
    if (acceptStatus == kProgMismatch) {
        if (versions == nullptr) return server::status::kNoVersionPair;
        wire::putWord(w, versions[0]);
        wire::putWord(w, versions[1]);
    }
    rep.header.count = w.count;
    return 0;
}

}  // extern "C"
