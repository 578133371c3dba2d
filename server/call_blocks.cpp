#include "server/call_blocks.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"
#include "rpc/flavor.h"
#include "rpc/operation.h"

namespace qelrpc::server {
namespace {

// How far into its block anything of `m` reaches: the end of the furthest
// of its three windows. A window outside the block means the whole block.
uint32_t usedExtent(const Mbuf& m) {
    const uint8_t* base = m.block.pos;
    uint64_t extent = m.block.count;
    for (const MbufCursor* c : {&m.header, &m.data}) {
        if (c->pos == nullptr) continue;
        if (c->pos < base || c->pos > base + RPC_MBUF_SIZE) return RPC_MBUF_SIZE;
        extent = std::max<uint64_t>(extent, static_cast<uint64_t>(c->pos - base) + c->count);
    }
    return static_cast<uint32_t>(std::min<uint64_t>(extent, RPC_MBUF_SIZE));
}

// Takes one block back from `m`: cleared and kept when it is still ours,
// else forgotten (the handler released it), and a block that is not ours
// goes back to the heap.
void takeBlock(Mbuf& m, uint8_t*& kept) {
    if (m.block.pos == kept && kept != nullptr) {
        std::memset(kept, 0, usedExtent(m));
    } else {
        if (m.block.pos != nullptr) heap::release(m.block.pos);
        kept = nullptr;
    }
    std::memset(&m, 0, sizeof m);
}

}  // namespace

CallBlocks::~CallBlocks() {
    heap::release(request_);
    heap::release(reply_);
}

int CallBlocks::lend(RpcOperation& op) {
    if (request_ == nullptr || reply_ == nullptr) {
        heap::release(request_);
        heap::release(reply_);
        request_ = reply_ = nullptr;
        const int rc = operation::init(op);
        if (rc != 0) return rc;
        request_ = op.request.block.pos;
        reply_ = op.reply.block.pos;
        return 0;
    }
    operation::attachBlock(op.request, request_);
    operation::attachBlock(op.reply, reply_);
    operation::resetCallFields(op);
    return 0;
}

void CallBlocks::takeBack(RpcOperation& op) {
    takeBlock(op.request, request_);
    takeBlock(op.reply, reply_);
    flavor::release(op.auth);
    op.auth = nullptr;
}

}  // namespace qelrpc::server
