// Sending a reply as one TCP record: the mark in front of the header says
// "last fragment" and the length of everything behind it.
#include "qelrpc.h"
#include "server/record_io.h"
#include "server/server_status.h"
#include "xdr/wire.h"

using namespace qelrpc;

extern "C" {

int ReplyRPC(RpcOperation* op, RpcSocket connection) {
    if (op == nullptr) return server::status::kSendFailed;
    Mbuf& rep = op->reply;
    const uint64_t total = uint64_t{rep.header.count} + rep.data.count;
    if (rep.block.pos == nullptr || total < 4 || total > rep.block.limit) return server::status::kSendFailed;
    wire::storeWord(rep.block.pos, wire::lastFragmentMark(static_cast<uint32_t>(total - 4)));
    if (server::sendAll(connection, rep.block.pos, static_cast<uint32_t>(total)) == 0) return 0;
    server::noteReplyFailed(connection);
    return server::status::kSendFailed;
}

}  // extern "C"
